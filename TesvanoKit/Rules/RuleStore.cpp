#include "TesvanoKit/Rules/RuleStore.h"

#include "Platform/Log/Log.h"

namespace tesvano {

namespace {
const platform::Logger& log() {
    static const platform::Logger logger("RuleStore");
    return logger;
}
}  // namespace

LockConfiguration RuleStore::load() {
    const auto data = defaults_.data(key_);
    if (!data) {
        return LockConfiguration::defaultConfiguration();
    }
    const std::string_view text(reinterpret_cast<const char*>(data->data()), data->size());
    auto decoded = decodeConfiguration(text);
    if (decoded) {
        return std::move(*decoded);
    }
    // Keep the undecodable rules where the next save cannot reach them.
    const auto kept = defaults_.data(unreadableKey());
    if (!kept || *kept != *data) {
        defaults_.set(unreadableKey(), platform::DefaultsValue(*data));
    }
    log().warning(
        "Stored configuration under %{public}s could not be read (%{public}s); using "
        "the default configuration, the stored bytes are kept under %{public}s",
        key_, decoded.error().message, unreadableKey());
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
