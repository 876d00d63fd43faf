#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <thread>

#include "Tesvano/Settings/AppRules/AppPickerDialog.h"
#include "Tesvano/Settings/AppRules/AppRulesModel.h"
#include "Tesvano/Settings/AppRules/AppRulesSettingsPane.h"
#include "Tesvano/Settings/AppRules/InstalledAppsModel.h"
#include "Tesvano/Settings/Components/AccessibilityRequiredNote.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

QStringList items(const QComboBox* menu) {
    QStringList out;
    for (int i = 0; i < menu->count(); ++i) {
        out << menu->itemText(i);
    }
    return out;
}

// Chooses an item as the user does: the menu reports an activation.
void choose(QComboBox* menu, const char* text) {
    const int index = menu->findText(QString::fromUtf8(text));
    ASSERT_GE(index, 0) << text << " is not in " << items(menu).join(u',').toStdString();
    menu->setCurrentIndex(index);
    emit menu->activated(index);
}

QStringList actionTexts(const QMenu* menu) {
    QStringList out;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator()) {
            // Marked, not checkable: no empty boxes beside the other items.
            EXPECT_FALSE(action->isCheckable()) << action->text().toStdString();
            out << action->text() +
                       (action->property("current").toBool() ? QStringLiteral(" *") : QString());
        }
    }
    return out;
}

void trigger(QMenu* menu, const char* text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == QString::fromUtf8(text)) {
            action->trigger();
            return;
        }
    }
    ADD_FAILURE() << text << " is not in " << actionTexts(menu).join(u',').toStdString();
}

AppRule ruleOf(const AppState& state, std::string_view id) {
    const AppRule* rule = state.config().appRule(id);
    return rule != nullptr ? *rule : AppRule{};
}

const std::vector<InstalledApp> someApps{
    {"org.gnome.TextEditor", "Text Editor", "/usr/share/applications/org.gnome.TextEditor.desktop"},
    {"firefox-esr", "Firefox ESR", "/usr/share/applications/firefox-esr.desktop"},
    {"process:htop", "htop", "/usr/bin/htop"},
};

class AppRulesPaneTest : public test::AppFixture {
protected:
    AppState& started() {
        auto& s = makeState();
        s.start();
        QObject::connect(&s, &AppState::configChanged, [this] { ++edits; });
        return s;
    }
    AppPickerDialog::Scan scanGiving(std::vector<InstalledApp> apps) {
        return [apps](const InstalledAppsScanner::Environment&) { return apps; };
    }
    bool visible(QWidget* widget) { return widget->isVisibleTo(widget->window()); }

    int edits = 0;
};

TEST_F(AppRulesPaneTest, GlobalDefaultShowsAndSetsTheSourceAndItsBehavior) {
    auto& s = started();
    s.setDefaultSource(std::nullopt, RuleAction::lock);
    s.setDefaultSource(InputSourceID("xkb:us"), RuleAction::switchOnce);
    s.setDefaultSourceID(std::nullopt);  // the stored behaviour stays
    AppRulesSettingsPane pane(s);
    pane.show();
    auto* form = pane.defaultSourceMenu()->parentWidget()->findChild<QFormLayout*>();
    auto behaviorShown = [&] { return form->isRowVisible(pane.defaultBehaviorMenu()); };

    EXPECT_EQ(items(pane.defaultSourceMenu()), test::texts({"None", "English (US)", "German"}));
    EXPECT_EQ(pane.defaultSourceMenu()->currentText(), QStringLiteral("None"));
    EXPECT_FALSE(behaviorShown());

    edits = 0;
    choose(pane.defaultSourceMenu(), "German");
    EXPECT_EQ(s.config().defaultSourceID, InputSourceID("xkb:de"));
    EXPECT_TRUE(behaviorShown());
    EXPECT_EQ(pane.defaultBehaviorMenu()->currentText(), QStringLiteral("Switch to"));
    choose(pane.defaultBehaviorMenu(), "Lock to");
    EXPECT_EQ(s.config().defaultAction, RuleAction::lock);
    EXPECT_EQ(s.config().defaultSourceID, InputSourceID("xkb:de"));
    choose(pane.defaultSourceMenu(), "None");
    EXPECT_FALSE(s.config().defaultSourceID);
    EXPECT_FALSE(behaviorShown());
    EXPECT_EQ(edits, 3) << "one commit per choice";

    // A change from elsewhere shows at once; a source that went away shows by its id.
    s.lockToSource(InputSourceID("xkb:fr"));
    EXPECT_EQ(pane.defaultSourceMenu()->currentText(), QStringLiteral("xkb:fr"));

    s.setNewAppRuleMode(AppRuleMode::useDefault);
    EXPECT_EQ(pane.newRuleModeMenu()->currentText(), QStringLiteral("Use default"));
    choose(pane.newRuleModeMenu(), "Ignore");
    EXPECT_EQ(s.newAppRuleMode(), AppRuleMode::ignored);
    EXPECT_EQ(defaults.string("newAppRuleMode"), "ignored");
    EXPECT_EQ(items(pane.newRuleModeMenu()),
              test::texts({"Lock to", "Switch to", "Ignore", "Use default"}));
}

