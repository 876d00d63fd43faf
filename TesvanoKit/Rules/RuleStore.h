#pragma once

#include <string>

#include "Platform/Defaults/Defaults.h"
#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

// Keeps the configuration in the user's defaults as JSON data under one key.
class RuleStore {
public:
    RuleStore(platform::Defaults& defaults, std::string key)
        : defaults_(defaults), key_(std::move(key)) {}

    // The stored configuration, or the default one when nothing usable is stored. Stored
    // bytes that do not decode are first copied to "<key>.unreadable" so that a later save
    // cannot destroy the user's rules without a trace.
    LockConfiguration load();

    // True when a data value is stored under the key, whether or not it decodes.
    bool hasStoredConfiguration() const;

    void save(const LockConfiguration& configuration);

    const std::string& key() const { return key_; }
    std::string unreadableKey() const { return key_ + ".unreadable"; }

private:
    platform::Defaults& defaults_;
    std::string key_;
};

}  // namespace tesvano
