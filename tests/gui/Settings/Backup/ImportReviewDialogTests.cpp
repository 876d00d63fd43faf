#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

#include "Tesvano/Settings/Backup/ImportReviewDialog.h"
#include "Tesvano/Settings/Backup/SegmentedPicker.h"
#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"
#include "Tesvano/Settings/Components/ScreenFit.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

// The local rules: a default, two app rules, URL rules a and b. The file: the default with
// another action, one app rule in conflict, one whose layout is missing here (in conflict with
// a local one), two new app rules, and the URL rules in the other order plus a new one.
class ImportReviewDialogTest : public test::AppFixture {
protected:
    ImportReviewDialogTest() {
        local.defaultSourceID = InputSourceID("xkb:us");
        local.appRules = {AppRule{"far.app", AppRuleMode::locked, InputSourceID("xkb:us")},
                          AppRule{"near.app", AppRuleMode::locked, InputSourceID("xkb:us")},
                          AppRule{"only.local", AppRuleMode::ignored, std::nullopt}};
        local.urlRules = {URLRule{Uuid::random(), "a.com", InputSourceID("xkb:us")},
                          URLRule{Uuid::random(), "b.com", InputSourceID("xkb:de")}};
        file.payload.defaultSourceID = InputSourceID("xkb:us");
        file.payload.defaultAction = RuleAction::switchOnce;
        file.payload.appRules = {
            AppRule{"near.app", AppRuleMode::switched, InputSourceID("xkb:de")},
            AppRule{"far.app", AppRuleMode::locked, InputSourceID("xkb:jp")},
            AppRule{"new.one", AppRuleMode::locked, InputSourceID("xkb:de")},
            AppRule{"new.two", AppRuleMode::useDefault, InputSourceID("xkb:de")}};
        file.payload.urlRules = {BackupURLRule{"b.com", InputSourceID("xkb:de")},
                                 BackupURLRule{"a.com", InputSourceID("xkb:us")},
                                 BackupURLRule{"c.com", InputSourceID("xkb:de"), RuleAction::lock,
                                               URLMatchType::urlRegex}};
    }

    ImportReviewDialog& open(const ConfigBackup& backup) {
        auto& s = makeState();
        s.start();
        auto plan = ImportPlan::make(local, backup, s.availableSources(), ImportMode::merge);
        model = std::make_shared<ImportReviewModel>(std::move(plan), [this](const ImportPlan& p) {
            ++applies;
            return p.outcome();
        });
        dialog = std::make_unique<ImportReviewDialog>(
            s, model, [this](const ImportOutcome& o) { outcome = o; });
        return *dialog;
    }

    template <typename T = QWidget>
    T* find(const QString& name) const {
        return dialog->findChild<T*>(name);
    }
    bool shows(const QString& name) const {
        auto* widget = find(name);
        return widget != nullptr && !widget->isHidden();
    }
    QString counter(const char* name) const {
        return find<QLabel>(QString::fromLatin1(name))->text();
    }
    static QString q(const char* text) { return QString::fromUtf8(text); }

    LockConfiguration local;
    ConfigBackup file;
    std::shared_ptr<ImportReviewModel> model;
    std::unique_ptr<ImportReviewDialog> dialog;
    std::optional<ImportOutcome> outcome;
    int applies = 0;
};

TEST_F(ImportReviewDialogTest, AFileLikeTheRulesShowsOnlyTheModeAndCannotBeApplied) {
    local.appRules.pop_back();
    open(ConfigBackup::fromConfiguration(local, "1", {}));
    for (const char* section : {"section.urlOrder", "section.new.apps", "section.new.urls",
                                "section.conflicts", "section.missing"}) {
        EXPECT_FALSE(shows(q(section))) << section;
    }
    EXPECT_TRUE(shows(q("section.mode")));
    for (const char* name :
         {"counter.added", "counter.updated", "counter.kept", "counter.removed"}) {
        EXPECT_EQ(counter(name), q("0"));
    }
    EXPECT_FALSE(dialog->applyButton()->isEnabled());
    EXPECT_TRUE(shows(q("applyReason"))) << "a greyed Apply says why";
    EXPECT_EQ(dialog->applyButton()->toolTip(), find<QLabel>(q("applyReason"))->text());
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.get(), &enter);
    EXPECT_EQ(applies, 0);
}

