#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDrag>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "Tesvano/Settings/URLRules/RuleEditorDialog.h"
#include "Tesvano/Settings/URLRules/URLRuleListModel.h"
#include "Tesvano/Settings/URLRules/URLRuleListView.h"
#include "Tesvano/Settings/URLRules/URLRulesPane.h"
#include "tests/gui/AppFixture.h"
#include "tests/gui/GuiApplication.h"

namespace tesvano {
namespace {

class URLRulesPaneTest : public test::AppFixture {
protected:
    URLRulesPaneTest() {
        accessibility.setTrusted(true);
        makeState().start();  // the first run takes US as the global default
        QObject::connect(state.get(), &AppState::configChanged, [this] { ++commits; });
    }

    void addRule(const char* pattern, URLMatchType type = URLMatchType::domainSuffix) {
        state->upsertURLRule(
            URLRule{Uuid::random(), pattern, InputSourceID("xkb:de"), RuleAction::lock, type});
    }
    void setEnhanced(bool on) {
        LockConfiguration config = state->config();
        config.enhancedModeEnabled = on;
        state->setConfig(config);
    }
    static bool shown(const QWidget* pane, const char* name) {
        auto* child = pane->findChild<QWidget*>(QString::fromUtf8(name));
        return child != nullptr && !child->isHidden();
    }
    static void type(RuleEditorDialog* editor, const QString& text) {
        editor->patternField()->selectAll();
        QTest::keyClicks(editor->patternField(), text);
    }

