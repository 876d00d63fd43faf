#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "Tesvano/Settings/AppRules/AppRulesSettingsPane.h"
#include "Tesvano/Settings/Backup/BackupSettingsPane.h"
#include "Tesvano/Settings/Components/AccessibilityRequiredNote.h"
#include "Tesvano/Settings/Components/AppRowLabel.h"
#include "Tesvano/Settings/Components/EmptyPane.h"
#include "Tesvano/Settings/Components/GrantAccessibilityButton.h"
#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"
#include "Tesvano/Settings/Components/ScreenFit.h"
#include "Tesvano/Settings/General/GeneralSettingsPane.h"
#include "Tesvano/Settings/Log/ActivationLogPane.h"
#include "Tesvano/Settings/Permissions/PermissionsSettingsPane.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "Tesvano/Settings/URLRules/URLRulesPane.h"
#include "Tesvano/Settings/Updates/UpdatesSettingsPane.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

using platform::Seconds;

class SettingsWindowTest : public test::AppFixture {};

TEST_F(SettingsWindowTest, EightTabsInOrderBoundToTheStateAndAReselectionAnnouncesNothing) {
    auto& s = makeState();
    SettingsWindow window(s);
    QStringList titles;
    for (const auto& info : settingsTabs) {
        titles << window.tabButton(info.tab)->text();
    }
    EXPECT_EQ(titles, (test::texts({"General", "App Rules", "URL Rules", "Shortcuts", "Permissions",
                                    "Updates", "Log", "Backup"})));
    EXPECT_EQ(window.minimumSize(), QSize(680, 600));
    EXPECT_GE(window.width(), 700);
    EXPECT_EQ(window.currentTab(), SettingsTab::general);

    int announced = 0;
    QObject::connect(&s, &AppState::settingsTabChanged, [&] { ++announced; });
    window.tabButton(SettingsTab::log)->click();
    EXPECT_EQ(s.settingsTab(), SettingsTab::log);
    window.tabButton(SettingsTab::log)->click();
    s.setSettingsTab(SettingsTab::log);
    EXPECT_EQ(announced, 1);

    s.setSettingsTab(SettingsTab::backup);  // from outside the window
    EXPECT_EQ(window.currentTab(), SettingsTab::backup);
    EXPECT_TRUE(window.tabButton(SettingsTab::backup)->isChecked());
    // The taskbar and the window switcher name the program, in the interface language too.
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Backup – Tesvano Settings"));
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::german));
    processEvents();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Sicherung – Tesvano-Einstellungen"));
}