TEST_F(ImportReviewDialogTest, SectionsAndCountersFollowTheMode) {
    open(file);
    struct Expectation {
        bool urlOrder, conflicts, warning;
        const char* missingRows;  // ids of the missing-source rows, joined
        const char *added, *updated, *kept, *removed;
    };
    const auto check = [&](const Expectation& e, const char* when) {
        EXPECT_EQ(shows(q("section.urlOrder")), e.urlOrder) << when;
        EXPECT_EQ(shows(q("section.conflicts")), e.conflicts) << when;
        EXPECT_EQ(shows(q("replaceWarning")), e.warning) << when;
        QStringList missing;
        for (const auto& item : model->plan().missingSourceItems()) {
            missing << QString::fromStdString(item.id);
            EXPECT_NE(find(q("disposition:") + missing.last()), nullptr) << when;
        }
        EXPECT_EQ(missing.join(QLatin1Char(' ')), q(e.missingRows)) << when;
        EXPECT_EQ(counter("counter.added"), q(e.added)) << when;
        EXPECT_EQ(counter("counter.updated"), q(e.updated)) << when;
        EXPECT_EQ(counter("counter.kept"), q(e.kept)) << when;
        EXPECT_EQ(counter("counter.removed"), q(e.removed)) << when;
    };
    check({true, true, false, "", "3", "0", "3", "0"}, "merge");
    EXPECT_FALSE(shows(q("section.replaced"))) << "merge decides conflicts row by row";
    EXPECT_EQ(find<SegmentedPicker>(q("urlOrderPicker"))->current(), 0) << "never chosen";

    find<SegmentedPicker>(q("modePicker"))->choose(1);
    processEvents();
    check({false, false, true, "app:far.app", "3", "5", "0", "1"}, "replace");
    // Replace lists what the file overwrites, read-only.
    ASSERT_TRUE(shows(q("section.replaced")));
    for (const auto& item : model->plan().conflictItems()) {
        if (model->plan().isMissingSource(item)) {
            continue;  // listed among the missing sources
        }
        auto* row =
            find(q("section.replaced"))->findChild<QWidget*>(q("row:") + q(item.id.c_str()));
        EXPECT_NE(row, nullptr) << item.id;
    }
    EXPECT_FALSE(shows(q("applyReason")));
    EXPECT_TRUE(find<QWidget>(q("replaceWarning"))
                    ->findChildren<QLabel*>()
                    .last()
                    ->text()
                    .contains(q("removes 1 of your rules")));
    // ...and names it.
    EXPECT_NE(find(q("removed:app:only.local")), nullptr);
    EXPECT_TRUE(dialog->applyButton()->isEnabled());
}

TEST_F(ImportReviewDialogTest, AValueThisVersionDoesNotKnowIsSaidOnItsRow) {
    const auto backup = ConfigBackup::read(R"({"format": "com.quorvel.Tesvano.backup",
        "schemaVersion": 1, "minReader": 1, "appVersion": "9", "payload": {
        "defaultSourceID": "xkb:de", "defaultAction": "twice",
        "appRules": [{"bundleID": "process:xterm", "mode": "sometimes", "lockedSourceID": "xkb:de"},
                     {"bundleID": "far.app", "mode": "often", "lockedSourceID": "xkb:de"},
                     {"bundleID": "near.app", "mode": "switched", "lockedSourceID": "xkb:de"}],
        "urlRules": [
        {"hostPattern": "d.com", "lockedSourceID": "xkb:de", "action": "switch",
         "matchType": "glob"},
        {"hostPattern": "a.com", "lockedSourceID": "xkb:de", "action": "sometimes"}]}})");
    ASSERT_TRUE(backup.has_value());
    open(*backup);
    const auto lines = [&](const char* id) {
        QStringList out;
        if (auto* block = find(q("assumed:") + q(id))) {
            for (auto* label : block->findChildren<QLabel*>()) {
                out << label->text();
            }
        }
        return out.join(QLatin1Char('|'));
    };
    // A new rule and a conflict with a local one.
    EXPECT_TRUE(lines("url:d.com").contains(q("Unknown behavior “switch”: imported as Lock")));
    EXPECT_TRUE(
        lines("url:d.com").contains(q("Unknown match type “glob”: imported as Domain suffix")));
    EXPECT_TRUE(lines("url:a.com").contains(q("Unknown behavior “sometimes”")));
    EXPECT_EQ(find(q("assumed:url:b.com")), nullptr) << "not in the file";
    // App rules (new and in conflict) and the default say it as well; known words say nothing.
    EXPECT_TRUE(
        lines("app:process:xterm").contains(q("Unknown mode “sometimes”: imported as Lock")));
    EXPECT_TRUE(lines("app:far.app").contains(q("Unknown mode “often”: imported as Lock")));
    EXPECT_TRUE(lines("default").contains(q("Unknown behavior “twice”: imported as Lock")));
    EXPECT_EQ(find(q("assumed:app:near.app")), nullptr);
    // In the interface language, as every row.
    state->setLanguagePreference(LanguagePreference::specific(SupportedLanguage::russian));
    dialog = std::make_unique<ImportReviewDialog>(*state, model, [](const ImportOutcome&) {});
    EXPECT_TRUE(lines("app:process:xterm")
                    .contains(q("Неизвестный режим «sometimes»: импортируется как «Закрепить»")))
        << lines("app:process:xterm").toStdString();
    state->setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
}

