#include <gtest/gtest.h>

#include "TesvanoKit/Backup/ImportPlan.h"

namespace tesvano {
namespace {

using Status = ImportItem::Status;

InputSource source(const char* id, const char* name) {
    return InputSource{InputSourceID(id), name, false};
}

const std::vector<InputSource> installed = {source("xkb:us", "English (US)"),
                                            source("xkb:de", "German")};

URLRule url(const char* pattern, const char* id, RuleAction action = RuleAction::lock,
            URLMatchType type = URLMatchType::domainSuffix) {
    return URLRule{Uuid::random(), pattern, InputSourceID(id), action, type};
}

BackupURLRule fileURL(const char* pattern, const char* id, RuleAction action = RuleAction::lock,
                      URLMatchType type = URLMatchType::domainSuffix) {
    return BackupURLRule{pattern, InputSourceID(id), action, type};
}

std::vector<std::string> patterns(const LockConfiguration& c) {
    std::vector<std::string> out;
    for (const auto& rule : c.urlRules) {
        out.push_back(rule.hostPattern);
    }
    return out;
}

const ImportItem& itemWithID(const ImportPlan& plan, const std::string& id) {
    for (const auto& item : plan.items) {
        if (item.id == id) {
            return item;
        }
    }
    throw std::runtime_error("no item " + id);
}

ImportItem& itemWithID(ImportPlan& plan, const std::string& id) {
    return const_cast<ImportItem&>(itemWithID(std::as_const(plan), id));
}

TEST(ImportPlan, ComparesEachFileRuleWithTheLocalOne) {
    LockConfiguration local;
    local.defaultSourceID = InputSourceID("xkb:us");
    local.appRules = {AppRule{"ign", AppRuleMode::ignored, InputSourceID("xkb:us")},
                      AppRule{"bare", AppRuleMode::locked, std::nullopt},
                      AppRule{"held", AppRuleMode::locked, InputSourceID("xkb:us")},
                      AppRule{"only.local", AppRuleMode::locked, InputSourceID("xkb:us")}};
    local.urlRules = {url("a.com", "xkb:us"), url("B.com", "xkb:de")};
    ConfigBackup file;
    file.payload.defaultSourceID = InputSourceID("xkb:us");
    file.payload.defaultAction = RuleAction::switchOnce;
    file.payload.appRules = {
        AppRule{"ign", AppRuleMode::ignored, InputSourceID("xkb:de")},
        AppRule{"bare", AppRuleMode::locked, std::nullopt},
        AppRule{"held", AppRuleMode::locked, std::nullopt},
        AppRule{"other.machine", AppRuleMode::switched, InputSourceID("xkb:jp")}};
    file.payload.urlRules = {fileURL("a.com", "xkb:us"), fileURL("a.com", "xkb:de"),
                             fileURL("b.com", "xkb:de")};
    file.payload.sourceNames = {{"xkb:us", "US from the file"}, {"xkb:jp", "Japanese"}};
    const auto plan = ImportPlan::make(local, file, installed, ImportMode::merge);

    const std::vector<std::pair<std::string, Status>> expected = {
        {"default", Status::conflict},        // same source, other action
        {"app:ign", Status::unchanged},       // neither side's stored source counts
        {"app:bare", Status::unchanged},      // both locked without a source
        {"app:held", Status::conflict},       // one side has a source
        {"app:other.machine", Status::new_},  // an application unknown here is a new item
        {"url:a.com", Status::unchanged},     // the file's repeat of a.com is dropped
        {"url:b.com", Status::conflict},      // B.com's rule: patterns match in any case
    };
    ASSERT_EQ(plan.items.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(plan.items[i].id, expected[i].first);
        EXPECT_EQ(plan.items[i].status, expected[i].second) << expected[i].first;
        EXPECT_TRUE(plan.items[i].include);
    }
    EXPECT_EQ(plan.items[0].localAction, RuleAction::lock);
    EXPECT_EQ(plan.localOnlyAppRuleCount, 1);
    EXPECT_EQ(plan.localOnlyURLRuleCount, 0);
    EXPECT_EQ(plan.sourceName(InputSourceID("xkb:us")), "English (US)");  // local name wins
    EXPECT_EQ(plan.sourceName(InputSourceID("xkb:jp")), "Japanese");
    EXPECT_EQ(plan.sourceName(InputSourceID("xkb:xx")), "xkb:xx");
    // The application from elsewhere names a source not installed here: listed as missing.
    const auto missing = plan.missingSourceItems();
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].id, "app:other.machine");
    EXPECT_TRUE(plan.newItems().empty());