TEST_F(SettingsWindowTest, ChangesThatAreNotSavedAreSaidAboveEveryPaneUntilTheyAre) {
    auto& s = makeState();
    SettingsWindow window(s);
    const auto* note = window.findChild<QLabel*>(QStringLiteral("saveProblem"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isHidden());

    defaults.setSaveProblem("Could not save settings.json: No space left on device");
    EXPECT_FALSE(note->isHidden());
    EXPECT_TRUE(note->text().contains(QStringLiteral("last only until Tesvano quits")));
    EXPECT_TRUE(note->text().contains(QStringLiteral("No space left on device")));
    window.tabButton(SettingsTab::appRules)->click();
    EXPECT_FALSE(note->isHidden()) << "whichever pane the change was made in";

    defaults.setSaveProblem(std::nullopt);
    EXPECT_TRUE(note->isHidden());
}

// The note comes under the pane: what the user was about to click stays where it was, and the
// window grows by the note where the screen has room.
TEST_F(SettingsWindowTest, TheNoteOnChangesNotSavedMovesNothingInThePane) {
    auto& s = makeState();
    s.start();
    SettingsWindow window(s);
    window.present();
    processEvents();
    for (const SettingsTab tab : {SettingsTab::general, SettingsTab::backup}) {
        s.setSettingsTab(tab);
        processEvents();
        QWidget* pane = window.pane(tab);
        const auto places = [&] {
            std::vector<std::pair<QString, QPoint>> out;
            for (const auto* control : pane->findChildren<QAbstractButton*>()) {
                if (control->isVisibleTo(&window)) {
                    out.emplace_back(control->text(), control->mapTo(&window, QPoint(0, 0)));
                }
            }
            return out;
        };
        const auto before = places();
        ASSERT_FALSE(before.empty());
        defaults.setSaveProblem("Could not save settings.json: No space left on device");
        processEvents();
        const auto* note = window.findChild<QLabel*>(QStringLiteral("saveProblem"));
        ASSERT_TRUE(note->isVisible());
        EXPECT_GE(
            note->mapTo(&window, QPoint(0, 0)).y(),
            pane->parentWidget()->mapTo(&window, QPoint(0, 0)).y() + pane->parentWidget()->height())
            << "under the pane";
        EXPECT_LE(note->mapTo(&window, QPoint(0, note->height())).y(), window.height());
        EXPECT_EQ(places(), before) << int(tab);
        defaults.setSaveProblem(std::nullopt);
        processEvents();
        EXPECT_EQ(places(), before) << int(tab);
    }
}

// On an 800 × 600 work area, its frame counted, every tab fits, and a pane taller than the
// window shows a bar that says there is more, in the longer languages too.
TEST_F(SettingsWindowTest, OnASmallScreenEveryTabFitsAndAnOverflowingPaneShowsItsBar) {
    // An 800 × 600 work area and a window manager's title bar and borders.
    const QRect area(0, 0, 800, 600);
    const QSize frame(2, 25);
    ScreenFit::simulate(area, frame);
    const std::shared_ptr<void> restore(nullptr, [](void*) { ScreenFit::simulate(std::nullopt); });
    auto& s = makeState();
    s.start();
    for (const auto language : {SupportedLanguage::english, SupportedLanguage::russian}) {
        s.setLanguagePreference(LanguagePreference::specific(language));
        SettingsWindow window(s);
        window.present();
        processEvents();
        for (const auto& info : settingsTabs) {
            s.setSettingsTab(info.tab);
            processEvents();
            SCOPED_TRACE(std::string(rawValue(language)) + ": " + std::string(info.title));
            // Offscreen the client starts where the frame would: the frame comes on top of it.
            const QRect outer(window.pos(), window.size() + frame);
            EXPECT_TRUE(area.contains(outer)) << window.height();
            auto* scroller =
                qobject_cast<QScrollArea*>(window.pane(info.tab)->parentWidget()->parentWidget());
            const QScrollBar* bar = scroller->verticalScrollBar();
            if (bar->maximum() > 0) {
                EXPECT_TRUE(bar->isVisible());
                EXPECT_FALSE(bar->style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, bar));
            }
            // Every control of the pane is in the window or scrolls into it.
            const QPoint client = outer.topLeft() + QPoint(frame.width() / 2, frame.height());
            const QRect shown(scroller->viewport()->mapTo(&window, QPoint(0, 0)) + client,
                              scroller->viewport()->size());
            for (auto* control : window.pane(info.tab)->findChildren<QAbstractButton*>()) {
                if (!control->isVisibleTo(&window)) {
                    continue;
                }
                scroller->ensureWidgetVisible(control, 0, 0);
                const QRect at(control->mapTo(&window, QPoint(0, 0)) + client, control->size());
                EXPECT_TRUE(shown.contains(at) && area.contains(at))
                    << control->text().toStdString();
            }
        }
        window.close();
    }
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
}

