#include <gtest/gtest.h>

#include "TesvanoKit/Backup/ImportReviewModel.h"
#include "TesvanoKit/Backup/ImportReviewText.h"

namespace tesvano {
namespace {

// Local: a default, two app rules; the file: a conflict with a source not installed, a new
// app rule with one, a new app rule, an app id given twice, a new URL rule, a conflict.
class ImportReviewModelTest : public ::testing::Test {
protected:
    ImportReviewModelTest() {
        LockConfiguration local;
        local.appRules = {AppRule{"conflict.far", AppRuleMode::locked, InputSourceID("xkb:us")},
                          AppRule{"conflict.near", AppRuleMode::locked, InputSourceID("xkb:us")}};
        ConfigBackup file;
        file.payload.defaultSourceID = InputSourceID("xkb:us");
        file.payload.appRules = {
            AppRule{"conflict.far", AppRuleMode::locked, InputSourceID("xkb:jp")},
            AppRule{"new.far", AppRuleMode::locked, InputSourceID("xkb:jp")},
            AppRule{"new", AppRuleMode::switched, InputSourceID("xkb:us")},
            AppRule{"twice", AppRuleMode::locked, InputSourceID("xkb:us")},
            AppRule{"twice", AppRuleMode::ignored, std::nullopt},
            AppRule{"conflict.near", AppRuleMode::ignored, std::nullopt}};
        file.payload.urlRules = {BackupURLRule{"a.com", InputSourceID("xkb:us")}};
        const std::vector<InputSource> installed = {
            InputSource{InputSourceID("xkb:us"), "English (US)", false}};
        model = std::make_unique<ImportReviewModel>(
            ImportPlan::make(local, file, installed, ImportMode::merge),
            [this](const ImportPlan& plan) {
                applied = plan;
                return plan.outcome();
            });
        model->onPlanChange = [this] { ++planNotes; };
        model->onOverridesChange = [this] { ++overrideNotes; };
    }

    static std::vector<std::string> ids(const std::vector<ImportItem>& items) {
        std::vector<std::string> out;
        for (const auto& item : items) {
            out.push_back(item.id);
        }
        return out;
    }