    ConfigBackup noRules;
    const auto empty = ImportPlan::make(local, noRules, installed, ImportMode::merge);
    EXPECT_TRUE(empty.items.empty());
    EXPECT_EQ(empty.localOnlyAppRuleCount, 4);
    EXPECT_EQ(empty.localOnlyURLRuleCount, 2);
}

TEST(ImportPlan, URLOrderDiffersOnlyInTheRulesBothSidesHave) {
    const struct {
        std::vector<const char*> local, file;
        bool differs;
    } cases[] = {
        {{"a", "b", "c"}, {"c", "a"}, true},
        {{"a", "b", "c"}, {"a", "x", "c"}, false},
        {{"a"}, {}, false},
        {{"a", "b"}, {"b", "b", "a"}, true},
    };
    for (const auto& c : cases) {
        LockConfiguration local;
        for (const char* p : c.local) {
            local.urlRules.push_back(url(p, "xkb:us"));
        }
        ConfigBackup file;
        for (const char* p : c.file) {
            file.payload.urlRules.push_back(fileURL(p, "xkb:us"));
        }
        EXPECT_EQ(ImportPlan::make(local, file, installed, ImportMode::merge).urlOrderDiffers,
                  c.differs);
    }
}

TEST(ImportPlan, IdenticalFileChangesNothingInEitherMode) {
    LockConfiguration local;
    local.isEnabled = true;
    local.defaultSourceID = InputSourceID("xkb:us");
    local.appRules = {AppRule{"z.app", AppRuleMode::locked, InputSourceID("xkb:de")},
                      AppRule{"a.app", AppRuleMode::useDefault, std::nullopt}};
    local.urlRules = {url("a.com", "xkb:us"), url("b.com", "xkb:de")};
    const auto file = ConfigBackup::fromConfiguration(local, "1", {});

    auto plan = ImportPlan::make(local, file, installed, ImportMode::merge);
    auto sorted = local;
    std::swap(sorted.appRules[0], sorted.appRules[1]);
    EXPECT_EQ(plan.apply(), sorted);
    EXPECT_EQ(plan.summary(), ImportSummary{});

    plan.mode = ImportMode::replace;
    const auto replaced = plan.apply();
    EXPECT_EQ(replaced.appRules, sorted.appRules);
    EXPECT_EQ(patterns(replaced), patterns(local));
    EXPECT_NE(replaced.urlRules[0].id, local.urlRules[0].id);
    EXPECT_EQ(plan.summary(), ImportSummary{});
}

