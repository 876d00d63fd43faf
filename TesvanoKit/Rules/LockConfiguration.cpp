#include "TesvanoKit/Rules/LockConfiguration.h"

#include "Platform/Defaults/Defaults.h"
#include "Platform/Defaults/JsonDepth.h"

namespace tesvano {

namespace {

using json = OrderedJSON;

std::unexpected<DecodeError> failure(std::string_view key, std::string_view what) {
    return std::unexpected(DecodeError{std::string(key) + ": " + std::string(what)});
}

template <typename J>
std::string_view typeName(const J& j) {
    using Type = nlohmann::detail::value_t;
    switch (j.type()) {
        case Type::null:
            return "null";
        case Type::boolean:
            return "a boolean";
        case Type::string:
            return "a string";
        case Type::array:
            return "an array";
        case Type::object:
            return "an object";
        case Type::number_integer:
        case Type::number_unsigned:
        case Type::number_float:
            return "a number";
        default:
            return "an unsupported value";
    }
}

// A key that is missing or null reads as none; any other value must have the right type.
// nlohmann's get<> converts between numbers and booleans, so types are checked explicitly.
template <typename J>
std::expected<std::optional<bool>, DecodeError> optionalBool(const J& object,
                                                             std::string_view key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    if (!it->is_boolean())
        return failure(key, "expected a boolean, found " + std::string(typeName(*it)));
    return it->template get<bool>();
}

template <typename J>
std::expected<std::optional<std::string>, DecodeError> optionalString(const J& object,
                                                                      std::string_view key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    if (!it->is_string())
        return failure(key, "expected a string, found " + std::string(typeName(*it)));
    return it->template get<std::string>();
}

template <typename J>
std::expected<std::string, DecodeError> requiredString(const J& object, std::string_view key) {
    auto value = optionalString(object, key);
    if (!value)
        return std::unexpected(value.error());
    if (!*value)
        return failure(key, "missing");
    return **value;
}

template <typename T, typename J, typename Decode>
std::expected<std::vector<T>, DecodeError> optionalList(const J& object, std::string_view key,
                                                        Decode decode) {
    std::vector<T> out;
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return out;
    if (!it->is_array())
        return failure(key, "expected an array, found " + std::string(typeName(*it)));
    for (std::size_t i = 0; i < it->size(); ++i) {
        auto element = decode((*it)[i]);
        if (!element) {
            return std::unexpected(DecodeError{std::string(key) + "[" + std::to_string(i) + "]." +
                                               element.error().message});
        }
        out.push_back(std::move(*element));
    }
    return out;
}

}  // namespace

const LockConfiguration& LockConfiguration::defaultConfiguration() {
    static const LockConfiguration initial{};
    return initial;
}

const AppRule* LockConfiguration::appRule(std::string_view appId) const {
    for (const auto& rule : appRules) {
        if (rule.appId == appId)
            return &rule;
    }
    return nullptr;
}

OrderedJSON toJSON(const InputSourceID& id) {
    return id.rawValue;
}

// An app rule's appId is stored under its historical field name "bundleID", both ways.
OrderedJSON toJSON(const AppRule& rule) {
    json j = json::object();
    j["bundleID"] = rule.appId;
    j["mode"] = rawValue(rule.mode);
    if (rule.lockedSourceID)
        j["lockedSourceID"] = rule.lockedSourceID->rawValue;
    return j;
}

OrderedJSON toJSON(const URLRule& rule) {
    json j = json::object();
    j["id"] = rule.id.string();
    j["hostPattern"] = rule.hostPattern;
    j["lockedSourceID"] = rule.lockedSourceID.rawValue;
    j["action"] = rawValue(rule.action);
    j["matchType"] = rawValue(rule.matchType);
    return j;
}

OrderedJSON toJSON(const LockConfiguration& c) {
    json j = json::object();
    j["isEnabled"] = c.isEnabled;
    if (c.defaultSourceID)
        j["defaultSourceID"] = c.defaultSourceID->rawValue;
    j["defaultAction"] = rawValue(c.defaultAction);
    j["appRules"] = json::array();
    for (const auto& rule : c.appRules)
        j["appRules"].push_back(toJSON(rule));
    j["enhancedModeEnabled"] = c.enhancedModeEnabled;
    j["urlRules"] = json::array();
    for (const auto& rule : c.urlRules)
        j["urlRules"].push_back(toJSON(rule));
    j["addressBarFocusEnabled"] = c.addressBarFocusEnabled;
    j["addressBarAction"] = rawValue(c.addressBarAction);
    if (c.addressBarSourceID)
        j["addressBarSourceID"] = c.addressBarSourceID->rawValue;
    j["addressBarOutranksURLRules"] = c.addressBarOutranksURLRules;
    j["revertsInSecureInput"] = c.revertsInSecureInput;
    return j;
}

std::expected<InputSourceID, DecodeError> inputSourceIDFromJSON(const OrderedJSON& j) {
    if (!j.is_string()) {
        return std::unexpected(DecodeError{"expected a string, found " + std::string(typeName(j))});
    }
    return InputSourceID(j.get<std::string>());
}

namespace {

template <typename J>
std::expected<AppRule, DecodeError> appRuleFrom(const J& j) {
    if (!j.is_object()) {
        return std::unexpected(
            DecodeError{"expected an object, found " + std::string(typeName(j))});
    }
    AppRule rule;
    auto appId = requiredString(j, "bundleID");
    if (!appId)
        return std::unexpected(appId.error());
    rule.appId = std::move(*appId);

    auto mode = optionalString(j, "mode");
    if (!mode)
        return std::unexpected(mode.error());
    rule.mode = *mode ? enumFromRawValue<AppRuleMode>(**mode).value_or(AppRuleMode::locked)
                      : AppRuleMode::locked;

    auto source = optionalString(j, "lockedSourceID");
    if (!source)
        return std::unexpected(source.error());
    if (*source)
        rule.lockedSourceID = InputSourceID(std::move(**source));
    return rule;
}

}  // namespace

std::expected<AppRule, DecodeError> appRuleFromJSON(const OrderedJSON& j) {
    return appRuleFrom(j);
}

std::expected<AppRule, DecodeError> appRuleFromJSON(const nlohmann::json& j) {
    return appRuleFrom(j);
}

namespace {

template <typename J>
std::expected<URLRule, DecodeError> urlRuleFrom(const J& j) {
    if (!j.is_object()) {
        return std::unexpected(
            DecodeError{"expected an object, found " + std::string(typeName(j))});
    }
    URLRule rule;
    auto id = requiredString(j, "id");
    if (!id)
        return std::unexpected(id.error());
    auto uuid = Uuid::parse(*id);
    if (!uuid)
        return failure("id", "not a UUID");
    rule.id = *uuid;

    auto pattern = requiredString(j, "hostPattern");
    if (!pattern)
        return std::unexpected(pattern.error());
    rule.hostPattern = std::move(*pattern);

    auto source = requiredString(j, "lockedSourceID");
    if (!source)
        return std::unexpected(source.error());
    rule.lockedSourceID = InputSourceID(std::move(*source));

    auto action = optionalString(j, "action");
    if (!action)
        return std::unexpected(action.error());
    rule.action = (*action && **action == "switchOnce") ? RuleAction::switchOnce : RuleAction::lock;

    auto matchType = optionalString(j, "matchType");
    if (!matchType)
        return std::unexpected(matchType.error());
    rule.matchType =
        *matchType
            ? enumFromRawValue<URLMatchType>(**matchType).value_or(URLMatchType::domainSuffix)
            : URLMatchType::domainSuffix;
    return rule;
}

template <typename J>
std::expected<LockConfiguration, DecodeError> lockConfigurationFrom(const J& j) {
    if (!j.is_object()) {
        return std::unexpected(
            DecodeError{"expected an object, found " + std::string(typeName(j))});
    }
    LockConfiguration c;

#define TESVANO_READ(var, expr) \
    auto var = (expr);          \
    if (!var)                   \
        return std::unexpected(var.error());

    TESVANO_READ(isEnabled, optionalBool(j, "isEnabled"))
    TESVANO_READ(defaultSource, optionalString(j, "defaultSourceID"))
    TESVANO_READ(defaultAction, optionalString(j, "defaultAction"))
    TESVANO_READ(appRules, optionalList<AppRule>(j, "appRules", appRuleFrom<J>))
    TESVANO_READ(enhanced, optionalBool(j, "enhancedModeEnabled"))
    TESVANO_READ(urlRules, optionalList<URLRule>(j, "urlRules", urlRuleFrom<J>))
    TESVANO_READ(addressBarEnabled, optionalBool(j, "addressBarFocusEnabled"))
    TESVANO_READ(addressBarAction, optionalString(j, "addressBarAction"))
    TESVANO_READ(addressBarSource, optionalString(j, "addressBarSourceID"))
    TESVANO_READ(outranks, optionalBool(j, "addressBarOutranksURLRules"))
    TESVANO_READ(secureInput, optionalBool(j, "revertsInSecureInput"))
    TESVANO_READ(legacyEnabled, optionalBool(j, "lockingEnabled"))
#undef TESVANO_READ

    c.isEnabled = isEnabled->value_or(false);
    if (*defaultSource)
        c.defaultSourceID = InputSourceID(std::move(**defaultSource));
    c.defaultAction = (*defaultAction && **defaultAction == "switchOnce") ? RuleAction::switchOnce
                                                                          : RuleAction::lock;
    c.appRules = std::move(*appRules);
    c.enhancedModeEnabled = enhanced->value_or(false);
    c.urlRules = std::move(*urlRules);
    c.addressBarFocusEnabled = addressBarEnabled->value_or(false);
    c.addressBarAction = (*addressBarAction && **addressBarAction == "lock")
                             ? RuleAction::lock
                             : RuleAction::switchOnce;
    if (*addressBarSource)
        c.addressBarSourceID = InputSourceID(std::move(**addressBarSource));
    c.addressBarOutranksURLRules = outranks->value_or(true);
    c.revertsInSecureInput = secureInput->value_or(false);

    // Older versions kept a separate "lockingEnabled"; false there meant no global default.
    if (*legacyEnabled && !**legacyEnabled)
        c.defaultSourceID.reset();
    return c;
}

}  // namespace

std::expected<URLRule, DecodeError> urlRuleFromJSON(const OrderedJSON& j) {
    return urlRuleFrom(j);
}

std::expected<LockConfiguration, DecodeError> lockConfigurationFromJSON(const OrderedJSON& j) {
    return lockConfigurationFrom(j);
}

std::string dumpCompact(const OrderedJSON& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string encodeConfiguration(const LockConfiguration& configuration) {
    return dumpCompact(toJSON(configuration));
}

std::expected<LockConfiguration, DecodeError> decodeConfiguration(std::string_view text) {
    // The bound of the settings file itself: the stored form nests three levels, and a value
    // nested tens of thousands deep exhausts the stack of whatever walks it.
    constexpr int limit = platform::FileDefaults::maximumNesting;
    if (platform::jsonNestsDeeperThan(text, limit)) {
        return std::unexpected(
            DecodeError{"its values nest deeper than " + std::to_string(limit) + " levels"});
    }
    // Read into sorted objects: the insertion-ordered kind finds each key by walking the
    // members before it, so one object of many keys cost the square of their number. Key
    // order matters only when writing, which always builds the ordered kind.
    const auto j = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (j.is_discarded()) {
        return std::unexpected(DecodeError{"not valid JSON"});
    }
    return lockConfigurationFrom(j);
}

}  // namespace tesvano