    std::unique_ptr<ImportReviewModel> model;
    std::optional<ImportPlan> applied;
    int planNotes = 0;
    int overrideNotes = 0;
};

TEST_F(ImportReviewModelTest, ListsSplitTheNewItemsAndMissingSourcesMoveWithTheirInclusion) {
    EXPECT_EQ(ids(model->newAppItems()),
              (std::vector<std::string>{"default", "app:new", "app:twice", "app:twice"}));
    EXPECT_EQ(ids(model->newURLItems()), std::vector<std::string>{"url:a.com"});
    EXPECT_EQ(ids(model->plan().missingSourceItems()), std::vector<std::string>{"app:new.far"});

    model->setInclude("app:new.far", false);
    EXPECT_EQ(ids(model->newAppItems())[1], "app:new.far");
    EXPECT_TRUE(model->plan().missingSourceItems().empty());
    EXPECT_FALSE(model->allMissingRemoved());
}

TEST_F(ImportReviewModelTest, EditsNotifyEvenUnchangedAndUnknownIdsNotifyNobody) {
    const struct {
        const char* name;
        std::function<void(ImportReviewModel&)> edit;
        int planNotes, overrideNotes;
    } cases[] = {
        {"same value", [](auto& m) { m.setInclude("app:new", true); }, 1, 0},
        {"unknown id", [](auto& m) { m.setInclude("app:nothing", false); }, 0, 0},
        {"unknown id, per row",
         [](auto& m) { m.overrideResolution("app:nothing", ConflictResolution::useFile); }, 0, 1},
        {"equal plan", [](auto& m) { m.setPlan(m.plan()); }, 0, 0},
        {"equal overrides", [](auto& m) { m.setConflictOverrides(m.conflictOverrides()); }, 0, 0},
        {"mode written", [](auto& m) { m.setMode(ImportMode::merge); }, 1, 0},
        {"section choice",
         [](auto& m) { m.setAllMissingDispositions(MissingSourceDisposition::keep); }, 8, 1},
        {"both twins", [](auto& m) { m.setIncludeForItems(false, {"app:twice"}); }, 2, 0},
    };
    for (const auto& c : cases) {
        planNotes = overrideNotes = 0;
        c.edit(*model);
        EXPECT_EQ(planNotes, c.planNotes) << c.name;
        EXPECT_EQ(overrideNotes, c.overrideNotes) << c.name;
    }
    // The first twin alone for per-item edits; both for the group edit above.
    model->setInclude("app:twice", true);
    EXPECT_TRUE(model->plan().items[4].include);
    EXPECT_FALSE(model->plan().items[5].include);
    EXPECT_FALSE(model->item("app:nothing").has_value());
}

TEST_F(ImportReviewModelTest, SectionChoicesOverwriteRowsAndForgetTheirOverrides) {
    EXPECT_FALSE(model->allConflictsUseFile());
    model->overrideResolution("app:conflict.near", ConflictResolution::useFile);
    EXPECT_EQ(model->conflictOverrides(), ImportReviewModel::OverrideSet{"app:conflict.near"});
    EXPECT_FALSE(model->allConflictsUseFile()) << "conflict.far is still kept";

    model->setAllResolutions(ConflictResolution::useFile);
    EXPECT_TRUE(model->allConflictsUseFile());
    EXPECT_TRUE(model->conflictOverrides().empty());

    // The file's conflict.far names a source not installed: listed as missing only now.
    EXPECT_EQ(ids(model->plan().missingSourceItems()), (std::vector<std::string>{"app:new.far"}))
        << "a merged conflict is never listed among the missing";
    model->setAllMissingDispositions(MissingSourceDisposition::remove);
    EXPECT_TRUE(model->allMissingRemoved());
    // Applying removes the local conflict.far too: its file source is missing.
    model->apply()(model->plan());
    ASSERT_TRUE(applied.has_value());
    EXPECT_EQ(applied->apply().appRule("conflict.far"), nullptr);
    EXPECT_EQ(applied->summary().removed, 1);
}

TEST(ImportReviewText, EachSideReadsAsTheRuleDoes) {
    ImportPlan plan;
    plan.sourceNames = {{InputSourceID("xkb:de"), "German"}};
    auto app = [](std::optional<AppRuleMode> mode, std::optional<InputSourceID> source) {
        ImportItem item;
        item.subject = ImportItem::App{"x"};
        item.fileMode = mode;
        item.fileSource = std::move(source);
        return item;
    };
    auto url = [](RuleAction action, URLMatchType type) {
        ImportItem item;
        item.subject = ImportItem::URL{"x"};
        item.fileSource = InputSourceID("xkb:de");
        item.fileAction = action;
        item.fileMatchType = type;
        return item;
    };
    ImportItem defaultItem;
    defaultItem.subject = ImportItem::GlobalDefault{};
    defaultItem.localSource = InputSourceID("xkb:ru");
    defaultItem.localAction = RuleAction::switchOnce;
    const struct {
        ImportItem item;
        ImportReviewText::Side side;
        const char* text;
    } cases[] = {
        {app(AppRuleMode::useDefault, InputSourceID("xkb:de")), ImportReviewText::Side::file,
         "Use default"},
        {app(AppRuleMode::ignored, std::nullopt), ImportReviewText::Side::file, "Ignore"},
        {app(AppRuleMode::switched, InputSourceID("xkb:de")), ImportReviewText::Side::file,
         "Switch to German"},
        {app(std::nullopt, InputSourceID("xkb:de")), ImportReviewText::Side::file,
         "Lock to German"},
        {app(AppRuleMode::locked, std::nullopt), ImportReviewText::Side::file, "Default"},
        {url(RuleAction::lock, URLMatchType::domainSuffix), ImportReviewText::Side::file,
         "Lock to German"},
        {url(RuleAction::switchOnce, URLMatchType::urlRegex), ImportReviewText::Side::file,
         "Switch to German \u00B7 URL regex"},
        {url(RuleAction::lock, URLMatchType::domain), ImportReviewText::Side::file,
         "Lock to German \u00B7 Exact domain"},
        {url(RuleAction::lock, URLMatchType::domain), ImportReviewText::Side::local, "Default"},
        {defaultItem, ImportReviewText::Side::local, "Switch to xkb:ru"},
        {defaultItem, ImportReviewText::Side::file, "Default"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ImportReviewText::ruleText(c.item, c.side, plan, SupportedLanguage::english),
                  c.text);
    }
    EXPECT_EQ(ImportReviewText::withCount("Conflicts (%d)", 3, SupportedLanguage::english),
              "Conflicts (3)");
    // Russian writes the source's name after the colon in lower case.
    plan.sourceNames[InputSourceID("xkb:de")] = "Немецкая";
    EXPECT_EQ(
        ImportReviewText::ruleText(app(AppRuleMode::switched, InputSourceID("xkb:de")),
                                   ImportReviewText::Side::file, plan, SupportedLanguage::russian),
        "Переключить: немецкая");
}

TEST(ImportReviewText, EachValueTheReaderDidNotKnowIsOneLineInTheInterfaceLanguage) {
    ImportItem item;
    item.subject = ImportItem::App{"process:xterm"};
    EXPECT_TRUE(ImportReviewText::assumptions(item, SupportedLanguage::english).empty());
    item.unknownFileMode = "sometimes";
    EXPECT_EQ(ImportReviewText::assumptions(item, SupportedLanguage::english),
              (std::vector<std::string>{"Unknown mode “sometimes”: imported as Lock"}));
    item.unknownFileAction = "twice";
    item.unknownFileMatchType = "glob";
    EXPECT_EQ(ImportReviewText::assumptions(item, SupportedLanguage::english).size(), 3u);
    for (const auto language : allCases<SupportedLanguage>()) {
        const auto lines = ImportReviewText::assumptions(item, language);
        ASSERT_EQ(lines.size(), 3u);
        for (const auto& line : lines) {
            EXPECT_EQ(line.find("%@"), std::string::npos) << line;
        }
        EXPECT_NE(lines[1].find("sometimes"), std::string::npos)
            << rawValue(language) << ": " << lines[1];
    }
}

}  // namespace
}  // namespace tesvano