TEST(ImportPlan, ChoicesDecideWhatIsWrittenAndCounted) {
    LockConfiguration local;
    local.defaultSourceID = InputSourceID("xkb:us");
    local.defaultAction = RuleAction::switchOnce;
    local.appRules = {AppRule{"keep.me", AppRuleMode::locked, InputSourceID("xkb:us")},
                      AppRule{"conflict", AppRuleMode::locked, InputSourceID("xkb:us")}};
    local.urlRules = {url("a.com", "xkb:us"), url("b.com", "xkb:us")};
    ConfigBackup file;
    file.payload.appRules = {
        AppRule{"conflict", AppRuleMode::switched, InputSourceID("xkb:jp")},
        AppRule{"new.missing", AppRuleMode::locked, InputSourceID("xkb:jp")},
        AppRule{"new.excluded", AppRuleMode::locked, InputSourceID("xkb:de")},
        AppRule{"new.default", AppRuleMode::useDefault, InputSourceID("xkb:de")}};
    file.payload.urlRules = {fileURL("b.com", "xkb:us"), fileURL("a.com", "xkb:us")};

    struct Case {
        const char* name;
        std::function<void(ImportPlan&)> choose;
        ImportSummary summary;
        std::vector<std::string> apps;
        std::vector<std::string> urls;
    };
    const std::vector<Case> cases = {
        {"defaults: keep the conflict, import the missing source",
         [](ImportPlan& p) { itemWithID(p, "app:new.excluded").include = false; },
         {.added = 2, .kept = 1, .inactive = 1},
         {"conflict", "keep.me", "new.default", "new.missing"},
         {"a.com", "b.com"}},
        {"missing source removed is not imported",
         [](ImportPlan& p) {
             itemWithID(p, "app:new.missing").missingDisposition = MissingSourceDisposition::remove;
         },
         {.added = 2, .kept = 1},
         {"conflict", "keep.me", "new.default", "new.excluded"},
         {"a.com", "b.com"}},
        {"file's conflict with a missing source, removed, deletes the local rule",
         [](ImportPlan& p) {
             auto& item = itemWithID(p, "app:conflict");
             item.resolution = ConflictResolution::useFile;
             item.missingDisposition = MissingSourceDisposition::remove;
             p.urlOrderUseFile = true;
         },
         {.added = 3, .updated = 2, .removed = 1, .inactive = 1},
         {"keep.me", "new.default", "new.excluded", "new.missing"},
         {"b.com", "a.com"}},
        {"replace drops local-only rules and keeps the default",
         [](ImportPlan& p) { p.mode = ImportMode::replace; },
         {.added = 3, .updated = 3, .removed = 1, .inactive = 2},
         {"conflict", "new.default", "new.excluded", "new.missing"},
         {"b.com", "a.com"}},
    };
    for (const auto& c : cases) {
        auto plan = ImportPlan::make(local, file, installed, ImportMode::merge);
        c.choose(plan);
        EXPECT_EQ(plan.summary(), c.summary) << c.name;
        const auto after = plan.apply();
        std::vector<std::string> apps;
        for (const auto& rule : after.appRules) {
            apps.push_back(rule.appId);
        }
        EXPECT_EQ(apps, c.apps) << c.name;
        EXPECT_EQ(patterns(after), c.urls) << c.name;
        EXPECT_EQ(after.defaultSourceID, local.defaultSourceID) << c.name;
        EXPECT_EQ(after.defaultAction, RuleAction::switchOnce) << c.name;
        if (const auto* rule = after.appRule("new.default")) {
            EXPECT_FALSE(rule->lockedSourceID.has_value()) << "use-default carries no source";
        }
        EXPECT_EQ(plan.outcome(),
                  (ImportOutcome{c.summary.added + c.summary.updated, c.summary.inactive}));
    }
}

TEST(ImportPlan, RoundTripIntoAnEmptyAndADifferentConfigurationKeepsEveryField) {
    LockConfiguration source;
    source.defaultSourceID = InputSourceID("xkb:de");
    source.defaultAction = RuleAction::switchOnce;
    source.appRules = {AppRule{"a.app", AppRuleMode::switched, InputSourceID("xkb:us")},
                       AppRule{"b.app", AppRuleMode::ignored, std::nullopt},
                       AppRule{"c.app", AppRuleMode::useDefault, std::nullopt}};
    source.urlRules = {url("x.org/a", "xkb:us", RuleAction::switchOnce, URLMatchType::domain),
                       url("y", "xkb:de", RuleAction::lock, URLMatchType::domainKeyword),
                       url("^z$", "xkb:us", RuleAction::lock, URLMatchType::urlRegex)};
    const auto text = ConfigBackup::fromConfiguration(source, "1", {}).encodedData();
    ASSERT_TRUE(text.has_value());
    const auto backup = ConfigBackup::read(*text);
    ASSERT_TRUE(backup.has_value());

    LockConfiguration different;
    different.isEnabled = true;
    different.revertsInSecureInput = true;
    different.appRules = {AppRule{"a.app", AppRuleMode::locked, InputSourceID("xkb:de")}};
    different.urlRules = {url("y", "xkb:us")};
    for (const auto& target : {LockConfiguration{}, different}) {
        auto plan = ImportPlan::make(target, *backup, installed, ImportMode::replace);
        auto after = plan.apply();
        EXPECT_EQ(after.defaultSourceID, source.defaultSourceID);
        EXPECT_EQ(after.defaultAction, source.defaultAction);
        EXPECT_EQ(after.appRules, source.appRules);
        ASSERT_EQ(after.urlRules.size(), source.urlRules.size());
        for (std::size_t i = 0; i < source.urlRules.size(); ++i) {
            after.urlRules[i].id = source.urlRules[i].id;
        }
        EXPECT_EQ(after.urlRules, source.urlRules);
        // What a backup does not carry stays as it was here.
        EXPECT_EQ(after.isEnabled, target.isEnabled);
        EXPECT_EQ(after.revertsInSecureInput, target.revertsInSecureInput);
    }
}

