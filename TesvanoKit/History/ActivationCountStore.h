#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "Platform/Defaults/Defaults.h"

namespace tesvano {

// How many times the program has switched the input source, kept in the user's defaults.
// Safe to use from any thread, provided nothing else touches `defaults` at the same time:
// the defaults object has no lock of its own, so every access made here holds this one.
class ActivationCountStore {
public:
    ActivationCountStore(platform::Defaults& defaults, std::string key)
        : defaults_(defaults), key_(std::move(key)) {}

    // The stored count; 0 when nothing (or nothing numeric) is stored.
    std::int64_t value() const;

    // Adds one and returns the new count. A count at the largest integer stays there.
    std::int64_t increment();

    const std::string& key() const { return key_; }

private:
    std::int64_t read() const;

    platform::Defaults& defaults_;
    std::string key_;
    mutable std::mutex mutex_;
};

}  // namespace tesvano
