#pragma once

#include <compare>
#include <expected>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/Rules/EnumCoding.h"
#include "TesvanoKit/Rules/Uuid.h"

namespace tesvano {

// The identifier of one input source as the input-source layer reports it.
struct InputSourceID {
    std::string rawValue;

    InputSourceID() = default;
    InputSourceID(std::string raw) : rawValue(std::move(raw)) {}
    InputSourceID(const char* raw) : rawValue(raw) {}

    const std::string& description() const { return rawValue; }
    auto operator<=>(const InputSourceID&) const = default;
};

enum class RuleAction { lock, switchOnce };
enum class AppRuleMode { locked, switched, ignored, useDefault };
enum class URLMatchType { domainSuffix, domain, domainKeyword, urlRegex };

template <>
struct EnumTable<RuleAction> {
    static constexpr std::array<std::pair<RuleAction, std::string_view>, 2> entries{{
        {RuleAction::lock, "lock"},
        {RuleAction::switchOnce, "switchOnce"},
    }};
};

template <>
struct EnumTable<AppRuleMode> {
    static constexpr std::array<std::pair<AppRuleMode, std::string_view>, 4> entries{{
        {AppRuleMode::locked, "locked"},
        {AppRuleMode::switched, "switched"},
        {AppRuleMode::ignored, "ignored"},
        {AppRuleMode::useDefault, "useDefault"},
    }};
};

template <>
struct EnumTable<URLMatchType> {
    static constexpr std::array<std::pair<URLMatchType, std::string_view>, 4> entries{{
        {URLMatchType::domainSuffix, "domain-suffix"},
        {URLMatchType::domain, "domain"},
        {URLMatchType::domainKeyword, "domain-keyword"},
        {URLMatchType::urlRegex, "url-regex"},
    }};
};

// Whether rules of this mode name a source (locked and switched do).
constexpr bool requiresSource(AppRuleMode mode) {
    return mode == AppRuleMode::locked || mode == AppRuleMode::switched;
}

struct AppRule {
    std::string appId;
    AppRuleMode mode = AppRuleMode::locked;
    std::optional<InputSourceID> lockedSourceID;

    const std::string& id() const { return appId; }
    bool operator==(const AppRule&) const = default;
};

struct URLRule {
    Uuid id;
    std::string hostPattern;
    InputSourceID lockedSourceID;
    RuleAction action = RuleAction::lock;
    URLMatchType matchType = URLMatchType::domainSuffix;

    bool operator==(const URLRule&) const = default;
};

struct LockConfiguration {
    bool isEnabled = false;
    std::optional<InputSourceID> defaultSourceID;
    RuleAction defaultAction = RuleAction::lock;
    std::vector<AppRule> appRules;
    bool enhancedModeEnabled = false;
    std::vector<URLRule> urlRules;
    bool addressBarFocusEnabled = false;
    RuleAction addressBarAction = RuleAction::switchOnce;
    std::optional<InputSourceID> addressBarSourceID;
    bool addressBarOutranksURLRules = true;
    bool revertsInSecureInput = false;

    // The initial configuration, shared.
    static const LockConfiguration& defaultConfiguration();

    // The first rule whose app id equals `appId` exactly, if any.
    const AppRule* appRule(std::string_view appId) const;

    bool operator==(const LockConfiguration&) const = default;
};

// Why a stored form could not be read; `message` names the offending key.
struct DecodeError {
    std::string message;
};

using OrderedJSON = nlohmann::ordered_json;

// The one stored form of the configuration and its parts. Decoding is lenient where the
// stored form allows (missing keys, unknown words) and strict about JSON types.
OrderedJSON toJSON(const InputSourceID& id);
OrderedJSON toJSON(const AppRule& rule);
OrderedJSON toJSON(const URLRule& rule);
OrderedJSON toJSON(const LockConfiguration& configuration);

std::expected<InputSourceID, DecodeError> inputSourceIDFromJSON(const OrderedJSON& json);
std::expected<AppRule, DecodeError> appRuleFromJSON(const OrderedJSON& json);
// The same from JSON read into sorted objects (a backup's).
std::expected<AppRule, DecodeError> appRuleFromJSON(const nlohmann::json& json);
std::expected<URLRule, DecodeError> urlRuleFromJSON(const OrderedJSON& json);
std::expected<LockConfiguration, DecodeError> lockConfigurationFromJSON(const OrderedJSON& json);

// Compact JSON text (keys in field order) and its parser.
std::string encodeConfiguration(const LockConfiguration& configuration);
std::expected<LockConfiguration, DecodeError> decodeConfiguration(std::string_view text);

// Compact JSON text of any value, invalid UTF-8 replaced rather than thrown on.
std::string dumpCompact(const OrderedJSON& json);

}  // namespace tesvano

template <>
struct std::hash<tesvano::InputSourceID> {
    std::size_t operator()(const tesvano::InputSourceID& id) const noexcept {
        return std::hash<std::string>{}(id.rawValue);
    }
};