TEST(ImportPlan, EveryRuleSaysWhatOfItTheReaderDidNotKnow) {
    LockConfiguration local;
    local.defaultSourceID = InputSourceID("xkb:us");
    local.appRules = {AppRule{"mine", AppRuleMode::ignored, std::nullopt}};
    const auto backup = ConfigBackup::read(R"({"format": "com.quorvel.Tesvano.backup",
        "payload": {"defaultSourceID": "xkb:de", "defaultAction": "twice",
        "appRules": [{"bundleID": "", "mode": "left.out"},
                     {"bundleID": "process:xterm", "mode": "sometimes", "lockedSourceID": "xkb:de"},
                     {"bundleID": "mine", "mode": "often", "lockedSourceID": "xkb:de"},
                     {"bundleID": "known", "mode": "switched", "lockedSourceID": "xkb:de"}],
        "urlRules": [{"hostPattern": "a.com", "lockedSourceID": "xkb:de", "matchType": "glob"}]}})");
    ASSERT_TRUE(backup.has_value());
    for (const auto mode : {ImportMode::merge, ImportMode::replace}) {
        const auto plan = ImportPlan::make(local, *backup, installed, mode);
        const struct {
            const char* id;
            Status status;
            std::optional<std::string> action, mode, matchType;
        } expected[] = {
            {"default", Status::conflict, "twice", std::nullopt, std::nullopt},
            // Planned as the Lock it is read as; the left-out rule before it moves no index.
            {"app:process:xterm", Status::new_, std::nullopt, "sometimes", std::nullopt},
            {"app:mine", Status::conflict, std::nullopt, "often", std::nullopt},
            {"app:known", Status::new_, std::nullopt, std::nullopt, std::nullopt},
            {"url:a.com", Status::new_, std::nullopt, std::nullopt, "glob"},
        };
        ASSERT_EQ(plan.items.size(), std::size(expected));
        for (const auto& e : expected) {
            const auto& item = itemWithID(plan, e.id);
            EXPECT_EQ(item.status, e.status) << e.id;
            EXPECT_EQ(item.unknownFileAction, e.action) << e.id;
            EXPECT_EQ(item.unknownFileMode, e.mode) << e.id;
            EXPECT_EQ(item.unknownFileMatchType, e.matchType) << e.id;
        }
        EXPECT_EQ(itemWithID(plan, "app:process:xterm").fileMode, AppRuleMode::locked);
        EXPECT_EQ(itemWithID(plan, "default").fileAction, RuleAction::lock);
        EXPECT_EQ(plan.leftOutRuleCount, 1);
    }
}