// A rule that reads as the local one only once its unknown value is taken as Lock changes
// nothing, and is listed all the same, so that the unknown value is named.
TEST_F(ImportReviewDialogTest, AnUnknownValueThatEndsAsTheLocalRuleIsNamedToo) {
    const auto backup = ConfigBackup::read(R"({"format": "com.quorvel.Tesvano.backup",
        "schemaVersion": 1, "minReader": 1, "appVersion": "9", "payload": {
        "defaultSourceID": "xkb:us", "defaultAction": "twice",
        "appRules": [{"bundleID": "near.app", "mode": "sometimes", "lockedSourceID": "xkb:us"},
                     {"bundleID": "far.app", "mode": "locked", "lockedSourceID": "xkb:us"}]}})");
    ASSERT_TRUE(backup.has_value());
    open(*backup);
    ASSERT_TRUE(shows(q("section.asRead")));
    auto* section = find(q("section.asRead"));
    for (const auto& [id, line] :
         {std::pair{"app:near.app", "Unknown mode “sometimes”: imported as Lock"},
          std::pair{"default", "Unknown behavior “twice”: imported as Lock"}}) {
        auto* row = section->findChild<QWidget*>(q("row:") + q(id));
        ASSERT_NE(row, nullptr) << id;
        QStringList texts;
        for (auto* label : row->findChildren<QLabel*>()) {
            texts << label->text();
        }
        EXPECT_TRUE(texts.contains(q(line))) << texts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(texts.contains(q("Lock to English (US)"))) << id;
    }
    EXPECT_EQ(section->findChild<QWidget*>(q("row:app:far.app")), nullptr) << "known words";
    // Nothing changes: the review still says so.
    EXPECT_EQ(counter("counter.updated"), q("0"));
    EXPECT_FALSE(dialog->applyButton()->isEnabled());
    EXPECT_TRUE(shows(q("applyReason")));
}

// On an 800 × 600 work area, its frame counted, the review keeps its buttons on it and scrolls
// its rows behind a bar that shows; with few rows it is as tall as they are.
TEST_F(ImportReviewDialogTest, OnASmallScreenTheButtonsStayInViewAndTheRowsScrollVisibly) {
    for (int i = 0; i < 12; ++i) {
        const std::string id = "many.app" + std::to_string(i);
        local.appRules.push_back(AppRule{id, AppRuleMode::locked, InputSourceID("xkb:us")});
        file.payload.appRules.push_back(AppRule{id, AppRuleMode::locked, InputSourceID("xkb:de")});
    }
    // An 800 × 600 work area and a window manager's title bar and borders.
    const QRect area(0, 0, 800, 600);
    const QSize frame(2, 25);
    ScreenFit::simulate(area, frame);
    const std::shared_ptr<void> restore(nullptr, [](void*) { ScreenFit::simulate(std::nullopt); });
    open(file);
    dialog->show();
    processEvents();
    // Offscreen the client starts where the frame would: the frame comes on top of it.
    const QRect outer(dialog->pos(), dialog->size() + frame);
    EXPECT_TRUE(area.contains(outer)) << dialog->height();
    for (QPushButton* button : {dialog->applyButton(), dialog->cancelButton()}) {
        const QRect shown(button->mapTo(dialog.get(), QPoint(0, 0)) + outer.topLeft() +
                              QPoint(frame.width() / 2, frame.height()),
                          button->size());
        EXPECT_TRUE(area.contains(shown)) << button->objectName().toStdString();
    }
    auto* scroller = find<QScrollArea>(QString());
    ASSERT_NE(scroller, nullptr);
    const QScrollBar* bar = scroller->verticalScrollBar();
    EXPECT_TRUE(OverlayScrollerSweep::usesSteadyScrollers(scroller));
    EXPECT_TRUE(bar->isVisible());
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_FALSE(bar->style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, bar));
    scroller->ensureWidgetVisible(find(q("row:app:many.app11")));
    EXPECT_EQ(bar->value(), bar->maximum()) << "the last row scrolls into view";

    // A file that changes nothing: no empty middle.
    local.appRules.resize(3);
    open(ConfigBackup::fromConfiguration(local, "1", {}));
    dialog->show();
    processEvents();
    scroller = find<QScrollArea>(QString());
    QWidget* form = scroller->widget();
    EXPECT_EQ(scroller->verticalScrollBar()->maximum(), 0);
    EXPECT_LE(scroller->viewport()->height() - form->heightForWidth(form->width()), 2);
    EXPECT_LT(dialog->height(), 400);
}