TEST_F(SettingsWindowTest, APaneIsBuiltWhenFirstShownAndAllAreLetGoOnClose) {
    auto& s = makeState();
    std::array<int, settingsTabs.size()> built{};
    SettingsWindow::PaneFactories panes;
    for (std::size_t i = 0; i < settingsTabs.size(); ++i) {
        panes[i] = [&built, i](AppState&) -> QWidget* {
            ++built[i];
            return new QWidget;
        };
    }
    const auto builtTabs = [&] {
        std::string out;
        for (const auto& info : settingsTabs) {
            out += std::to_string(built[static_cast<std::size_t>(info.tab)]);
        }
        return out;
    };
    s.setSettingsTab(SettingsTab::urlRules);
    SettingsWindow window(s, panes);
    window.present();
    processEvents();
    EXPECT_EQ(builtTabs(), "00100000") << "only the pane shown";
    window.tabButton(SettingsTab::log)->click();
    window.tabButton(SettingsTab::urlRules)->click();
    EXPECT_EQ(builtTabs(), "00100010") << "a pane shown again is not built again";

    QPointer<QWidget> logPane = window.pane(SettingsTab::log);
    window.close();
    processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(logPane.isNull()) << "nothing of the panes stays while the window is closed";
    for (const auto& info : settingsTabs) {
        EXPECT_FALSE(window.isPaneBuilt(info.tab));
    }
    window.present();
    processEvents();
    EXPECT_EQ(builtTabs(), "00200010") << "reopened: the shown pane again, no other";
    EXPECT_TRUE(window.isPaneBuilt(SettingsTab::urlRules));
    EXPECT_FALSE(window.isPaneBuilt(SettingsTab::log));

    // Closed a while, the native window goes too; opened again at once, or with a dialog of
    // it still showing, it stays.
    window.close();
    window.present();
    QTest::qWait(800);
    EXPECT_NE(window.windowHandle(), nullptr);
    EXPECT_TRUE(window.isVisible());
    auto* dialog = new QMessageBox(QMessageBox::Information, QString(), QString(),
                                   QMessageBox::Close, &window);
    dialog->show();
    window.close();
    QTest::qWait(800);
    EXPECT_NE(window.windowHandle(), nullptr);
    delete dialog;
    window.present();
    window.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.windowHandle() == nullptr; }, 3000));
    window.present();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window)) << "a new native window is shown";
    EXPECT_TRUE(window.isPaneBuilt(SettingsTab::urlRules));
    window.close();
}

TEST_F(SettingsWindowTest, ARefusedQuitKeySaysHowTesvanoKeepsRunningAndOffersToQuit) {
    auto& s = makeState();
    SettingsWindow window(s);
    int asked = 0;
    bool quits = false;
    window.onQuitKey = [&] {
        ++asked;
        return quits || s.terminationRequested();
    };
    window.present();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto box = [&] { return window.findChild<QMessageBox*>(QStringLiteral("keptRunning")); };
    // The key as the desktop binds it (the test platform binds none to Quit).
    const auto pressQuit = [&] {
        emit window.findChild<QShortcut*>(QStringLiteral("quitKey"))->activated();
    };

    pressQuit();
    processEvents();
    ASSERT_NE(box(), nullptr) << "a refusal is said in the window";
    EXPECT_TRUE(box()->informativeText().contains(QStringLiteral("applications menu")));
    EXPECT_EQ(asked, 1);
    box()->findChild<QPushButton*>(QStringLiteral("keepRunning"))->click();
    processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(box(), nullptr);
    EXPECT_FALSE(s.terminationRequested());

    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    pressQuit();
    processEvents();
    ASSERT_NE(box(), nullptr);
    box()->findChild<QPushButton*>(QStringLiteral("quitAnyway"))->click();
    EXPECT_TRUE(s.terminationRequested()) << "asked for in so many words";
    EXPECT_EQ(asked, 3);

    // A quit key the gate lets through says nothing.
    processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    quits = true;
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    pressQuit();
    EXPECT_EQ(asked, 4);
    processEvents();
    EXPECT_EQ(box(), nullptr);
    window.close();
}

