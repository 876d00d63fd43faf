#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/Languages/SupportedLanguage.h"
#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

// A URL rule as a backup carries it: without its identifier, which stays with the machine.
struct BackupURLRule {
    std::string hostPattern;
    InputSourceID lockedSourceID;
    RuleAction action = RuleAction::lock;
    URLMatchType matchType = URLMatchType::domainSuffix;

    bool operator==(const BackupURLRule&) const = default;
};

// What a URL rule of a file said that this reader does not know, as written: the rule reads
// it as lock and domain suffix, which the review says.
struct UnknownURLRuleValues {
    std::optional<std::string> action;
    std::optional<std::string> matchType;

    bool operator==(const UnknownURLRuleValues&) const = default;
};

struct BackupPayload {
    std::optional<InputSourceID> defaultSourceID;
    RuleAction defaultAction = RuleAction::lock;
    std::vector<AppRule> appRules;
    std::vector<BackupURLRule> urlRules;
    // Source id → display name, for the sources the rules above name.
    std::map<std::string, std::string> sourceNames;
    // By the index of the rule in urlRules; never written back.
    std::map<std::size_t, UnknownURLRuleValues> unknownURLRuleValues;
    // Likewise the modes of app rules, by their index in appRules (each read as locked), and
    // the default's behaviour (read as lock), as written.
    std::map<std::size_t, std::string> unknownAppRuleModes;
    std::optional<std::string> unknownDefaultAction;

    bool operator==(const BackupPayload&) const = default;
};

// Why a file could not be imported.
struct BackupReadError {
    enum class Kind {
        incompatibleVersion,  // the file demands a newer reader; appVersion tells which wrote it
        unreadable,           // the bytes could not be read (the caller's finding, never read's)
        notABackup,           // not JSON, not an object, not this format, or far too big
        damaged,              // this format, but it does not decode
        tooManyRules,         // more than maximumRules rules
    };
    Kind kind = Kind::notABackup;
    std::string appVersion;

    static BackupReadError incompatibleVersion(std::string version) {
        return {Kind::incompatibleVersion, std::move(version)};
    }
    static BackupReadError unreadable() { return {Kind::unreadable, {}}; }
    static BackupReadError notABackup() { return {Kind::notABackup, {}}; }
    static BackupReadError damaged() { return {Kind::damaged, {}}; }
    static BackupReadError tooManyRules() { return {Kind::tooManyRules, {}}; }

    // What the user is told, in the given interface language.
    std::string text(SupportedLanguage language) const;

    bool operator==(const BackupReadError&) const = default;
};

// The backup document: the rules a user moves to another machine (the global default with
// its action, the app rules, the URL rules) and the names of the sources they name. The
// "Enable Tesvano" switch, enhanced mode, the address-bar rule and the secure-input setting stay
// behind.
struct ConfigBackup {
    static constexpr std::string_view typeIdentifier = "com.quorvel.Tesvano.backup";
    static constexpr std::string_view fileExtension = "tesvano";
    static constexpr std::string_view displayName = "Tesvano Backup";
    static constexpr std::string_view mimeType = "application/x-tesvano-backup";
    static constexpr std::int64_t readerVersion = 1;
    // Real backups are a few kilobytes; anything past these bounds is refused unparsed.
    static constexpr std::size_t maximumFileSize = 4 * 1024 * 1024;
    static constexpr int maximumNesting = 64;
    // App and URL rules together: far more than anybody keeps, few enough to review at once.
    static constexpr std::size_t maximumRules = 10'000;

    std::string format{typeIdentifier};
    std::int64_t schemaVersion = 1;
    std::int64_t minReader = 1;
    std::string appVersion;
    BackupPayload payload;

    // Never fails. `sourceNames` may name any sources; only those the rules use are kept.
    static ConfigBackup fromConfiguration(const LockConfiguration& configuration,
                                          std::string appVersion,
                                          const std::map<InputSourceID, std::string>& sourceNames);

    // Pretty-printed JSON, keys sorted at every level, slashes unescaped; or why not.
    std::expected<std::string, std::string> encodedData() const;

    // Never throws: a backup, or the first reason the bytes are not one. Its time grows with
    // the size of the bytes, never faster. Only the names of sources the rules use are kept.
    static std::expected<ConfigBackup, BackupReadError> read(std::string_view bytes);

    // "Tesvano Backup 2026-03-07 18-05-09" for that instant in the time zone (an IANA id;
    // one ICU does not know counts as UTC), and the same with ".tesvano".
    static std::string suggestedBaseName(std::chrono::system_clock::time_point date,
                                         std::string_view timeZoneID);
    static std::string suggestedFileName(std::chrono::system_clock::time_point date,
                                         std::string_view timeZoneID);
    // The IANA id of this machine's time zone (TZ, else /etc/localtime), as ICU finds it.
    static std::string localTimeZoneID();

    bool operator==(const ConfigBackup&) const = default;
};

}  // namespace tesvano
