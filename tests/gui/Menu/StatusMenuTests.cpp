#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Recorder/MenuItemShortcut.h"
#include "Tesvano/App/ShortcutNames.h"
#include "Tesvano/Menu/StatusMenu.h"
#include "Tesvano/Menu/TrayIcon.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

using KeyboardShortcuts::Key;
using KeyboardShortcuts::Modifiers;

class StatusMenuTest : public test::AppFixture {
protected:
    QAction* row(StatusMenu& menu, const char* id) {
        return menu.item(QStringLiteral("source:") + QString::fromUtf8(id));
    }
    // The titles of the items, "-" for a divider.
    static QStringList layout(const StatusMenu& menu) {
        QStringList out;
        for (QAction* action : menu.menu()->actions()) {
            out << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return out;
    }
};

TEST_F(StatusMenuTest, TheDefaultIsCheckedOnlyWhileLockingAndChoosingItAgainClearsIt) {
    auto& s = makeState();
    s.start();
    int quits = 0;
    StatusMenu menu(s, [&] { ++quits; });
    s.lockToSource(InputSourceID("xkb:de"));

    EXPECT_EQ(layout(menu),
              (test::texts({"Enabled", "-", "English (US)", "German", "-", "Settings…",
                            "Check for Updates…", "About", "-", "Quit"})));
    EXPECT_FALSE(StatusMenu::showsCheck(row(menu, "xkb:us")));
    EXPECT_TRUE(StatusMenu::showsCheck(row(menu, "xkb:de")));

    menu.item(QStringLiteral("status"))->trigger();  // what its shortcut does
    EXPECT_FALSE(s.config().isEnabled);
    EXPECT_EQ(menu.item(QStringLiteral("status"))->text(), QStringLiteral("Disabled"));
    EXPECT_FALSE(StatusMenu::showsCheck(row(menu, "xkb:us")));
    EXPECT_FALSE(StatusMenu::showsCheck(row(menu, "xkb:de"))) << "a stored default, unlocked";

    // An unchecked row while unlocked: locks to it.
    row(menu, "xkb:us")->trigger();
    EXPECT_TRUE(s.config().isEnabled);
    EXPECT_EQ(s.config().defaultSourceID, InputSourceID("xkb:us"));
    EXPECT_TRUE(StatusMenu::showsCheck(row(menu, "xkb:us")));

    // The checked row: the default goes, the lock stays.
    row(menu, "xkb:us")->trigger();
    EXPECT_TRUE(s.config().isEnabled);
    EXPECT_FALSE(s.config().defaultSourceID);
    EXPECT_FALSE(StatusMenu::showsCheck(row(menu, "xkb:us")));
    processEvents();  // the replaced items go once their signals have returned
    EXPECT_EQ(quits, 0);
}

TEST_F(StatusMenuTest, WithoutSourcesTheMenuGoesFromTheDividerToSettings) {
    system.installed.clear();
    auto& s = makeState();
    s.start();
    StatusMenu menu(s, [] {});
    EXPECT_EQ(
        layout(menu),
        (test::texts({"Disabled", "-", "Settings…", "Check for Updates…", "About", "-", "Quit"})));
    // A key shown in a tray menu works only while it is open: the menu shows none it can't keep.
    for (const char* item : {"settings", "update", "about"}) {
        EXPECT_TRUE(menu.item(QString::fromLatin1(item))->shortcut().isEmpty()) << item;
    }
}

TEST_F(StatusMenuTest, KeySequencesOfShortcuts) {
    using KeyboardShortcuts::keySequence;
    using KeyboardShortcuts::Shortcut;
    makeState();
    const struct {
        Shortcut shortcut;
        QKeySequence expected;
    } cases[] = {
        {Shortcut(Key::l, Modifiers::control | Modifiers::alt),
         QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L)},
        {Shortcut(Key::comma, Modifiers::shift | Modifiers::super),
         QKeySequence(Qt::SHIFT | Qt::META | Qt::Key_Comma)},
        {Shortcut(Key::space, Modifiers::super), QKeySequence(Qt::META | Qt::Key_Space)},
        {Shortcut(Key::f5, Modifiers::alt), QKeySequence(Qt::ALT | Qt::Key_F5)},
        {Shortcut(Key::leftArrow, Modifiers::alt), QKeySequence(Qt::ALT | Qt::Key_Left)},
        {Shortcut(Key::keypad5, Modifiers::control),
         QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_5))},
        {Shortcut(Key::volumeUp, Modifiers::super), QKeySequence(Qt::META | Qt::Key_VolumeUp)},
        // A dead key types nothing by itself and has no name: nothing to show.
        {Shortcut(Key::leftBracket, Modifiers::super), QKeySequence()},
    };
    hotKeys.layout[34] = "";
    for (const auto& c : cases) {
        EXPECT_EQ(keySequence(c.shortcut), c.expected) << c.shortcut.description();
    }
    EXPECT_EQ(keySequence(Shortcut(Key::l, Modifiers::control)).toString(),
              QStringLiteral("Ctrl+L"));
}