TEST_F(SettingsWindowTest, PanesComeFromFactoriesAndTheRestAreEmpty) {
    auto& s = makeState();
    SettingsWindow::PaneFactories panes = SettingsWindow::defaultPanes();
    AppState* seen = nullptr;
    panes[static_cast<std::size_t>(SettingsTab::shortcuts)] = [&](AppState& given) -> QWidget* {
        seen = &given;
        auto* pane = new QLabel(QStringLiteral("shortcuts"));
        pane->setObjectName(QStringLiteral("shortcutsPane"));
        return pane;
    };
    SettingsWindow window(s, panes);
    EXPECT_EQ(window.pane(SettingsTab::shortcuts)->objectName(), QStringLiteral("shortcutsPane"));
    EXPECT_EQ(seen, &s);
    EXPECT_NE(dynamic_cast<PermissionsSettingsPane*>(window.pane(SettingsTab::permissions)),
              nullptr);
    EXPECT_NE(dynamic_cast<GeneralSettingsPane*>(window.pane(SettingsTab::general)), nullptr);
    EXPECT_NE(dynamic_cast<ActivationLogPane*>(window.pane(SettingsTab::log)), nullptr);
    EXPECT_NE(dynamic_cast<URLRulesPane*>(window.pane(SettingsTab::urlRules)), nullptr);
    EXPECT_NE(dynamic_cast<BackupSettingsPane*>(window.pane(SettingsTab::backup)), nullptr);
    EXPECT_NE(dynamic_cast<AppRulesSettingsPane*>(window.pane(SettingsTab::appRules)), nullptr);
    EXPECT_NE(dynamic_cast<UpdatesSettingsPane*>(window.pane(SettingsTab::updates)), nullptr);
    // A tab without a factory shows the empty pane, without controls.
    SettingsWindow bare(s, SettingsWindow::PaneFactories{});
    for (SettingsTab tab : {SettingsTab::general, SettingsTab::backup}) {
        EXPECT_NE(dynamic_cast<EmptyPane*>(bare.pane(tab)), nullptr);
        EXPECT_TRUE(bare.pane(tab)->findChildren<QPushButton*>().isEmpty()) << "no controls";
    }
}

TEST_F(SettingsWindowTest, ScrollAreasGetOverlayBarsAlsoInATabShownLater) {
    auto& s = makeState();
    SettingsWindow::PaneFactories panes;
    QScrollArea* late = nullptr;
    panes[static_cast<std::size_t>(SettingsTab::log)] = [&](AppState&) -> QWidget* {
        auto* pane = new QWidget;
        new QVBoxLayout(pane);
        return pane;
    };
    SettingsWindow window(s, panes);
    window.present();
    processEvents();
    // The pane's own scroll area keeps a bar that shows while the pane overflows the window.
    for (const auto& info : settingsTabs) {
        EXPECT_TRUE(OverlayScrollerSweep::usesSteadyScrollers(
            window.pane(info.tab)->parentWidget()->parentWidget()));
    }
    // A pane that makes a scroll area after the window opened: caught when its tab shows.
    late = new QScrollArea(window.pane(SettingsTab::log));
    window.pane(SettingsTab::log)->layout()->addWidget(late);
    EXPECT_FALSE(OverlayScrollerSweep::usesOverlayScrollers(late));
    s.setSettingsTab(SettingsTab::log);
    EXPECT_TRUE(OverlayScrollerSweep::usesOverlayScrollers(late));
    EXPECT_TRUE(late->verticalScrollBar()->style()->styleHint(QStyle::SH_ScrollBar_Transient));

    auto* probe = window.findChild<QWidget*>(QStringLiteral("overlayScrollerSweep"));
    ASSERT_NE(probe, nullptr);
    EXPECT_TRUE(probe->testAttribute(Qt::WA_TransparentForMouseEvents));
    window.close();
}

TEST_F(SettingsWindowTest, ClosingTheWindowEndsTheGrantPollingAndTheBadgeFollowsTheUpdater) {
    auto& s = makeState();
    s.start();
    SettingsWindow window(s);
    window.present();
    EXPECT_FALSE(window.showsUpdateBadge());
    offerUpdate("2.0");
    EXPECT_TRUE(window.showsUpdateBadge());
    s.updateController().resetUpdateCycle();
    EXPECT_FALSE(window.showsUpdateBadge());

    s.accessibilityWatcher().start([] {});
    window.close();
    EXPECT_FALSE(s.accessibilityWatcher().isPolling());
    window.present();
    EXPECT_FALSE(s.accessibilityWatcher().isPolling()) << "only the grant button starts it";
}

