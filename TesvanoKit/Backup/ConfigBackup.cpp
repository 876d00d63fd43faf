#include "TesvanoKit/Backup/ConfigBackup.h"

#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <set>

#include "Platform/Defaults/JsonDepth.h"
#include "TesvanoKit/Languages/Localization.h"

namespace tesvano {

namespace {

// Objects read into sorted maps: an ordered one finds a key by walking its members, which
// made a file of many keys cost the square of their number.
using Sorted = nlohmann::json;
using Input = nlohmann::json;

// A member that is missing or null reads as absent, as an optional member of a decoder does.
const Input* member(const Input& object, std::string_view key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

// A 64-bit integer as a JSON decoder takes one: an integer in range, or a floating-point
// number with an integral value in range (2.0, not 2.5). Never a boolean.
std::optional<std::int64_t> integerValue(const Input& value) {
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(u);
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        // 2^63 is exactly representable; everything below it in magnitude fits.
        constexpr double limit = 9223372036854775808.0;
        if (std::isfinite(d) && d == std::trunc(d) && d >= -limit && d < limit) {
            return static_cast<std::int64_t>(d);
        }
    }
    return std::nullopt;
}

// The tolerant readers of the document's members; none means the file is damaged.
template <typename T>
using Decoded = std::optional<T>;

Decoded<std::optional<std::string>> optionalString(const Input& object, std::string_view key) {
    const Input* value = member(object, key);
    if (value == nullptr) {
        return std::optional<std::string>();
    }
    if (!value->is_string()) {
        return std::nullopt;
    }
    return std::optional<std::string>(value->get<std::string>());
}

Decoded<std::int64_t> integerOr(const Input& object, std::string_view key, std::int64_t fallback) {
    const Input* value = member(object, key);
    if (value == nullptr) {
        return fallback;
    }
    return integerValue(*value);
}

Decoded<RuleAction> actionOf(const Input& object, std::string_view key) {
    auto text = optionalString(object, key);
    if (!text) {
        return std::nullopt;
    }
    return (*text && **text == "switchOnce") ? RuleAction::switchOnce : RuleAction::lock;
}

Decoded<BackupURLRule> urlRuleOf(const Input& json) {
    if (!json.is_object()) {
        return std::nullopt;
    }
    auto pattern = optionalString(json, "hostPattern");
    auto source = optionalString(json, "lockedSourceID");
    auto action = actionOf(json, "action");
    auto matchType = optionalString(json, "matchType");
    if (!pattern || !*pattern || !source || !*source || !action || !matchType) {
        return std::nullopt;
    }
    BackupURLRule rule;
    rule.hostPattern = std::move(**pattern);
    rule.lockedSourceID = InputSourceID(std::move(**source));
    rule.action = *action;
    rule.matchType =
        *matchType
            ? enumFromRawValue<URLMatchType>(**matchType).value_or(URLMatchType::domainSuffix)
            : URLMatchType::domainSuffix;
    return rule;
}

template <typename T, typename Decode>
Decoded<std::vector<T>> listOf(const Input& object, std::string_view key, Decode decode) {
    std::vector<T> out;
    const Input* value = member(object, key);
    if (value == nullptr) {
        return out;
    }
    if (!value->is_array()) {
        return std::nullopt;
    }
    out.reserve(value->size());
    for (const auto& element : *value) {
        auto decoded = decode(element);
        if (!decoded) {
            return std::nullopt;
        }
        out.push_back(std::move(*decoded));
    }
    return out;
}

Decoded<BackupPayload> payloadOf(const Input& json) {
    if (!json.is_object()) {
        return std::nullopt;
    }
    BackupPayload payload;
    auto defaultSource = optionalString(json, "defaultSourceID");
    auto defaultAction = actionOf(json, "defaultAction");
    auto appRules = listOf<AppRule>(json, "appRules", [](const Input& element) -> Decoded<AppRule> {
        auto rule = appRuleFromJSON(element);
        return rule ? Decoded<AppRule>(std::move(*rule)) : std::nullopt;
    });
    auto urlRules = listOf<BackupURLRule>(json, "urlRules", urlRuleOf);
    if (!defaultSource || !defaultAction || !appRules || !urlRules) {
        return std::nullopt;
    }
    if (*defaultSource) {
        payload.defaultSourceID = InputSourceID(std::move(**defaultSource));
    }
    payload.defaultAction = *defaultAction;
    payload.appRules = std::move(*appRules);
    payload.urlRules = std::move(*urlRules);
    // The rules were read tolerantly; what they said that was not understood is kept for the
    // review.
    if (const Input* rules = member(json, "urlRules")) {
        for (std::size_t i = 0; i < rules->size(); ++i) {
            UnknownURLRuleValues unknown;
            if (auto written = optionalString((*rules)[i], "action");
                *written && !enumFromRawValue<RuleAction>(**written)) {
                unknown.action = std::move(**written);
            }
            if (auto written = optionalString((*rules)[i], "matchType");
                *written && !enumFromRawValue<URLMatchType>(**written)) {
                unknown.matchType = std::move(**written);
            }
            if (unknown.action || unknown.matchType) {
                payload.unknownURLRuleValues[i] = std::move(unknown);
            }
        }
    }
    if (const Input* rules = member(json, "appRules")) {
        for (std::size_t i = 0; i < rules->size(); ++i) {
            if (auto written = optionalString((*rules)[i], "mode");
                written && *written && !enumFromRawValue<AppRuleMode>(**written)) {
                payload.unknownAppRuleModes[i] = std::move(**written);
            }
        }
    }
    if (auto written = optionalString(json, "defaultAction");
        written && *written && !enumFromRawValue<RuleAction>(**written)) {
        payload.unknownDefaultAction = std::move(**written);
    }
    if (const Input* names = member(json, "sourceNames")) {
        if (!names->is_object()) {
            return std::nullopt;
        }
        // A backup names the sources its rules use; names of others tell nothing.
        std::set<std::string> used;
        if (payload.defaultSourceID) {
            used.insert(payload.defaultSourceID->rawValue);
        }
        for (const AppRule& rule : payload.appRules) {
            if (rule.lockedSourceID) {
                used.insert(rule.lockedSourceID->rawValue);
            }
        }
        for (const BackupURLRule& rule : payload.urlRules) {
            used.insert(rule.lockedSourceID.rawValue);
        }
        for (const auto& [id, name] : names->items()) {
            if (!name.is_string()) {
                return std::nullopt;
            }
            if (used.contains(id)) {
                payload.sourceNames[id] = name.get<std::string>();
            }
        }
    }
    return payload;
}

Decoded<ConfigBackup> backupOf(const Input& json) {
    ConfigBackup backup;
    auto format = optionalString(json, "format");
    auto schemaVersion = integerOr(json, "schemaVersion", 1);
    auto minReader = integerOr(json, "minReader", 1);
    auto appVersion = optionalString(json, "appVersion");
    const Input* payloadJSON = member(json, "payload");
    if (!format || !schemaVersion || !minReader || !appVersion || payloadJSON == nullptr) {
        return std::nullopt;
    }
    auto payload = payloadOf(*payloadJSON);
    if (!payload) {
        return std::nullopt;
    }
    backup.format = format->value_or(std::string(ConfigBackup::typeIdentifier));
    backup.schemaVersion = *schemaVersion;
    backup.minReader = *minReader;
    backup.appVersion = appVersion->value_or(std::string());
    backup.payload = std::move(*payload);
    return backup;
}

// How many rules the payload lists, before any is decoded.
std::size_t ruleCount(const Input& json) {
    const Input* payload = member(json, "payload");
    if (payload == nullptr || !payload->is_object()) {
        return 0;
    }
    std::size_t count = 0;
    for (const char* key : {"appRules", "urlRules"}) {
        if (const Input* list = member(*payload, key); list != nullptr && list->is_array()) {
            count += list->size();
        }
    }
    return count;
}

// Whether a "minReader" asks for more than this reader. Any number counts, not only an
// integer: a writer's 2.5 must not pass for 2 and slip through as readable.
bool demandsNewerReader(const Input& json) {
    const Input* value = member(json, "minReader");
    if (value == nullptr || !value->is_number()) {
        return false;
    }
    if (value->is_number_unsigned()) {
        return value->get<std::uint64_t>() >
               static_cast<std::uint64_t>(ConfigBackup::readerVersion);
    }
    if (value->is_number_integer()) {
        return value->get<std::int64_t>() > ConfigBackup::readerVersion;
    }
    return value->get<double>() > static_cast<double>(ConfigBackup::readerVersion);
}

// appId keeps the backup field name "bundleID".
Sorted appRuleJSON(const AppRule& rule) {
    Sorted j = Sorted::object();
    j["bundleID"] = rule.appId;
    j["mode"] = rawValue(rule.mode);
    if (rule.lockedSourceID) {
        j["lockedSourceID"] = rule.lockedSourceID->rawValue;
    }
    return j;
}

std::string replacingPlaceholder(std::string text, std::string_view value,
                                 std::string_view placeholder = "%@") {
    if (const auto at = text.find(placeholder); at != std::string::npos) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

}  // namespace

std::string BackupReadError::text(SupportedLanguage language) const {
    switch (kind) {
        case Kind::incompatibleVersion:
            return replacingPlaceholder(
                Localization::text(
                    "This backup was made by a newer Tesvano (%@). Update Tesvano, then try again.",
                    language),
                appVersion);
        case Kind::unreadable:
            return Localization::text(
                "Couldn't read the selected file. Check permissions and try again.", language);
        case Kind::notABackup:
            return Localization::text("This file isn't a Tesvano backup.", language);
        case Kind::damaged:
            return Localization::text("This backup file is damaged and can't be read.", language);
        case Kind::tooManyRules:
            return replacingPlaceholder(
                Localization::text(
                    "This backup holds more rules than Tesvano can import (at most %d).", language),
                std::to_string(ConfigBackup::maximumRules), "%d");
    }
    return {};
}

ConfigBackup ConfigBackup::fromConfiguration(
    const LockConfiguration& configuration, std::string appVersion,
    const std::map<InputSourceID, std::string>& sourceNames) {
    ConfigBackup backup;
    backup.appVersion = std::move(appVersion);
    BackupPayload& payload = backup.payload;
    payload.defaultSourceID = configuration.defaultSourceID;
    payload.defaultAction = configuration.defaultAction;
    payload.appRules = configuration.appRules;

    // Only names of the sources the payload uses: a backup tells nothing else of the machine.
    auto name = [&](const InputSourceID& id) {
        if (payload.sourceNames.contains(id.rawValue)) {
            return;
        }
        if (auto it = sourceNames.find(id); it != sourceNames.end()) {
            payload.sourceNames.emplace(id.rawValue, it->second);
        }
    };
    if (configuration.defaultSourceID) {
        name(*configuration.defaultSourceID);
    }
    for (const AppRule& rule : configuration.appRules) {
        if (requiresSource(rule.mode) && rule.lockedSourceID) {
            name(*rule.lockedSourceID);
        }
    }
    for (const URLRule& rule : configuration.urlRules) {
        name(rule.lockedSourceID);
        payload.urlRules.push_back(
            BackupURLRule{rule.hostPattern, rule.lockedSourceID, rule.action, rule.matchType});
    }
    return backup;
}

std::expected<std::string, std::string> ConfigBackup::encodedData() const {
    // nlohmann::json keeps object members in a sorted map: keys come out in ascending order at
    // every level. It never escapes "/".
    Sorted payloadJSON = Sorted::object();
    if (payload.defaultSourceID) {
        payloadJSON["defaultSourceID"] = payload.defaultSourceID->rawValue;
    }
    payloadJSON["defaultAction"] = rawValue(payload.defaultAction);
    payloadJSON["appRules"] = Sorted::array();
    for (const AppRule& rule : payload.appRules) {
        payloadJSON["appRules"].push_back(appRuleJSON(rule));
    }
    payloadJSON["urlRules"] = Sorted::array();
    for (const BackupURLRule& rule : payload.urlRules) {
        payloadJSON["urlRules"].push_back({{"hostPattern", rule.hostPattern},
                                           {"lockedSourceID", rule.lockedSourceID.rawValue},
                                           {"action", rawValue(rule.action)},
                                           {"matchType", rawValue(rule.matchType)}});
    }
    payloadJSON["sourceNames"] = Sorted::object();
    for (const auto& [id, sourceName] : payload.sourceNames) {
        payloadJSON["sourceNames"][id] = sourceName;
    }
    Sorted document = {{"format", format},
                       {"schemaVersion", schemaVersion},
                       {"minReader", minReader},
                       {"appVersion", appVersion},
                       {"payload", std::move(payloadJSON)}};
    try {
        // Text that is not UTF-8 (a pattern set through a command, say) is written as U+FFFD,
        // as the rule store writes it, rather than costing the user the whole backup.
        return document.dump(2, ' ', false, Sorted::error_handler_t::replace) + "\n";
    } catch (const Sorted::exception& error) {
        return std::unexpected(std::string(error.what()));
    }
}

std::expected<ConfigBackup, BackupReadError> ConfigBackup::read(std::string_view bytes) {
    if (bytes.size() > maximumFileSize || platform::jsonNestsDeeperThan(bytes, maximumNesting)) {
        return std::unexpected(BackupReadError::notABackup());
    }
    const Input json = Input::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        return std::unexpected(BackupReadError::notABackup());
    }
    const Input* format = member(json, "format");
    if (format == nullptr || !format->is_string() ||
        format->get_ref<const std::string&>() != typeIdentifier) {
        return std::unexpected(BackupReadError::notABackup());
    }
    if (demandsNewerReader(json)) {
        const Input* version = member(json, "appVersion");
        return std::unexpected(BackupReadError::incompatibleVersion(
            version != nullptr && version->is_string() ? version->get<std::string>() : ""));
    }
    if (ruleCount(json) > maximumRules) {
        return std::unexpected(BackupReadError::tooManyRules());
    }
    auto backup = backupOf(json);
    if (!backup) {
        return std::unexpected(BackupReadError::damaged());
    }
    return std::move(*backup);
}

std::string ConfigBackup::suggestedBaseName(std::chrono::system_clock::time_point date,
                                            std::string_view timeZoneID) {
    int fields[6] = {0, 0, 0, 0, 0, 0};
    UErrorCode status = U_ZERO_ERROR;
    icu::TimeZone* zone = icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(
        icu::StringPiece(timeZoneID.data(), static_cast<std::int32_t>(timeZoneID.size()))));
    icu::GregorianCalendar calendar(zone, status);  // adopts the zone
    if (U_SUCCESS(status)) {
        const auto milliseconds =
            std::chrono::floor<std::chrono::milliseconds>(date.time_since_epoch()).count();
        calendar.setTime(static_cast<UDate>(milliseconds), status);
        const UCalendarDateFields which[6] = {UCAL_YEAR,        UCAL_MONTH,  UCAL_DATE,
                                              UCAL_HOUR_OF_DAY, UCAL_MINUTE, UCAL_SECOND};
        for (int i = 0; i < 6 && U_SUCCESS(status); ++i) {
            UErrorCode fieldStatus = U_ZERO_ERROR;
            const std::int32_t value = calendar.get(which[i], fieldStatus);
            if (U_SUCCESS(fieldStatus)) {
                fields[i] = which[i] == UCAL_MONTH ? value + 1 : value;
            }
        }
    }
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d-%02d-%02d", fields[0], fields[1],
                  fields[2], fields[3], fields[4], fields[5]);
    return "Tesvano Backup " + std::string(stamp);
}

std::string ConfigBackup::suggestedFileName(std::chrono::system_clock::time_point date,
                                            std::string_view timeZoneID) {
    return suggestedBaseName(date, timeZoneID) + "." + std::string(fileExtension);
}

std::string ConfigBackup::localTimeZoneID() {
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString id;
    zone->getID(id);
    std::string out;
    id.toUTF8String(out);
    return out;
}

}  // namespace tesvano