TEST_F(ImportReviewDialogTest, RowChoicesMarkTheirRowAndTheSectionChoiceResetsThem) {
    open(file);
    dialog->show();
    processEvents();
    const QString far = q("app:far.app");
    EXPECT_TRUE(shows(q("default:") + far));
    EXPECT_EQ(find(q("notInstalled:") + far), nullptr);
    const auto segmentAt = [&](int index) {
        auto* segment = find<SegmentedPicker>(q("resolution:") + far)->segment(index);
        return segment->mapTo(dialog.get(), QPoint(0, 0));
    };
    const QPoint before = segmentAt(1);

    find<SegmentedPicker>(q("resolution:") + far)->choose(1);
    processEvents();
    EXPECT_FALSE(shows(q("default:") + far));
    EXPECT_TRUE(shows(q("default:app:near.app")));
    EXPECT_EQ(find<SegmentedPicker>(q("conflictsPicker"))->current(), SegmentedPicker::none)
        << "the rows differ";
    // The file's layout of far.app is missing here: said on the row while the file's choice holds.
    EXPECT_NE(find(q("notInstalled:") + far), nullptr);
    EXPECT_EQ(segmentAt(1).x(), before.x()) << "the chosen button stays under the pointer";
    EXPECT_FALSE(shows(q("section.missing"))) << "a merged conflict is not listed there";

    find<SegmentedPicker>(q("conflictsPicker"))->choose(0);
    processEvents();
    EXPECT_TRUE(shows(q("default:") + far));
    EXPECT_EQ(find(q("notInstalled:") + far), nullptr);
    EXPECT_EQ(model->item("app:far.app")->resolution, ConflictResolution::keepLocal);
}

TEST_F(ImportReviewDialogTest, SelectNoneExcludesExactlyItsSectionAndApplyReportsTheOutcome) {
    open(file);
    EXPECT_EQ(find<QLabel>(q("file:app:new.two"))->text(), q("Use default"));
    EXPECT_EQ(find<QLabel>(q("file:url:c.com"))->text(), q("Lock to German \u00B7 URL regex"));

    find<QPushButton>(q("selectNone.apps"))->click();
    processEvents();
    for (const char* id : {"app:new.one", "app:new.two"}) {
        EXPECT_FALSE(model->item(id)->include) << id;
        EXPECT_FALSE(find<QCheckBox>(q("include:") + q(id))->isChecked()) << id;
    }
    EXPECT_TRUE(model->item("url:c.com")->include);
    find<QCheckBox>(q("include:app:new.one"))->click();
    processEvents();
    EXPECT_EQ(counter("counter.added"), q("2"));

    dialog->applyButton()->click();
    EXPECT_EQ(applies, 1);
    EXPECT_EQ(outcome, (ImportOutcome{2, 0}));
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

TEST_F(ImportReviewDialogTest, CancelAndEscapeApplyNothing) {
    open(file);
    dialog->show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.get(), &escape);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
    dialog->show();
    dialog->cancelButton()->click();
    EXPECT_EQ(applies, 0);
    EXPECT_FALSE(outcome.has_value());
}

}  // namespace
}  // namespace tesvano