TEST_F(SettingsWindowTest, CtrlWClosesSettingsAndEscapeOrCtrlWTheSmallWindows) {
    auto& s = makeState();
    s.start();
    SettingsWindow window(s);
    window.present();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());

    s.makeUpdateContent = [](std::function<void()>) -> QWidget* {
        auto* content = new QWidget;
        content->setFixedSize(200, 100);
        return content;
    };
    for (const QKeyCombination key :
         {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
        s.showUpdateWindow();
        QWidget* update = s.updateWindow().window();
        update->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(update));
        QTest::keyClick(update, key.key(), key.keyboardModifiers());
        EXPECT_FALSE(update->isVisible());
    }
}

TEST_F(SettingsWindowTest, TheNoteSendsToPermissionsOnceAndTheGrantButtonKeepsOneWatcher) {
    auto& s = makeState();
    s.start();
    int announced = 0;
    QObject::connect(&s, &AppState::settingsTabChanged, [&] { ++announced; });
    AccessibilityRequiredNote note(s, "Per-URL rules in your browser");
    note.setUpButton()->click();
    note.setUpButton()->click();
    EXPECT_EQ(s.settingsTab(), SettingsTab::permissions);
    EXPECT_EQ(announced, 1);

    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::french));
    GrantAccessibilityButton grant(s);
    grant.click();
    grant.click();
    auto& flow = dynamic_cast<PermissionFlowStandIn&>(s.permissionFlow());
    EXPECT_EQ(flow.opens, 2);
    EXPECT_EQ(flow.localeIdentifier, "fr");
    ASSERT_TRUE(flow.lastLaunchFrom.has_value());
    EXPECT_EQ(flow.lastLaunchFrom->width, 32);
    EXPECT_EQ(flow.lastLaunchFrom->height, 32);
    EXPECT_TRUE(s.accessibilityWatcher().isPolling());
    accessibility.setTrusted(true);
    loop.advance(Seconds(0.5));
    EXPECT_TRUE(s.accessibilityGranted());
    EXPECT_FALSE(s.accessibilityWatcher().isPolling());
    EXPECT_EQ(flow.stops, 1);
}

TEST_F(SettingsWindowTest, ThePermissionsPaneOffersTheGrantUntilAccessIsSeen) {
    auto& s = makeState();
    s.start();
    PermissionsSettingsPane pane(s);
    pane.show();
    EXPECT_NE(pane.findChild<QWidget*>(QStringLiteral("grantExplanation")), nullptr);
    EXPECT_NE(pane.findChild<GrantAccessibilityButton*>(), nullptr);
    EXPECT_EQ(pane.findChild<QWidget*>(QStringLiteral("accessGranted")), nullptr);

    accessibility.setTrusted(true);
    pane.hide();
    pane.show();  // shown again: the grant is read again
    EXPECT_TRUE(s.accessibilityGranted());
    EXPECT_NE(pane.findChild<QWidget*>(QStringLiteral("accessGranted")), nullptr);
    EXPECT_EQ(pane.findChild<GrantAccessibilityButton*>(), nullptr);

    accessibility.setTrusted(false);
    s.refreshAccessibilityStatus();
    EXPECT_NE(pane.findChild<GrantAccessibilityButton*>(), nullptr);
}

TEST_F(SettingsWindowTest, ThePermissionsPaneSaysWhatBrowsersNeedOrWhyNothingCanBeGranted) {
    struct Case {
        std::string unavailable;
        bool trusted;
        bool grantButton;
        bool restartNote;
    };
    const Case cases[] = {
        {"", false, true, true},
        {"", true, false, true},
        {"This session has no accessibility bus (AT-SPI).", false, false, false},
    };
    for (const auto& c : cases) {
        auto services = this->services();
        services.accessibilityUnavailable = c.unavailable;
        accessibility.setTrusted(c.trusted);
        AppState s(std::move(services));
        PermissionsSettingsPane pane(s);
        pane.show();
        const auto* warning = pane.findChild<QWidget*>(QStringLiteral("accessibilityUnavailable"));
        EXPECT_EQ(warning != nullptr, !c.unavailable.empty()) << c.unavailable;
        if (warning) {
            EXPECT_TRUE(warning->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly) !=
                        nullptr);
        }
        EXPECT_EQ(pane.findChild<GrantAccessibilityButton*>() != nullptr, c.grantButton)
            << c.unavailable << c.trusted;
        const auto* note = pane.findChild<QLabel*>(QStringLiteral("browserRestartNote"));
        EXPECT_EQ(note != nullptr, c.restartNote) << c.unavailable << c.trusted;
        if (note) {
            EXPECT_TRUE(note->text().contains(QStringLiteral("--force-renderer-accessibility")));
        }
    }
}

