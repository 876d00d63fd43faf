#include "TesvanoKit/Rules/RuleStore.h"

#include "Platform/Log/Log.h"

namespace tesvano {

namespace {
const platform::Logger& log() {
    static const platform::Logger logger("RuleStore");
    return logger;
}
}  // namespace

void RuleStore::keepAside(const platform::DefaultsValue& value, const std::string& why,
                          bool report) {
    // Where the next save cannot reach it.
    const auto kept = defaults_.value(unreadableKey());
    if (!kept || *kept != value) {
        defaults_.set(unreadableKey(), value);
    }
    if (!report) {
        return;
    }
    log().warning(
        "Stored configuration under %{public}s could not be read (%{public}s); using "
        "the default configuration, the stored value is kept under %{public}s",
        key_, why, unreadableKey());
}

LockConfiguration RuleStore::load() {
    return load(true);
}

void RuleStore::rewriteAsStartWould() {
    save(load(false));
}

LockConfiguration RuleStore::load(bool report) {
    const auto value = defaults_.value(key_);
    if (!value) {
        return LockConfiguration::defaultConfiguration();
    }
    const auto data = value->asData();
    if (!data) {
        keepAside(*value, "it is no data value", report);
        return LockConfiguration::defaultConfiguration();
    }
    const std::string_view text(reinterpret_cast<const char*>(data->data()), data->size());
    auto decoded = decodeConfiguration(text);
    if (decoded) {
        return std::move(*decoded);
    }
    keepAside(*value, decoded.error().message, report);
    return LockConfiguration::defaultConfiguration();
}

bool RuleStore::hasStoredConfiguration() const {
    return defaults_.data(key_).has_value();
}

void RuleStore::save(const LockConfiguration& configuration) {
    const std::string text = encodeConfiguration(configuration);
    defaults_.set(key_, platform::DefaultsValue::data(text));
}

}  // namespace tesvano
