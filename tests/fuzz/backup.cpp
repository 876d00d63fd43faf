// Feeds arbitrary bytes to the backup reader and, for what it accepts, to the import planner.
// Besides crashes, hangs and sanitizer reports, it stops on a broken promise: a backup that
// does not read back equal after writing, an import that leaves app rules unsorted or
// repeated or URL patterns repeated, a merge with default choices that loses a local rule,
// counts below zero, a rebase onto the same configuration that changes the plan, or an import
// that brings in a rule no editor or command would take (an overlong or empty application id,
// a pattern untrimmed, empty, overlong or no valid regular expression, a pattern twice in any
// letter case).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "TesvanoKit/Backup/ConfigBackup.h"
#include "TesvanoKit/Backup/ImportPlan.h"
#include "TesvanoKit/Backup/ImportReviewModel.h"
#include "TesvanoKit/Backup/ImportReviewText.h"
#include "TesvanoKit/Rules/RuleValidity.h"

namespace {

using namespace tesvano;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "backup_fuzz: %s\n", what);
        std::abort();
    }
}

LockConfiguration localConfiguration() {
    LockConfiguration c;
    c.defaultSourceID = InputSourceID("xkb:us");
    c.appRules = {AppRule{"org.mozilla.firefox", AppRuleMode::locked, InputSourceID("xkb:de")},
                  AppRule{"a", AppRuleMode::ignored, std::nullopt},
                  AppRule{"a", AppRuleMode::switched, InputSourceID("xkb:us")}};
    c.urlRules = {URLRule{Uuid::random(), "a.com", InputSourceID("xkb:us"), RuleAction::lock,
                          URLMatchType::domainSuffix},
                  URLRule{Uuid::random(), "b.com", InputSourceID("xkb:de"), RuleAction::switchOnce,
                          URLMatchType::domain}};
    return c;
}

void checkResult(const ImportPlan& plan) {
    const LockConfiguration after = plan.apply();
    require(RuleValidity::rulesAreValid(after), "an import brought in an invalid rule");
    for (std::size_t i = 1; i < after.appRules.size(); ++i) {
        require(after.appRules[i - 1].appId < after.appRules[i].appId,
                "app rules unsorted or repeated");
    }
    std::set<std::string> patterns;
    for (const auto& rule : after.urlRules) {
        require(patterns.insert(rule.hostPattern).second, "a URL pattern repeated");
    }
    const ImportSummary s = plan.summary();
    require(s.added >= 0 && s.updated >= 0 && s.kept >= 0 && s.removed >= 0 && s.inactive >= 0,
            "a negative count");
    require(s.inactive <= s.added + s.updated, "more inactive than added and updated");
    for (const auto& item : plan.items) {
        (void)ImportReviewText::ruleText(item, ImportReviewText::Side::file, plan,
                                         SupportedLanguage::english);
        (void)ImportReviewText::ruleText(item, ImportReviewText::Side::local, plan,
                                         SupportedLanguage::german);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto backup = ConfigBackup::read(input);
    if (!backup) {
        (void)backup.error().text(SupportedLanguage::english);
        return 0;
    }
    const auto written = backup->encodedData();
    require(written.has_value(), "a backup that was read does not encode");
    const auto again = ConfigBackup::read(*written);
    // What the reader noted of values it did not know is never written back.
    ConfigBackup expected = *backup;
    expected.payload.unknownURLRuleValues.clear();
    expected.payload.unknownAppRuleModes.clear();
    expected.payload.unknownDefaultAction.reset();
    require(again.has_value() && *again == expected, "a backup does not read back equal");

    static const LockConfiguration local = localConfiguration();
    static const std::vector<InputSource> sources = {
        InputSource{InputSourceID("xkb:us"), "English (US)", false},
        InputSource{InputSourceID("xkb:de"), "German", false}};

    const ImportPlan merged = ImportPlan::make(local, *backup, sources, ImportMode::merge);
    checkResult(merged);
    const LockConfiguration after = merged.apply();
    for (const auto& rule : local.appRules) {
        require(after.appRule(rule.appId) != nullptr, "a default merge lost an app rule");
    }
    for (const auto& rule : local.urlRules) {
        bool found = false;
        for (const auto& kept : after.urlRules) {
            found = found || kept.hostPattern == rule.hostPattern;
        }
        require(found, "a default merge lost a URL rule");
    }
    require(ImportPlan::rebased(merged, local, *backup, sources) == merged,
            "a rebase onto the same configuration changed the plan");

    // The review's section-wide choices, picked by the input's last byte.
    const std::uint8_t choice = size > 0 ? data[size - 1] : 0;
    ImportReviewModel model(merged, [](const ImportPlan& plan) { return plan.outcome(); });
    model.setMode((choice & 1) ? ImportMode::replace : ImportMode::merge);
    model.setAllResolutions((choice & 2) ? ConflictResolution::useFile
                                         : ConflictResolution::keepLocal);
    model.setAllMissingDispositions((choice & 4) ? MissingSourceDisposition::remove
                                                 : MissingSourceDisposition::keep);
    if (choice & 8) {
        model.setURLOrderUseFile(true);
    }
    std::vector<std::string> ids;
    for (const auto& item : model.newAppItems()) {
        ids.push_back(item.id);
    }
    model.setIncludeForItems((choice & 16) != 0, ids);
    checkResult(model.plan());
    (void)model.apply()(model.plan());
    return 0;
}