    QApplication& application = guitest::guiApplication();
    int commits = 0;
};

TEST_F(URLRulesPaneTest, SectionsFollowAccessibilityEnhancedModeAndTheRuleCount) {
    struct Case {
        bool granted;
        bool enhanced;
        int rules;
        std::vector<const char*> visible;
        std::vector<const char*> hidden;
    };
    const Case cases[] = {
        {false,
         false,
         0,
         {"accessibilityRequiredNote", "enableEnhancedMode"},
         {"noRulesYet", "urlRuleList", "addRule", "enhancedModeOffNote"}},
        {true,
         false,
         1,
         {"enhancedModeOffNote", "urlRuleList"},
         {"accessibilityRequiredNote", "addRule", "ruleOrderHint", "enableEnhancedMode"}},
        {true, true, 0, {"noRulesYet", "addRule"}, {"enhancedModeOffNote", "urlRuleList"}},
        {true, true, 2, {"ruleOrderHint", "urlRuleList", "addRule"}, {"noRulesYet"}},
    };
    const char* patterns[] = {"a.com", "b.com"};
    for (const Case& c : cases) {
        accessibility.setTrusted(c.granted);
        state->refreshAccessibilityStatus();
        state->removeAllURLRules();
        for (int i = 0; i < c.rules; ++i) {
            addRule(patterns[i]);
        }
        setEnhanced(c.enhanced);
        URLRulesPane pane(*state);
        for (const char* name : c.visible) {
            EXPECT_TRUE(shown(&pane, name)) << name << " rules " << c.rules;
        }
        for (const char* name : c.hidden) {
            EXPECT_FALSE(shown(&pane, name)) << name << " rules " << c.rules;
        }
        EXPECT_EQ(pane.enhancedToggle()->isEnabled(), c.granted);
        EXPECT_EQ(pane.addressBarToggle()->isEnabled(), c.granted);
        EXPECT_EQ(pane.enhancedToggle()->isChecked(), c.enhanced);
    }
}

TEST_F(URLRulesPaneTest, TheAddressBarRuleCopiesTheDefaultOnlyWhenItHasNoSource) {
    URLRulesPane pane(*state);
    EXPECT_FALSE(shown(&pane, "addressBarRows"));

    pane.addressBarToggle()->click();
    EXPECT_TRUE(state->config().addressBarFocusEnabled);
    EXPECT_EQ(state->config().addressBarSourceID, InputSourceID("xkb:us"));
    EXPECT_EQ(pane.addressBarSource()->currentText(), QStringLiteral("English (US)"));
    EXPECT_FALSE(shown(&pane, "addressBarSourceMissing"));

    // A source already chosen survives turning the rule off and on, and a new default.
    pane.addressBarSource()->activated(1);
    pane.addressBarToggle()->click();
    EXPECT_FALSE(shown(&pane, "addressBarRows"));
    state->setDefaultSourceID(std::nullopt);
    pane.addressBarToggle()->click();
    EXPECT_EQ(state->config().addressBarSourceID, InputSourceID("xkb:de"));
    EXPECT_EQ(pane.addressBarSource()->currentText(), QStringLiteral("German"));

    // No source and no default: no choice shown, and the warning until one is picked.
    pane.addressBarToggle()->click();
    state->setAddressBarSourceID(std::nullopt);
    pane.addressBarToggle()->click();
    EXPECT_EQ(pane.addressBarSource()->currentIndex(), -1);
    EXPECT_TRUE(shown(&pane, "addressBarSourceMissing"));

    // Each pick of Behavior or Priority commits once.
    commits = 0;
    pane.addressBarPriority()->activated(0);
    EXPECT_FALSE(state->config().addressBarOutranksURLRules);
    pane.addressBarPriority()->activated(1);
    EXPECT_TRUE(state->config().addressBarOutranksURLRules);
    pane.addressBarBehavior()->activated(0);
    EXPECT_EQ(state->config().addressBarAction, RuleAction::lock);
    EXPECT_EQ(commits, 3);
    EXPECT_EQ(pane.addressBarPriority()->currentText(), QStringLiteral("Address bar first"));
}

TEST_F(URLRulesPaneTest, TheEditorChecksEachKeystroke) {
    setEnhanced(true);
    addRule("GitHub.com", URLMatchType::domain);
    URLRulesPane pane(*state);
    pane.addRuleButton()->click();
    RuleEditorDialog* editor = pane.editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("Add URL Rule"));
    EXPECT_EQ(editor->matchTypePicker()->currentText(), QStringLiteral("Domain suffix"));
    EXPECT_TRUE(editor->lockButton()->isChecked());
    EXPECT_EQ(editor->sourcePicker()->currentText(), QStringLiteral("Default"));
    EXPECT_EQ(editor->removeButton(), nullptr);
    // The field names read as enabled, and the hint does not change the height as it wraps.
    const QLabel* typeLabel = editor->findChild<QLabel*>(QStringLiteral("matchTypeLabel"));
    ASSERT_NE(typeLabel, nullptr);
    EXPECT_EQ(typeLabel->palette().color(QPalette::WindowText),
              editor->palette().color(QPalette::WindowText));
    const int height = editor->sizeHint().height();
    for (int index = 0; index < editor->matchTypePicker()->count(); ++index) {
        editor->matchTypePicker()->setCurrentIndex(index);
        EXPECT_EQ(editor->sizeHint().height(), height) << "match type " << index;
    }
    editor->matchTypePicker()->setCurrentIndex(0);

    struct Step {
        const char* typed;
        int matchType;
        const char* warning;  // empty: the help text shows
        bool canSave;
    };
    const Step steps[] = {
        {"", 0, "", false},
        {"   ", 0, "", false},
        {" example.org ", 0, "", true},
        {"github.COM", 2, "A rule with this pattern already exists.", false},
        {"([", 3, "Invalid regular expression", false},
        {"([", 2, "", true},  // the same text, now a plain keyword
    };
    for (const Step& step : steps) {
        editor->matchTypePicker()->setCurrentIndex(step.matchType);
        type(editor, QString::fromUtf8(step.typed));
        EXPECT_EQ(editor->warning(), QString::fromUtf8(step.warning)) << step.typed;
        EXPECT_EQ(editor->helpText().isEmpty(), *step.warning != '\0') << step.typed;
        EXPECT_EQ(editor->saveButton()->isEnabled(), step.canSave) << step.typed;
    }
    // "Default" with no global default: nothing to save with.
    state->setDefaultSourceID(std::nullopt);
    EXPECT_FALSE(editor->saveButton()->isEnabled());
    editor->sourcePicker()->setCurrentIndex(2);
    EXPECT_TRUE(editor->saveButton()->isEnabled());

