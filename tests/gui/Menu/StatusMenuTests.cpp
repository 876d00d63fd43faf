#include <QAction>
#include <QMenu>

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "Tesvano/App/ShortcutNames.h"
#include "Tesvano/Menu/MenuKeyEquivalent.h"
#include "Tesvano/Menu/StatusMenu.h"
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
    EXPECT_FALSE(menu.item(QStringLiteral("status"))->isEnabled());
    EXPECT_FALSE(StatusMenu::showsCheck(row(menu, "xkb:us")));
    EXPECT_TRUE(StatusMenu::showsCheck(row(menu, "xkb:de")));

    s.toggleLock();
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
}

TEST_F(StatusMenuTest, KeyEquivalentsTakeOnePrintableCharacterAfterTheModifierSymbols) {
    const auto controlOption = Modifiers::control | Modifiers::option;
    auto lock = MenuKeyEquivalent::from("\u2303\u2325L", controlOption);
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->character, 'L');
    EXPECT_EQ(lock->modifiers, controlOption);
    EXPECT_EQ(lock->keySequence(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L));

    EXPECT_FALSE(MenuKeyEquivalent::from("\u2318Space", Modifiers::command));
    EXPECT_FALSE(MenuKeyEquivalent::from("\u2325F5", Modifiers::option));
    EXPECT_FALSE(MenuKeyEquivalent::from("\u2325\u2190", Modifiers::option)) << "an arrow";
    EXPECT_FALSE(MenuKeyEquivalent::from("\u2318\u00E9", Modifiers::command)) << "not ASCII";
    EXPECT_FALSE(MenuKeyEquivalent::from("\u2318", Modifiers::command)) << "no key left";

    auto comma = MenuKeyEquivalent::from("\u21E7\u2318,", Modifiers::shift | Modifiers::command);
    ASSERT_TRUE(comma);
    EXPECT_EQ(comma->keySequence(), QKeySequence(Qt::SHIFT | Qt::META | Qt::Key_Comma));
    // Flags that are no modifier of a key equivalent are dropped.
    EXPECT_EQ(
        MenuKeyEquivalent::from("\u21EA7", Modifiers::capsLock | Modifiers::control)->modifiers,
        Modifiers::control);
}

TEST_F(StatusMenuTest, TheStatusItemShowsTheToggleShortcutWhenItHasAKeyEquivalent) {
    auto& s = makeState();
    s.start();
    StatusMenu menu(s, [] {});
    EXPECT_TRUE(menu.item(QStringLiteral("status"))->shortcut().isEmpty());

    KeyboardShortcuts::setShortcut(
        KeyboardShortcuts::Shortcut(Key::l, Modifiers::control | Modifiers::option),
        ShortcutNames::toggleLock());
    EXPECT_EQ(menu.item(QStringLiteral("status"))->shortcut(),
              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L));

    KeyboardShortcuts::setShortcut(KeyboardShortcuts::Shortcut(Key::space, Modifiers::command),
                                   ShortcutNames::toggleLock());
    EXPECT_TRUE(menu.item(QStringLiteral("status"))->shortcut().isEmpty());
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