TEST_F(AppRulesPaneTest, RowsEditModeAndSourceAsWholeRulesAndRemoveOnce) {
    using Control = AppRuleDelegate::Control;
    auto& s = started();
    s.upsertAppRule({"org.gnome.TextEditor", AppRuleMode::locked, InputSourceID("xkb:de")});
    s.upsertAppRule({"firefox-esr", AppRuleMode::useDefault, std::nullopt});
    AppRulesSettingsPane pane(s);
    pane.resize(640, 600);
    pane.show();
    QAbstractItemModelTester tester(pane.ruleList()->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto& rules = pane.rules();
    auto shows = [&](int row, int role) { return rules.index(row).data(role).toString(); };
    ASSERT_EQ(rules.rowCount(), 2);
    EXPECT_EQ(shows(0, AppRulesModel::IdentityRole), QStringLiteral("firefox-esr"));
    EXPECT_TRUE(pane.controlRect(0, Control::source).isEmpty()) << "no source for Use default";
    EXPECT_EQ(shows(1, AppRulesModel::ModeTextRole), QStringLiteral("Lock to"));
    EXPECT_EQ(shows(1, AppRulesModel::SourceTextRole), QStringLiteral("German"));
    EXPECT_FALSE(pane.controlRect(1, Control::source).isEmpty());
    EXPECT_FALSE(visible(pane.emptyLine()));

    // A click on a drawn menu opens that menu; its choice is one whole new rule.
    edits = 0;
    QTest::mouseClick(pane.ruleList()->viewport(), Qt::LeftButton, {},
                      pane.controlRect(1, Control::mode).center());
    ASSERT_TRUE(pane.openMenu());
    EXPECT_EQ(actionTexts(pane.openMenu()),
              test::texts({"Lock to *", "Switch to", "Ignore", "Use default"}));
    trigger(pane.openMenu(), "Ignore");
    EXPECT_EQ(ruleOf(s, "org.gnome.TextEditor"),
              (AppRule{"org.gnome.TextEditor", AppRuleMode::ignored, InputSourceID("xkb:de")}));
    EXPECT_TRUE(pane.controlRect(1, Control::source).isEmpty());
    trigger(pane.menuFor(1, Control::mode), "Switch to");
    EXPECT_EQ(shows(1, AppRulesModel::SourceTextRole), QStringLiteral("German"))
        << "the stored source comes back";
    QTest::mouseClick(pane.ruleList()->viewport(), Qt::LeftButton, {},
                      pane.controlRect(1, Control::source).center());
    ASSERT_TRUE(pane.openMenu());
    EXPECT_EQ(actionTexts(pane.openMenu()), test::texts({"English (US)", "German *"}))
        << "the default is a mode of its own, not a source to lock to";
    trigger(pane.openMenu(), "English (US)");
    EXPECT_EQ(ruleOf(s, "org.gnome.TextEditor"),
              (AppRule{"org.gnome.TextEditor", AppRuleMode::switched, InputSourceID("xkb:us")}));
    EXPECT_EQ(edits, 3);

    // Cycling from elsewhere (from the current source, English) shows in the row.
    ASSERT_TRUE(s.cycleAppSource("firefox-esr", CycleDirection::next));
    EXPECT_EQ(shows(0, AppRulesModel::ModeTextRole), QStringLiteral("Lock to"));
    EXPECT_FALSE(pane.controlRect(0, Control::source).isEmpty());

    // The row's context menu holds the same choices and the removal.
    EXPECT_EQ(actionTexts(pane.menuFor(0, Control::none)),
              test::texts({"Lock to *", "Switch to", "Ignore", "Use default", "English (US)",
                           "German *", "Remove rule"}));

    edits = 0;
    QTest::mouseClick(pane.ruleList()->viewport(), Qt::LeftButton, {},
                      pane.controlRect(1, Control::remove).center());
    processEvents();
    EXPECT_EQ(edits, 1);
    EXPECT_FALSE(s.config().appRule("org.gnome.TextEditor"));
    ASSERT_EQ(rules.rowCount(), 1);
    s.removeAllAppRules();
    EXPECT_EQ(rules.rowCount(), 0);
    EXPECT_TRUE(visible(pane.emptyLine()));
    EXPECT_FALSE(visible(pane.ruleList()));
    EXPECT_TRUE(visible(pane.addAppButton()));
    EXPECT_FALSE(visible(pane.launcherNote()));
    processEvents();
}

TEST_F(AppRulesPaneTest, AddedAppsStartInTheNewRuleModeWithTheDefaultSource) {
    auto& s = started();
    s.setDefaultSourceID(InputSourceID("xkb:de"));
    s.setNewAppRuleMode(AppRuleMode::ignored);
    AppRulesSettingsPane pane(s, nullptr, scanGiving(someApps));
    pane.show();

    pane.addAppButton()->click();
    ASSERT_TRUE(pane.picker());
    pane.picker()->waitForScan();
    edits = 0;
    pane.picker()->select(1);  // Firefox ESR, in scan order
    EXPECT_EQ(edits, 1);
    EXPECT_EQ(
        s.config().appRules,
        (std::vector<AppRule>{{"firefox-esr", AppRuleMode::ignored, InputSourceID("xkb:de")}}));
    processEvents();
    EXPECT_FALSE(pane.picker()) << "the dialog closes itself";

    // Choosing it again replaces the edited rule with the starting values.
    s.upsertAppRule({"firefox-esr", AppRuleMode::locked, InputSourceID("xkb:us")});
    s.setNewAppRuleMode(AppRuleMode::switched);
    s.setDefaultSourceID(std::nullopt);
    pane.addRule({"firefox-esr", "Firefox ESR", ""});
    EXPECT_EQ(s.config().appRules,
              (std::vector<AppRule>{{"firefox-esr", AppRuleMode::switched, std::nullopt}}));
    EXPECT_EQ(pane.rules().rowCount(), 1);
}

TEST_F(AppRulesPaneTest, LauncherNoteFollowsTheRulesAndTheGrant) {
    auto& s = started();
    AppRulesSettingsPane pane(s);
    pane.show();
    struct Step {
        std::function<void()> act;
        bool noteShown;
    };
    const Step steps[] = {
        {[&] {
             s.upsertAppRule({"firefox-esr", AppRuleMode::locked, std::nullopt});
         },
         false},
        {[&] {
             s.upsertAppRule({"org.kde.krunner", AppRuleMode::locked, std::nullopt});
         },
         true},
        {[&] {
             accessibility.setTrusted(true);
             s.refreshAccessibilityStatus();
         },
         false},
        {[&] {
             accessibility.setTrusted(false);
             pane.hide();
             pane.show();  // shown again: the grant is read afresh
         },
         true},
        {[&] { s.removeAppRule("org.kde.krunner"); }, false},
    };
    int i = 0;
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(visible(pane.launcherNote()), step.noteShown) << "step " << i++;
    }
    processEvents();
}