    commits = 0;
    type(editor, QStringLiteral("\texample.org "));
    editor->switchButton()->click();
    editor->saveButton()->click();
    EXPECT_EQ(pane.editor(), nullptr) << "the pane closes the dialog";
    ASSERT_EQ(state->config().urlRules.size(), 2u);
    const URLRule& added = state->config().urlRules.back();
    EXPECT_EQ(added.hostPattern, "example.org");
    EXPECT_EQ(added.matchType, URLMatchType::domainKeyword);
    EXPECT_EQ(added.action, RuleAction::switchOnce);
    EXPECT_EQ(added.lockedSourceID, InputSourceID("xkb:de"));
    EXPECT_EQ(commits, 1);
}

TEST_F(URLRulesPaneTest, EditingKeepsTheRuleInPlaceRemoveDeletesItCancelChangesNothing) {
    setEnhanced(true);
    for (const char* pattern : {"a.com", "b.com", "c.com"}) {
        addRule(pattern);
    }
    const auto before = state->config().urlRules;
    URLRulesPane pane(*state);

    pane.ruleList()->onEdit(1);
    ASSERT_NE(pane.editor(), nullptr);
    EXPECT_EQ(pane.editor()->windowTitle(), QStringLiteral("Edit URL Rule"));
    EXPECT_TRUE(pane.editor()->saveButton()->isEnabled()) << "its own pattern is no duplicate";
    type(pane.editor(), QStringLiteral("B.org"));
    QTest::keyClick(pane.editor(), Qt::Key_Escape);
    EXPECT_EQ(pane.editor(), nullptr);
    EXPECT_EQ(state->config().urlRules, before);

    pane.ruleList()->onEdit(1);
    type(pane.editor(), QStringLiteral("b.org"));
    pane.editor()->saveButton()->click();
    ASSERT_EQ(state->config().urlRules.size(), 3u);
    EXPECT_EQ(state->config().urlRules[1].id, before[1].id);
    EXPECT_EQ(state->config().urlRules[1].hostPattern, "b.org");

    pane.ruleList()->onEdit(0);
    pane.editor()->removeButton()->click();
    EXPECT_EQ(pane.editor(), nullptr);
    ASSERT_EQ(state->config().urlRules.size(), 2u);
    EXPECT_EQ(state->config().urlRules[0].id, before[1].id);
}

TEST_F(URLRulesPaneTest, ARuleEditedOntoAnotherRulesPatternMergesIntoOneRow) {
    setEnhanced(true);
    addRule("a.com");
    addRule("b.com");
    URLRulesPane pane(*state);
    auto second = state->config().urlRules[1];

    // The editor refuses it...
    pane.ruleList()->onEdit(1);
    type(pane.editor(), QStringLiteral("A.com"));
    EXPECT_FALSE(pane.editor()->saveButton()->isEnabled());
    pane.editor()->save();
    EXPECT_EQ(state->config().urlRules.size(), 2u);
    pane.editor()->cancelButton()->click();

    // ...but the same edit by another road (a URL command) merges, and the list follows.
    second.hostPattern = "A.com";
    second.lockedSourceID = InputSourceID("xkb:us");
    state->upsertURLRule(second);
    ASSERT_EQ(pane.ruleModel()->rowCount(), 1);
    EXPECT_EQ(pane.ruleModel()->index(0).data().toString(), QStringLiteral("A.com"));
    EXPECT_EQ(pane.ruleModel()->index(0).data(URLRuleListModel::actionSummaryRole).toString(),
              QStringLiteral("Lock to English (US)"));
    EXPECT_FALSE(shown(&pane, "ruleOrderHint"));
}

TEST_F(URLRulesPaneTest, TheRowMenuMovesAndRemoves) {
    setEnhanced(true);
    for (const char* pattern : {"a.com", "b.com", "c.com"}) {
        addRule(pattern);
    }
    const auto before = state->config().urlRules;
    URLRulesPane pane(*state);
    const auto act = [&](int row, const char* name) {
        std::unique_ptr<QMenu> menu(pane.makeRowMenu(row));
        auto* action = menu->findChild<QAction*>(QString::fromUtf8(name));
        ASSERT_NE(action, nullptr) << name;
        ASSERT_TRUE(action->isEnabled()) << name;
        action->trigger();
    };
    std::unique_ptr<QMenu> first(pane.makeRowMenu(0));
    EXPECT_FALSE(first->findChild<QAction*>(QStringLiteral("moveUp"))->isEnabled());
    act(0, "moveDown");
    EXPECT_EQ(state->config().urlRules[1].id, before[0].id);
    act(2, "moveUp");
    EXPECT_EQ(state->config().urlRules[1].id, before[2].id);
    act(1, "remove");
    EXPECT_EQ(state->config().urlRules.size(), 2u);

    pane.confirmRemoveAll = [] { return false; };
    act(0, "removeAll");
    EXPECT_EQ(state->config().urlRules.size(), 2u);
    pane.confirmRemoveAll = [] { return true; };
    act(0, "removeAll");
    EXPECT_TRUE(state->config().urlRules.empty());
    EXPECT_TRUE(shown(&pane, "noRulesYet"));
}

}  // namespace
}  // namespace tesvano

