#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMenu>
#include <QTest>

#include "KeyboardShortcuts/KeyCodeTable.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Library.h"
#include "KeyboardShortcuts/Recorder/MenuModeFilter.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "tests/gui/GuiApplication.h"

namespace KeyboardShortcuts {
namespace {

class MenuModeTest : public ::testing::Test {
protected:
    MenuModeTest() {
        setShortcut(controlReturn, name);
        onKeyDown(name, [this] { ++keyDowns; });
        onKeyUp(name, [this] { ++keyUps; });
        // Return chooses the highlighted item whatever the modifiers, and this one even has the
        // global shortcut's combination as its own.
        quit = menu.addAction(QStringLiteral("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Return));
        QObject::connect(quit, &QAction::triggered, [this] { ++triggered; });
        menu.addAction(QStringLiteral("About"));
    }

    void open() {
        menu.popup(QPoint(10, 10));
        ASSERT_TRUE(menu.isVisible());
        QTest::keyClick(&menu, Qt::Key_Down);
        ASSERT_EQ(menu.activeAction(), quit) << "other keys reach the menu";
    }

    QApplication& application = tesvano::guitest::guiApplication();
    tesvano::platform::MemoryDefaults defaults;
    tesvano::platform::FakeHotKeys hotKeys;
    Library library{defaults, hotKeys, hotKeys};
    MenuModeFilter filter;
    const Name name{"toggleLock"};
    const Shortcut controlReturn{Key::returnKey, Modifiers::control};
    const tesvano::platform::KeyCombination combination = *xCombination(controlReturn);
    QMenu menu;
    QAction* quit = nullptr;
    int keyDowns = 0;
    int keyUps = 0;
    int triggered = 0;
};

TEST_F(MenuModeTest, WithAMenuOpenTheShortcutFiresAndNoItemIsTriggered) {
    ASSERT_TRUE(hotKeys.isGrabbed(combination));
    open();
    EXPECT_TRUE(isMenuOpen());
    EXPECT_FALSE(hotKeys.isGrabbed(combination)) << "the grab is withdrawn while the menu is open";

    QTest::keyClick(&menu, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(keyDowns, 1);
    EXPECT_EQ(keyUps, 1);
    EXPECT_EQ(triggered, 0);
    EXPECT_TRUE(menu.isVisible());

    // Held: repeats are neither a new press nor the menu's; Control let go first still ends it.
    QTest::keyPress(&menu, Qt::Key_Return, Qt::ControlModifier);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier, QStringLiteral("\r"),
                     true);
    QApplication::sendEvent(&menu, &repeat);
    QTest::keyRelease(&menu, Qt::Key_Return, Qt::NoModifier);
    EXPECT_EQ(keyDowns, 2);
    EXPECT_EQ(keyUps, 2);
    EXPECT_EQ(triggered, 0);

    menu.hide();
    EXPECT_FALSE(isMenuOpen());
    EXPECT_TRUE(hotKeys.isGrabbed(combination)) << "grabbed again when the menu closes";
    ASSERT_TRUE(hotKeys.press(combination));
    ASSERT_TRUE(hotKeys.release(combination));
    EXPECT_EQ(keyUps, 3);
}

TEST_F(MenuModeTest, WithoutARegisteredShortcutTheKeyIsTheMenus) {
    // The same key once nobody has it: the menu takes it, which is what the filter prevents.
    setShortcut(std::nullopt, name);
    open();
    QTest::keyClick(&menu, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(triggered, 1);
    EXPECT_EQ(keyUps, 0);
    EXPECT_FALSE(menu.isVisible());
    EXPECT_FALSE(isMenuOpen());
}

TEST_F(MenuModeTest, SubmenusKeepMenuModeUntilTheLastOneCloses) {
    auto* sub = menu.addMenu(QStringLiteral("More"));
    sub->addAction(QStringLiteral("Nothing"));
    open();
    sub->popup(QPoint(40, 40));
    EXPECT_EQ(filter.openMenuCount(), 2);
    sub->hide();
    EXPECT_TRUE(isMenuOpen());
    QTest::keyClick(&menu, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(keyUps, 1);
    EXPECT_EQ(triggered, 0);
    menu.hide();
    EXPECT_FALSE(isMenuOpen());
}

}  // namespace
}  // namespace KeyboardShortcuts