TEST_F(AppRulesPaneTest, WithoutSourcesTheMenusOfferOnlyNoSource) {
    system.installed.clear();
    system.currentID.reset();
    auto& s = started();
    s.upsertAppRule({"firefox-esr", AppRuleMode::locked, std::nullopt});
    AppRulesSettingsPane pane(s);
    EXPECT_EQ(items(pane.defaultSourceMenu()), test::texts({"None"}));
    EXPECT_EQ(actionTexts(pane.menuFor(0, AppRuleDelegate::Control::source)),
              test::texts({"None"}));
}

class AppPickerTest : public AppRulesPaneTest {
protected:
    AppPickerDialog& picker(std::vector<InstalledApp> apps) {
        dialog = std::make_unique<AppPickerDialog>(
            started(), [this](const InstalledApp& app) { chosen.push_back(app); }, nullptr,
            scanGiving(std::move(apps)));
        dialog->show();
        dialog->waitForScan();
        return *dialog;
    }
    QStringList shownNames() {
        QStringList out;
        auto* model = dialog->list()->model();
        for (int i = 0; i < model->rowCount(); ++i) {
            out << model->index(i, 0).data().toString();
        }
        return out;
    }

    std::unique_ptr<AppPickerDialog> dialog;
    std::vector<InstalledApp> chosen;
};