namespace tesvano {
namespace {

TEST_F(URLRulesPaneTest, ADragFromTheHandleThatEndsWithoutADropLeavesNothingToCommit) {
    setEnhanced(true);
    for (const char* pattern : {"a.com", "b.com", "c.com"}) {
        addRule(pattern);
    }
    const auto before = state->config().urlRules;
    URLRulesPane pane(*state);
    pane.resize(640, 700);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    URLRuleListView* list = pane.ruleList();
    URLRuleListModel* model = pane.ruleModel();
    const QPoint handle = URLRuleListView::handleRect(list->visualRect(model->index(0))).center();
    const auto moveTo = [&](QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(list->viewport()->mapToGlobal(at)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &move);
    };
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, handle);
    moveTo(handle + QPoint(0, 2));  // arms the view's drag; the next move starts it
    // Offscreen, a drag ends at once without a drop, as Escape ends it on a desktop.
    moveTo(handle + QPoint(0, 3 * URLRuleListView::rowHeight));
    EXPECT_NE(list->findChild<QDrag*>(), nullptr) << "a press on the handle and a move drag";
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, handle);
    EXPECT_FALSE(model->isDragging());

    // The next drop of that rule's id anywhere on the pane finds nothing to commit.
    QMimeData stale;
    stale.setText(model->index(0).data(URLRuleListModel::ruleIDRole).toString());
    QDropEvent drop(QPointF(10, 10), Qt::MoveAction, &stale, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&pane, &drop);
    EXPECT_FALSE(drop.isAccepted());
    EXPECT_EQ(state->config().urlRules, before);
    EXPECT_EQ(pane.editor(), nullptr) << "the press on the handle was no click on the row";
}

TEST_F(URLRulesPaneTest, TheRuleListInTheSettingsWindowUsesOverlayScrollBars) {
    setEnhanced(true);
    addRule("a.com");
    SettingsWindow window(*state);
    window.present();
    state->setSettingsTab(SettingsTab::urlRules);
    processEvents();
    auto* pane = dynamic_cast<URLRulesPane*>(window.pane(SettingsTab::urlRules));
    ASSERT_NE(pane, nullptr);
    EXPECT_TRUE(OverlayScrollerSweep::usesOverlayScrollers(pane->ruleList()));
}

}  // namespace
}  // namespace tesvano
