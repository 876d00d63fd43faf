#include "TesvanoKit/Backup/ImportPlan.h"

#include <unordered_map>

#include "TesvanoKit/Rules/RuleValidity.h"
#include "TesvanoKit/Rules/URLRuleList.h"

namespace tesvano {

namespace {

const std::string defaultKey = "default";

std::string appKey(const std::string& appId) {
    return "app:" + appId;
}

std::string urlKey(const std::string& hostPattern) {
    return "url:" + hostPattern;
}

// URL rules are one rule per pattern in any letter case.
std::string urlMatchKey(const std::string& hostPattern) {
    return URLRuleList::patternKey(hostPattern);
}

// The source a rule really uses: ignored and use-default rules may still store one.
std::optional<InputSourceID> effectiveSource(const AppRule& rule) {
    return requiresSource(rule.mode) ? rule.lockedSourceID : std::nullopt;
}

std::string actionText(RuleAction action) {
    return action == RuleAction::switchOnce ? "switchOnce" : "lock";
}

std::map<std::string, std::string> ruleFingerprints(const LockConfiguration& configuration,
                                                    bool withPosition) {
    std::map<std::string, std::string> out;
    if (configuration.defaultSourceID) {
        out[defaultKey] =
            actionText(configuration.defaultAction) + "|" + configuration.defaultSourceID->rawValue;
    }
    for (const AppRule& rule : configuration.appRules) {
        const auto source = effectiveSource(rule);
        out[appKey(rule.appId)] =
            std::string(rawValue(rule.mode)) + "|" + (source ? source->rawValue : "");
    }
    for (std::size_t i = 0; i < configuration.urlRules.size(); ++i) {
        const URLRule& rule = configuration.urlRules[i];
        std::string print = withPosition ? std::to_string(i) + "|" : "";
        print += actionText(rule.action) + "|" + std::string(rawValue(rule.matchType)) + "|" +
                 rule.lockedSourceID.rawValue + "|" + rule.hostPattern;
        out[urlKey(urlMatchKey(rule.hostPattern))] = std::move(print);
    }
    return out;
}

std::map<std::string, InputSourceID> ruleSources(const LockConfiguration& configuration) {
    std::map<std::string, InputSourceID> out;
    if (configuration.defaultSourceID) {
        out[defaultKey] = *configuration.defaultSourceID;
    }
    for (const AppRule& rule : configuration.appRules) {
        if (auto source = effectiveSource(rule)) {
            out[appKey(rule.appId)] = *source;
        }
    }
    for (const URLRule& rule : configuration.urlRules) {
        out[urlKey(urlMatchKey(rule.hostPattern))] = rule.lockedSourceID;
    }
    return out;
}

}  // namespace

ImportPlan ImportPlan::make(const LockConfiguration& configuration, const ConfigBackup& backup,
                            const std::vector<InputSource>& availableSources, ImportMode mode) {
    const BackupPayload& file = backup.payload;
    ImportPlan plan;
    plan.mode = mode;
    plan.baseConfig = configuration;
    plan.fileDefaultAction = file.defaultAction;
    for (const auto& [id, name] : file.sourceNames) {
        plan.sourceNames[InputSourceID(id)] = name;
    }
    for (const InputSource& source : availableSources) {
        plan.installedSourceIDs.insert(source.id);
        // An installed source shows the name this machine gives it.
        plan.sourceNames[source.id] = source.localizedName;
    }

    if (file.defaultSourceID) {
        ImportItem item;
        item.id = defaultKey;
        item.subject = ImportItem::GlobalDefault{};
        item.fileSource = file.defaultSourceID;
        item.fileAction = file.defaultAction;
        item.unknownFileAction = file.unknownDefaultAction;
        item.localSource = configuration.defaultSourceID;
        if (configuration.defaultSourceID) {
            item.localAction = configuration.defaultAction;
        }
        item.status = !configuration.defaultSourceID ? ImportItem::Status::new_
                      : (*configuration.defaultSourceID == *file.defaultSourceID &&
                         configuration.defaultAction == file.defaultAction)
                          ? ImportItem::Status::unchanged
                          : ImportItem::Status::conflict;
        plan.items.push_back(std::move(item));
    }

    std::unordered_map<std::string, const AppRule*> localApps;
    for (const AppRule& rule : configuration.appRules) {
        localApps.try_emplace(rule.appId, &rule);
    }
    std::unordered_set<std::string> fileAppIds;
    for (std::size_t index = 0; index < file.appRules.size(); ++index) {
        const AppRule& rule = file.appRules[index];
        if (!RuleValidity::isValidAppID(rule.appId)) {
            ++plan.leftOutRuleCount;
            continue;
        }
        fileAppIds.insert(rule.appId);
        ImportItem item;
        item.id = appKey(rule.appId);
        item.subject = ImportItem::App{rule.appId};
        item.fileMode = rule.mode;
        item.fileSource = effectiveSource(rule);
        if (auto unknown = file.unknownAppRuleModes.find(index);
            unknown != file.unknownAppRuleModes.end()) {
            item.unknownFileMode = unknown->second;
        }
        if (auto it = localApps.find(rule.appId); it != localApps.end()) {
            const AppRule& local = *it->second;
            item.localMode = local.mode;
            item.localSource = effectiveSource(local);
            item.status = (local.mode == rule.mode && item.localSource == item.fileSource)
                              ? ImportItem::Status::unchanged
                              : ImportItem::Status::conflict;
        }
        plan.items.push_back(std::move(item));
    }

    // URL rules by the key of their pattern in any letter case.
    std::unordered_map<std::string, const URLRule*> localURLs;
    for (const URLRule& rule : configuration.urlRules) {
        localURLs.try_emplace(urlMatchKey(rule.hostPattern), &rule);
    }
    std::unordered_set<std::string> fileKeys;
    std::vector<std::string> fileOrder;
    for (std::size_t index = 0; index < file.urlRules.size(); ++index) {
        const BackupURLRule& rule = file.urlRules[index];
        std::string pattern = RuleValidity::normalizedPattern(rule.hostPattern);
        if (RuleValidity::patternProblem(pattern, rule.matchType) !=
            RuleValidity::PatternProblem::none) {
            ++plan.leftOutRuleCount;
            continue;
        }
        // A pattern the file repeats counts once, as its first rule says.
        std::string key = urlMatchKey(pattern);
        if (!fileKeys.insert(key).second) {
            continue;
        }
        ImportItem item;
        item.id = urlKey(pattern);
        item.subject = ImportItem::URL{std::move(pattern)};
        item.fileSource = rule.lockedSourceID;
        item.fileAction = rule.action;
        item.fileMatchType = rule.matchType;
        if (auto unknown = file.unknownURLRuleValues.find(index);
            unknown != file.unknownURLRuleValues.end()) {
            item.unknownFileAction = unknown->second.action;
            item.unknownFileMatchType = unknown->second.matchType;
        }
        if (auto it = localURLs.find(key); it != localURLs.end()) {
            const URLRule& local = *it->second;
            item.localSource = local.lockedSourceID;
            item.localAction = local.action;
            item.localMatchType = local.matchType;
            item.status = (local.lockedSourceID == rule.lockedSourceID &&
                           local.action == rule.action && local.matchType == rule.matchType &&
                           local.hostPattern == std::get<ImportItem::URL>(item.subject).hostPattern)
                              ? ImportItem::Status::unchanged
                              : ImportItem::Status::conflict;
        }
        fileOrder.push_back(std::move(key));
        plan.items.push_back(std::move(item));
    }

    for (const AppRule& rule : configuration.appRules) {
        if (fileAppIds.contains(rule.appId)) {
            continue;
        }
        ++plan.localOnlyAppRuleCount;
        ImportItem item;
        item.id = appKey(rule.appId);
        item.subject = ImportItem::App{rule.appId};
        item.localMode = rule.mode;
        item.localSource = effectiveSource(rule);
        plan.localOnlyItems.push_back(std::move(item));
    }
    std::vector<std::string> localShared;
    for (const URLRule& rule : configuration.urlRules) {
        if (std::string key = urlMatchKey(rule.hostPattern); fileKeys.contains(key)) {
            localShared.push_back(std::move(key));
        } else {
            ++plan.localOnlyURLRuleCount;
            ImportItem item;
            item.id = urlKey(rule.hostPattern);
            item.subject = ImportItem::URL{rule.hostPattern};
            item.localSource = rule.lockedSourceID;
            item.localAction = rule.action;
            item.localMatchType = rule.matchType;
            plan.localOnlyItems.push_back(std::move(item));
        }
    }
    std::vector<std::string> fileShared;
    for (const std::string& key : fileOrder) {
        if (localURLs.contains(key)) {
            fileShared.push_back(key);
        }
    }
    plan.urlOrderDiffers = fileShared != localShared;
    return plan;
}

ImportPlan ImportPlan::rebased(const ImportPlan& reviewed, const LockConfiguration& configuration,
                               const ConfigBackup& backup,
                               const std::vector<InputSource>& availableSources) {
    ImportPlan plan = make(configuration, backup, availableSources, reviewed.mode);
    plan.urlOrderUseFile = reviewed.urlOrderUseFile;
    // Items come from the file alone, so both plans list the same ids in the same order; the
    // n-th item of an id takes the choices of the n-th reviewed item of that id.
    std::unordered_map<std::string, std::vector<const ImportItem*>> choices;
    for (const ImportItem& item : reviewed.items) {
        choices[item.id].push_back(&item);
    }
    std::unordered_map<std::string, std::size_t> seen;
    for (ImportItem& item : plan.items) {
        const auto& candidates = choices[item.id];
        const std::size_t n = seen[item.id]++;
        if (n < candidates.size()) {
            item.include = candidates[n]->include;
            item.resolution = candidates[n]->resolution;
            item.missingDisposition = candidates[n]->missingDisposition;
        }
    }
    return plan;
}

bool ImportPlan::willApply(const ImportItem& item, ImportMode mode) {
    switch (item.status) {
        case ImportItem::Status::new_:
            return item.include;
        case ImportItem::Status::conflict:
            return mode == ImportMode::replace || item.resolution == ConflictResolution::useFile;
        case ImportItem::Status::unchanged:
            return mode == ImportMode::replace;
    }
    return false;
}

bool ImportPlan::sourceIsInstalled(const InputSourceID& id) const {
    return installedSourceIDs.contains(id);
}

bool ImportPlan::isMissingSource(const ImportItem& item) const {
    return willApply(item, mode) && item.fileSource && !sourceIsInstalled(*item.fileSource);
}

std::vector<ImportItem> ImportPlan::conflictItems() const {
    std::vector<ImportItem> out;
    for (const ImportItem& item : items) {
        if (item.status == ImportItem::Status::conflict) {
            out.push_back(item);
        }
    }
    return out;
}

std::vector<ImportItem> ImportPlan::unchangedAsReadItems() const {
    std::vector<ImportItem> out;
    for (const ImportItem& item : items) {
        if (item.status == ImportItem::Status::unchanged &&
            (item.unknownFileAction || item.unknownFileMode || item.unknownFileMatchType)) {
            out.push_back(item);
        }
    }
    return out;
}

std::vector<ImportItem> ImportPlan::missingSourceItems() const {
    std::vector<ImportItem> out;
    for (const ImportItem& item : items) {
        const bool mergedConflict =
            item.status == ImportItem::Status::conflict && mode == ImportMode::merge;
        if (isMissingSource(item) && !mergedConflict) {
            out.push_back(item);
        }
    }
    return out;
}

std::vector<ImportItem> ImportPlan::newItems() const {
    std::vector<ImportItem> out;
    for (const ImportItem& item : items) {
        if (item.status != ImportItem::Status::new_) {
            continue;
        }
        // Those are listed among the missing sources instead.
        if (item.include && item.fileSource && !sourceIsInstalled(*item.fileSource)) {
            continue;
        }
        out.push_back(item);
    }
    return out;
}

std::string ImportPlan::sourceName(const InputSourceID& id) const {
    if (auto it = sourceNames.find(id); it != sourceNames.end()) {
        return it->second;
    }
    return id.rawValue;
}

LockConfiguration ImportPlan::apply() const {
    LockConfiguration out = baseConfig;
    // Keyed working sets; std::map orders app rules by app id, byte for byte, as stored.
    std::map<std::string, AppRule> apps;
    // URL rules by the key of their pattern in any letter case; local rules that already share
    // one (kept from before that was checked) keep keys of their own.
    std::unordered_map<std::string, URLRule> urls;
    std::vector<std::string> localOrder;
    std::unordered_set<std::string> localKeys;
    for (std::size_t i = 0; i < baseConfig.urlRules.size(); ++i) {
        const URLRule& rule = baseConfig.urlRules[i];
        std::string key = urlMatchKey(rule.hostPattern);
        if (!localKeys.insert(key).second) {
            key = std::string(1, '\0').append(std::to_string(i));
        }
        if (mode == ImportMode::merge) {
            urls.try_emplace(key, rule);
        }
        localOrder.push_back(std::move(key));
    }
    if (mode == ImportMode::merge) {
        for (const AppRule& rule : baseConfig.appRules) {
            apps.try_emplace(rule.appId, rule);
        }
    }

    for (const ImportItem& item : items) {
        if (!willApply(item, mode)) {
            continue;
        }
        const bool missing = item.fileSource && !sourceIsInstalled(*item.fileSource);
        const bool remove = missing && item.missingDisposition == MissingSourceDisposition::remove;
        if (const auto* app = std::get_if<ImportItem::App>(&item.subject)) {
            if (remove) {
                apps.erase(app->appId);
                continue;
            }
            const AppRuleMode ruleMode = item.fileMode.value_or(AppRuleMode::locked);
            apps.insert_or_assign(
                app->appId, AppRule{app->appId, ruleMode,
                                    requiresSource(ruleMode) ? item.fileSource : std::nullopt});
        } else if (const auto* url = std::get_if<ImportItem::URL>(&item.subject)) {
            if (remove) {
                urls.erase(urlMatchKey(url->hostPattern));
                continue;
            }
            urls.insert_or_assign(
                urlMatchKey(url->hostPattern),
                URLRule{Uuid::random(), url->hostPattern, item.fileSource.value_or(InputSourceID()),
                        item.fileAction.value_or(RuleAction::lock),
                        item.fileMatchType.value_or(URLMatchType::domainSuffix)});
        } else if (!remove) {
            // A default whose source is missing and removed keeps the current one.
            out.defaultSourceID = item.fileSource;
            out.defaultAction = fileDefaultAction;
        }
    }

    out.appRules.clear();
    for (auto& [appId, rule] : apps) {
        out.appRules.push_back(std::move(rule));
    }

    // URL order: the file's first when replacing or when the user chose it, else the local one.
    std::vector<std::string> fileOrder;
    for (const ImportItem& item : items) {
        if (const auto* url = std::get_if<ImportItem::URL>(&item.subject)) {
            fileOrder.push_back(urlMatchKey(url->hostPattern));
        }
    }
    const bool fileFirst = mode == ImportMode::replace || urlOrderUseFile.value_or(false);
    out.urlRules.clear();
    for (const auto* order :
         {fileFirst ? &fileOrder : &localOrder, fileFirst ? &localOrder : &fileOrder}) {
        for (const std::string& key : *order) {
            auto it = urls.find(key);
            if (it == urls.end()) {
                continue;  // not imported, removed, or already placed
            }
            out.urlRules.push_back(std::move(it->second));
            urls.erase(it);
        }
    }
    return out;
}

ImportSummary ImportPlan::summary() const {
    const LockConfiguration after = apply();
    const auto before1 = ruleFingerprints(baseConfig, true);
    const auto before0 = ruleFingerprints(baseConfig, false);
    const auto after1 = ruleFingerprints(after, true);
    const auto after0 = ruleFingerprints(after, false);
    const auto sources = ruleSources(after);

    ImportSummary summary;
    for (const auto& [key, print] : after1) {
        auto was = before1.find(key);
        if (was == before1.end()) {
            ++summary.added;
        } else if (was->second != print) {
            ++summary.updated;
        }
        auto was0 = before0.find(key);
        if (was0 != before0.end() && was0->second == after0.at(key)) {
            continue;  // the same rule, at most moved
        }
        if (auto source = sources.find(key);
            source != sources.end() && !sourceIsInstalled(source->second)) {
            ++summary.inactive;
        }
    }
    for (const auto& [key, print] : before1) {
        summary.removed += after1.contains(key) ? 0 : 1;
    }
    for (const ImportItem& item : items) {
        if (item.status == ImportItem::Status::conflict && mode == ImportMode::merge &&
            item.resolution == ConflictResolution::keepLocal) {
            ++summary.kept;
        }
    }
    return summary;
}

ImportOutcome ImportPlan::outcome() const {
    const ImportSummary counts = summary();
    return ImportOutcome{counts.added + counts.updated, counts.inactive};
}

}  // namespace tesvano
