#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <variant>
#include <vector>

#include "TesvanoKit/Backup/ConfigBackup.h"
#include "TesvanoKit/History/ActivationEvent.h"
#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

enum class ImportMode { merge, replace };
enum class ConflictResolution { keepLocal, useFile };
enum class MissingSourceDisposition { keep, remove };

template <>
struct EnumTable<ImportMode> {
    static constexpr std::array<std::pair<ImportMode, std::string_view>, 2> entries{{
        {ImportMode::merge, "merge"},
        {ImportMode::replace, "replace"},
    }};
};

template <>
struct EnumTable<ConflictResolution> {
    static constexpr std::array<std::pair<ConflictResolution, std::string_view>, 2> entries{{
        {ConflictResolution::keepLocal, "keepLocal"},
        {ConflictResolution::useFile, "useFile"},
    }};
};

template <>
struct EnumTable<MissingSourceDisposition> {
    static constexpr std::array<std::pair<MissingSourceDisposition, std::string_view>, 2> entries{{
        {MissingSourceDisposition::keep, "keep"},
        {MissingSourceDisposition::remove, "remove"},
    }};
};

// One rule of a backup, set against the rule of the same key here.
struct ImportItem {
    struct App {
        std::string appId;
        bool operator==(const App&) const = default;
    };
    struct URL {
        std::string hostPattern;
        bool operator==(const URL&) const = default;
    };
    struct GlobalDefault {
        bool operator==(const GlobalDefault&) const = default;
    };
    using Subject = std::variant<App, URL, GlobalDefault>;
    enum class Status { new_, conflict, unchanged };

    // "default", "app:" + app id, "url:" + host pattern (trimmed, as it will be stored).
    std::string id;
    Subject subject;
    Status status = Status::new_;
    std::optional<AppRuleMode> fileMode;
    std::optional<InputSourceID> fileSource;
    std::optional<RuleAction> fileAction;
    std::optional<URLMatchType> fileMatchType;
    std::optional<AppRuleMode> localMode;
    std::optional<InputSourceID> localSource;
    std::optional<RuleAction> localAction;
    std::optional<URLMatchType> localMatchType;
    // What the file wrote where this reader did not understand it (the behaviour of a URL
    // rule or of the default, a URL rule's match type, an app rule's mode); the file's side
    // above holds what was read instead.
    std::optional<std::string> unknownFileAction;
    std::optional<std::string> unknownFileMatchType;
    std::optional<std::string> unknownFileMode;
    // The user's choices; each matters only for items of the matching kind.
    bool include = true;
    ConflictResolution resolution = ConflictResolution::keepLocal;
    MissingSourceDisposition missingDisposition = MissingSourceDisposition::keep;

    bool isApp() const { return std::holds_alternative<App>(subject); }
    bool isURL() const { return std::holds_alternative<URL>(subject); }
    bool isGlobalDefault() const { return std::holds_alternative<GlobalDefault>(subject); }

    bool operator==(const ImportItem&) const = default;
};

// What an import changes, counted by rule key.
struct ImportSummary {
    std::int64_t added = 0;
    std::int64_t updated = 0;  // content changed, or for URL rules their place in the order
    std::int64_t kept = 0;     // conflicts the user keeps as they are
    std::int64_t removed = 0;
    std::int64_t inactive = 0;  // added or changed rules whose source is not installed

    bool operator==(const ImportSummary&) const = default;
};

struct ImportOutcome {
    std::int64_t imported = 0;
    std::int64_t inactive = 0;

    bool operator==(const ImportOutcome&) const = default;
};

// A backup compared item by item with the current rules and the sources installed here,
// with the user's choices. Planning and applying are functions of values: nothing changes
// until the caller stores what apply returns.
struct ImportPlan {
    ImportMode mode = ImportMode::merge;
    std::vector<ImportItem> items;  // the default, then app rules, then URL rules, in file order
    LockConfiguration baseConfig;
    RuleAction fileDefaultAction = RuleAction::lock;
    std::int64_t localOnlyAppRuleCount = 0;
    std::int64_t localOnlyURLRuleCount = 0;
    // Those rules (app rules, then URL rules, in their order here) with their local side:
    // what Replace removes.
    std::vector<ImportItem> localOnlyItems;
    std::unordered_set<InputSourceID> installedSourceIDs;
    std::map<InputSourceID, std::string> sourceNames;
    bool urlOrderDiffers = false;
    std::optional<bool> urlOrderUseFile;
    // Rules of the file that no editor or command would take (an overlong or empty
    // application id, an empty, overlong or invalid pattern): left out of the items.
    std::int64_t leftOutRuleCount = 0;

    // The file's rules pass the checks every rule passes (the editor's and the commands'):
    // patterns trimmed, invalid rules left out, a pattern that repeats an earlier one in any
    // letter case counts once, and it meets the local rule of that pattern in any case.
    static ImportPlan make(const LockConfiguration& configuration, const ConfigBackup& backup,
                           const std::vector<InputSource>& availableSources, ImportMode mode);

    // The same backup planned again against a configuration that changed while the plan was
    // reviewed, carrying the user's choices over item by item, so that applying it loses
    // neither the review nor the changes made meanwhile.
    static ImportPlan rebased(const ImportPlan& reviewed, const LockConfiguration& configuration,
                              const ConfigBackup& backup,
                              const std::vector<InputSource>& availableSources);

    static bool willApply(const ImportItem& item, ImportMode mode);
    bool isMissingSource(const ImportItem& item) const;
    std::vector<ImportItem> conflictItems() const;
    std::vector<ImportItem> missingSourceItems() const;
    // Rules the same here as the file's only as this version reads a value of the file it did
    // not know (taken as Lock, say): nothing changes, and the review still names the value.
    std::vector<ImportItem> unchangedAsReadItems() const;
    std::vector<ImportItem> newItems() const;
    // The name to show for a source: the local one, else the file's, else the id itself.
    std::string sourceName(const InputSourceID& id) const;

    // The configuration the import produces. URL rules written from the file get new ids.
    LockConfiguration apply() const;
    ImportSummary summary() const;
    ImportOutcome outcome() const;

    bool operator==(const ImportPlan&) const = default;

private:
    bool sourceIsInstalled(const InputSourceID& id) const;
};

}  // namespace tesvano
