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

    // The stored configuration, or the default one when nothing usable is stored. A stored
    // value that does not decode (bytes that are no configuration, or a value of another
    // kind) is first copied to "<key>.unreadable" and reported, so that a later save cannot
    // destroy the user's rules without a trace.
    LockConfiguration load();

    // True when a data value is stored under the key, whether or not it decodes.
    bool hasStoredConfiguration() const;

    void save(const LockConfiguration& configuration);

    // What a start does to the stored values (the configuration written back in its current
    // form, a value that does not decode kept aside), without a word in the log: for
    // judging, before the start, whether the settings file can take it.
    void rewriteAsStartWould();

    // The key the program keeps its configuration under.
    static constexpr const char* standardKey = "lockConfiguration";
    // rewriteAsStartWould on the program's own key: the settings file's start rewrite.
    static void rewriteStandardAsStartWould(platform::Defaults& values) {
        RuleStore(values, standardKey).rewriteAsStartWould();
    }

    const std::string& key() const { return key_; }
    std::string unreadableKey() const { return key_ + ".unreadable"; }

private:
    LockConfiguration load(bool report);
    void keepAside(const platform::DefaultsValue& value, const std::string& why, bool report);

    platform::Defaults& defaults_;
    std::string key_;
};

}  // namespace tesvano