TEST_F(SettingsWindowTest, AnUnknownApplicationShowsItsIdentityAndThePlaceholder) {
    auto& s = makeState();
    AppRowLabel unknown(s, "com.example.Nowhere", std::nullopt, std::nullopt, 32);
    EXPECT_TRUE(unknown.showsPlaceholder());
    EXPECT_EQ(unknown.title(), QStringLiteral("com.example.Nowhere"));
    AppRowLabel named(s, "com.example.Nowhere", QStringLiteral("Somewhere"), std::nullopt, 32);
    EXPECT_EQ(named.title(), QStringLiteral("Somewhere"));
}

TEST_F(SettingsWindowTest, TallEnoughForEveryPaneInEveryLanguageAndAPaneScrollsWhenItMust) {
    auto& s = makeState();
    s.start();
    for (auto language : allCases<SupportedLanguage>()) {
        s.setLanguagePreference(LanguagePreference::specific(language));
        SettingsWindow window(s);
        const QRect available = QApplication::primaryScreen()->availableGeometry();
        EXPECT_LE(window.height(), available.height()) << rawValue(language);
        EXPECT_GE(window.height(), std::min(window.heightForTallestPane(), available.height()))
            << rawValue(language);

        // At that height no pane needs its scroll bar.
        window.resize(window.width(), window.heightForTallestPane());
        window.show();
        for (const auto& info : settingsTabs) {
            s.setSettingsTab(info.tab);
            QCoreApplication::processEvents();
            auto* scroller =
                qobject_cast<QScrollArea*>(window.pane(info.tab)->parentWidget()->parentWidget());
            ASSERT_NE(scroller, nullptr);
            EXPECT_EQ(scroller->verticalScrollBar()->maximum(), 0)
                << rawValue(language) << ": " << info.title;
        }
        // Lower than that, the General pane scrolls to its end.
        window.setMinimumHeight(200);
        window.resize(window.width(), 400);
        s.setSettingsTab(SettingsTab::general);
        QCoreApplication::processEvents();
        auto* general = qobject_cast<QScrollArea*>(
            window.pane(SettingsTab::general)->parentWidget()->parentWidget());
        EXPECT_GT(general->verticalScrollBar()->maximum(), 0) << rawValue(language);
        s.setSettingsTab(SettingsTab::general);
    }
}

// A language chosen while the window shows: it grows to the new General pane as far as the
// screen allows (the tabs' labels are laid out anew too), and scrolls beyond.
TEST_F(SettingsWindowTest, AfterALanguageSwitchTheWindowFitsTheNewPane) {
    auto& s = makeState();
    s.start();
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
    SettingsWindow window(s);
    window.show();
    QCoreApplication::processEvents();
    const int available = QApplication::primaryScreen()->availableGeometry().height();
    for (auto language : {SupportedLanguage::japanese, SupportedLanguage::russian}) {
        s.setLanguagePreference(LanguagePreference::specific(language));
        for (int turn = 0; turn < 3; ++turn) {
            QCoreApplication::processEvents();
        }
        EXPECT_GE(window.height(), std::min(window.heightForTallestPane(), available))
            << rawValue(language);
        QWidget* pane = window.pane(SettingsTab::general);
        auto* scroller = qobject_cast<QScrollArea*>(pane->parentWidget()->parentWidget());
        const int shown = scroller->viewport()->height() + scroller->verticalScrollBar()->maximum();
        EXPECT_GE(shown, pane->heightForWidth(scroller->viewport()->width())) << rawValue(language);
    }
}

}  // namespace
}  // namespace tesvano