// Drawing the symbol anew for every change of the configuration (each command of the URL
// interface) left the icon engine's cache entries behind every time.
TEST_F(StatusMenuTest, TheTrayIconIsDrawnOncePerLockStateHoweverOftenTheRulesChange) {
    auto& s = makeState();
    s.start();
    StatusMenu menu(s, [] {});
    TrayIcon item(s, menu);
    s.lockToSource(InputSourceID("xkb:de"));
    const auto locked = item.qtTrayIcon()->icon().cacheKey();
    for (const char* source : {"xkb:us", "xkb:de", "xkb:us"}) {
        s.setDefaultSource(InputSourceID(source), RuleAction::lock);
    }
    EXPECT_EQ(item.qtTrayIcon()->icon().cacheKey(), locked);
    s.toggleLock();
    EXPECT_NE(item.qtTrayIcon()->icon().cacheKey(), locked);
    s.toggleLock();
    EXPECT_EQ(item.qtTrayIcon()->icon().cacheKey(), locked) << "drawn once, shown again";
}

TEST_F(StatusMenuTest, TheTrayIconFollowsTheToggleShortcut) {
    auto& s = makeState();
    s.start();
    StatusMenu menu(s, [] {});
    EXPECT_TRUE(menu.item(QStringLiteral("status"))->shortcut().isEmpty());

    KeyboardShortcuts::setShortcut(
        KeyboardShortcuts::Shortcut(Key::l, Modifiers::control | Modifiers::alt),
        ShortcutNames::toggleLock());
    EXPECT_EQ(menu.item(QStringLiteral("status"))->shortcut(),
              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L));
    EXPECT_TRUE(menu.item(QStringLiteral("status"))->isShortcutVisibleInContextMenu());

    KeyboardShortcuts::setShortcut(KeyboardShortcuts::Shortcut(Key::space, Modifiers::super),
                                   ShortcutNames::toggleLock());
    EXPECT_EQ(menu.item(QStringLiteral("status"))->shortcut(),
              QKeySequence(Qt::META | Qt::Key_Space));
    KeyboardShortcuts::setShortcut(std::nullopt, ShortcutNames::toggleLock());
    EXPECT_TRUE(menu.item(QStringLiteral("status"))->shortcut().isEmpty());
}

TEST_F(StatusMenuTest, ABoundItemFollowsItsNameUntilUnboundOrRebound) {
    using KeyboardShortcuts::Name;
    using KeyboardShortcuts::Shortcut;
    makeState();
    QAction item;
    KeyboardShortcuts::setShortcut(item, std::optional<Name>(ShortcutNames::globalNextSource()));
    KeyboardShortcuts::setShortcut(Shortcut(Key::n, Modifiers::control),
                                   ShortcutNames::globalNextSource());
    EXPECT_EQ(item.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));

    // Another name's changes are not followed.
    KeyboardShortcuts::setShortcut(item,
                                   std::optional<Name>(ShortcutNames::globalPreviousSource()));
    EXPECT_TRUE(item.shortcut().isEmpty());
    KeyboardShortcuts::setShortcut(Shortcut(Key::m, Modifiers::control),
                                   ShortcutNames::globalNextSource());
    EXPECT_TRUE(item.shortcut().isEmpty());

    KeyboardShortcuts::setShortcut(item, std::optional<Name>());
    KeyboardShortcuts::setShortcut(Shortcut(Key::p, Modifiers::control),
                                   ShortcutNames::globalPreviousSource());
    EXPECT_TRUE(item.shortcut().isEmpty()) << "unbound";

    // A bound item that goes away leaves nothing behind that could touch it.
    auto* doomed = new QAction;
    KeyboardShortcuts::setShortcut(*doomed,
                                   std::optional<Name>(ShortcutNames::globalPreviousSource()));
    delete doomed;
    KeyboardShortcuts::setShortcut(Shortcut(Key::o, Modifiers::control),
                                   ShortcutNames::globalPreviousSource());
}

TEST_F(StatusMenuTest, UpdateItemFollowsTheUpdaterAndQuitMarksTheRequestOnce) {
    auto& s = makeState();
    s.start();
    int quits = 0;
    int requestChanges = 0;
    QObject::connect(&s, &AppState::terminationRequestedChanged, [&] { ++requestChanges; });
    StatusMenu menu(s, [&] { ++quits; });

    EXPECT_TRUE(menu.item(QStringLiteral("update"))->isEnabled());
    EXPECT_EQ(menu.item(QStringLiteral("update"))->text(), QStringLiteral("Check for Updates…"));
    menu.item(QStringLiteral("update"))->trigger();
    EXPECT_EQ(updater->checks, 1);
    int windows = 0;
    s.updateController().onPresentUpdateWindow = [&] { ++windows; };
    offerUpdate("1.2.0");
    EXPECT_EQ(menu.item(QStringLiteral("update"))->text(), QStringLiteral("Install Update…"));
    menu.item(QStringLiteral("update"))->trigger();
    EXPECT_EQ(updater->checks, 1) << "a found update is shown, not looked for again";
    EXPECT_EQ(windows, 1);

    int settingsOpened = 0;
    s.openSettingsAction = [&] { ++settingsOpened; };
    menu.item(QStringLiteral("settings"))->trigger();
    EXPECT_EQ(settingsOpened, 1);

    menu.item(QStringLiteral("quit"))->trigger();
    menu.item(QStringLiteral("quit"))->trigger();
    EXPECT_TRUE(s.terminationRequested());
    EXPECT_EQ(requestChanges, 1);
    EXPECT_EQ(quits, 2) << "each choice asks the gate";
}

}  // namespace
}  // namespace tesvano