TEST_F(AppPickerTest, TheSearchFieldHasTheFocusWhenThePickerOpensAndKeepsItOnceTheListShows) {
    auto& s = started();
    AppRulesSettingsPane pane(s, nullptr, scanGiving(someApps));
    pane.show();
    pane.addAppButton()->click();
    ASSERT_TRUE(pane.picker());
    processEvents();
    EXPECT_EQ(pane.picker()->focusWidget(), pane.picker()->searchField());
    pane.picker()->waitForScan();
    processEvents();
    ASSERT_EQ(pane.picker()->content(), AppPickerDialog::Content::list);
    EXPECT_EQ(pane.picker()->focusWidget(), pane.picker()->searchField());
    // A picker opened again starts there too.
    pane.picker()->reject();
    processEvents();
    pane.addAppButton()->click();
    ASSERT_TRUE(pane.picker());
    processEvents();
    EXPECT_EQ(pane.picker()->focusWidget(), pane.picker()->searchField());
}

TEST_F(AppPickerTest, SearchFiltersByNameOrIdentityAndSaysWhenNothingMatches) {
    auto& p = picker(someApps);
    QAbstractItemModelTester tester(p.list()->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    struct Case {
        const char* query;
        std::initializer_list<const char*> shown;
    };
    const Case cases[] = {
        {"", {"Text Editor", "Firefox ESR", "htop"}},
        {"EDIT", {"Text Editor"}},
        {"gnome", {"Text Editor"}},
        {"process:", {"htop"}},
        {" ", {"Text Editor", "Firefox ESR"}},
        {"ox", {"Firefox ESR"}},
        {"e", {"Text Editor", "Firefox ESR", "htop"}},  // "process:htop"
    };
    for (const auto& c : cases) {
        p.searchField()->setText(QString::fromUtf8(c.query));
        EXPECT_EQ(shownNames(), test::texts(c.shown)) << '"' << c.query << '"';
        EXPECT_EQ(p.content(), AppPickerDialog::Content::list);
    }
    p.searchField()->setText(QStringLiteral("nothing like it"));
    EXPECT_EQ(p.content(), AppPickerDialog::Content::noResults);
    p.searchField()->clear();
    EXPECT_EQ(p.content(), AppPickerDialog::Content::list);
    EXPECT_TRUE(chosen.empty());
}

TEST_F(AppPickerTest, AnEmptyScanKeepsTheLoadingView) {
    auto& p = picker({});
    EXPECT_EQ(p.content(), AppPickerDialog::Content::loading);
    p.searchField()->setText(QStringLiteral("x"));
    EXPECT_EQ(p.content(), AppPickerDialog::Content::loading);
}

TEST_F(AppPickerTest, TypedIdentitiesAreAcceptedOrRefusedAndChosenOnce) {
    struct Case {
        const char* typed;
        const char* accepted;  // empty: refused
    };
    const Case cases[] = {
        {"  org.example.Tool \n", "org.example.Tool"},
        {"org example", ""},
        {"process:My Tool", "process:My Tool"},
        {"process:", "process:"},
        {"   ", ""},
    };
    for (const auto& c : cases) {
        chosen.clear();
        auto& p = picker(someApps);
        p.manualField()->setText(QString::fromUtf8(c.typed));
        const bool accepted = *c.accepted != '\0';
        EXPECT_EQ(p.addButton()->isEnabled(), accepted) << c.typed;
        QTest::keyClick(p.manualField(), Qt::Key_Return);
        p.addButton()->click();  // after an accepted Return: already chosen
        if (accepted) {
            ASSERT_EQ(chosen.size(), 1u) << c.typed;
            EXPECT_EQ(chosen[0], (InstalledApp{c.accepted, c.accepted, ""}));
            EXPECT_EQ(p.result(), QDialog::Accepted);
        } else {
            EXPECT_TRUE(chosen.empty()) << c.typed;
            EXPECT_TRUE(p.isVisible()) << "stays open";
            EXPECT_EQ(p.manualField()->text(), QString::fromUtf8(c.typed));
        }
    }
}

TEST_F(AppPickerTest, ARowIsChosenOnceAndCancelChoosesNothing) {
    auto& p = picker(someApps);
    p.searchField()->setText(QStringLiteral("htop"));
    const QModelIndex row = p.list()->model()->index(0, 0);
    emit p.list()->clicked(row);
    emit p.list()->activated(row);  // a double click
    EXPECT_EQ(chosen, (std::vector<InstalledApp>{someApps[2]}));
    EXPECT_FALSE(p.isVisible());

    chosen.clear();
    auto& again = picker(someApps);
    again.cancelButton()->click();
    EXPECT_TRUE(chosen.empty());
    EXPECT_EQ(again.result(), QDialog::Rejected);
}

TEST_F(AppPickerTest, TheScanRunsOffTheMainThreadOnWhatTheMainThreadRead) {
    workspace.addRunning({42, std::nullopt, "/usr/bin/htop"});
    const auto mainThread = std::this_thread::get_id();
    std::thread::id scannedOn;
    InstalledAppsScanner::Environment seen;
    auto& s = started();
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::german));
    AppPickerDialog p(
        s, [](const InstalledApp&) {}, nullptr,
        [&](const InstalledAppsScanner::Environment& environment) {
            scannedOn = std::this_thread::get_id();
            seen = environment;
            return someApps;
        });
    EXPECT_EQ(p.content(), AppPickerDialog::Content::loading);
    p.show();
    p.waitForScan();
    EXPECT_NE(scannedOn, mainThread);
    EXPECT_EQ(seen.language, SupportedLanguage::german);
    ASSERT_EQ(seen.running.size(), 1u);
    EXPECT_EQ(seen.running[0].executablePath, "/usr/bin/htop");
    EXPECT_FALSE(seen.folders.empty());
    EXPECT_EQ(p.model().apps(), someApps);
    EXPECT_EQ(p.windowTitle(), QStringLiteral("App auswählen"));
    EXPECT_EQ(p.size(), QSize(440, 500));
}

}  // namespace
}  // namespace tesvano