// A rule the same as the local one only once its unknown value is read as Lock changes
// nothing, and is still listed, so that the review can name the value.
TEST(ImportPlan, UnchangedRulesWithValuesTheReaderDidNotKnowAreListed) {
    LockConfiguration local;
    local.defaultSourceID = InputSourceID("xkb:us");
    local.appRules = {AppRule{"odd", AppRuleMode::locked, InputSourceID("xkb:de")},
                      AppRule{"plain", AppRuleMode::locked, InputSourceID("xkb:de")},
                      AppRule{"other", AppRuleMode::switched, InputSourceID("xkb:de")}};
    local.urlRules = {URLRule{Uuid::random(), "a.com", InputSourceID("xkb:de")}};
    const auto backup = ConfigBackup::read(R"({"format": "com.quorvel.Tesvano.backup",
        "payload": {"defaultSourceID": "xkb:us", "defaultAction": "twice",
        "appRules": [{"bundleID": "odd", "mode": "sometimes", "lockedSourceID": "xkb:de"},
                     {"bundleID": "plain", "mode": "locked", "lockedSourceID": "xkb:de"},
                     {"bundleID": "other", "mode": "often", "lockedSourceID": "xkb:de"}],
        "urlRules": [{"hostPattern": "a.com", "lockedSourceID": "xkb:de", "action": "x"}]}})");
    ASSERT_TRUE(backup.has_value());
    for (const auto mode : {ImportMode::merge, ImportMode::replace}) {
        const auto plan = ImportPlan::make(local, *backup, installed, mode);
        std::vector<std::string> ids;
        for (const auto& item : plan.unchangedAsReadItems()) {
            EXPECT_EQ(item.status, Status::unchanged) << item.id;
            ids.push_back(item.id);
        }
        // "other" reads as Lock where the local rule switches: a conflict, listed as one.
        EXPECT_EQ(ids, (std::vector<std::string>{"default", "app:odd", "url:a.com"}));
        ImportSummary expectedSummary;
        expectedSummary.updated = mode == ImportMode::replace ? 1 : 0;
        expectedSummary.kept = mode == ImportMode::merge ? 1 : 0;
        EXPECT_EQ(plan.summary(), expectedSummary);
    }
}

TEST(ImportPlan, RebasingKeepsChangesMadeDuringTheReviewAndTheUsersChoices) {
    LockConfiguration opened;
    opened.appRules = {AppRule{"conflict", AppRuleMode::locked, InputSourceID("xkb:us")}};
    ConfigBackup file;
    file.payload.appRules = {
        AppRule{"conflict", AppRuleMode::locked, InputSourceID("xkb:de")},
        AppRule{"skip", AppRuleMode::locked, InputSourceID("xkb:de")},
        AppRule{"added.meanwhile", AppRuleMode::locked, InputSourceID("xkb:de")}};
    file.payload.urlRules = {fileURL("a.com", "xkb:de")};
    auto reviewed = ImportPlan::make(opened, file, installed, ImportMode::merge);
    itemWithID(reviewed, "app:conflict").resolution = ConflictResolution::useFile;
    itemWithID(reviewed, "app:skip").include = false;
    reviewed.urlOrderUseFile = true;

    // Meanwhile: the lock toggled by a shortcut, an app rule and a URL rule set by commands.
    LockConfiguration now = opened;
    now.isEnabled = true;
    now.appRules.push_back(AppRule{"added.meanwhile", AppRuleMode::ignored, std::nullopt});
    now.urlRules = {url("mine.org", "xkb:us")};

    const auto stale = reviewed.apply();
    EXPECT_FALSE(stale.isEnabled) << "the old plan would revert the changes";

    const auto plan = ImportPlan::rebased(reviewed, now, file, installed);
    EXPECT_EQ(plan.baseConfig, now);
    EXPECT_EQ(plan.urlOrderUseFile, std::optional<bool>(true));
    EXPECT_EQ(itemWithID(plan, "app:added.meanwhile").status, Status::conflict);
    const auto after = plan.apply();
    EXPECT_TRUE(after.isEnabled);
    EXPECT_EQ(
        after.appRules,
        (std::vector<AppRule>{AppRule{"added.meanwhile", AppRuleMode::ignored, std::nullopt},
                              AppRule{"conflict", AppRuleMode::locked, InputSourceID("xkb:de")}}));
    EXPECT_EQ(patterns(after), (std::vector<std::string>{"a.com", "mine.org"}));

    // Unchanged configuration: the same plan back.
    EXPECT_EQ(ImportPlan::rebased(reviewed, opened, file, installed), reviewed);
}

}  // namespace
}  // namespace tesvano
