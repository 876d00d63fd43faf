#include <gtest/gtest.h>

#include <memory>

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/X11HotKeys.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "tests/support/X11Test.h"
#include "tests/support/XkbKeymapLoader.h"

// Last: Xlib's macros (None, Bool) would break the test framework's headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace KeyboardShortcuts {
namespace {

using tesvano::platform::X11HotKeys;

class X11HotKeysTest : public tesvano::test::X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        user = openClient();
        ASSERT_NE(user, nullptr);
        auto opened = X11HotKeys::open(loop, display());
        ASSERT_TRUE(opened.has_value()) << opened.error();
        hotKeys = std::move(*opened);
        library = std::make_unique<Library>(defaults, *hotKeys, *hotKeys);
        onKeyDown(toggleLock, [this] { ++presses; });
        onKeyUp(toggleLock, [this] { ++releases; });
    }

    void TearDown() override {
        library.reset();
        hotKeys.reset();
        X11Test::TearDown();
    }

    unsigned keycode(KeySym sym) { return XKeysymToKeycode(user, sym); }
    void down(KeySym sym) { XTestFakeKeyEvent(user, keycode(sym), True, 0); }
    void up(KeySym sym) { XTestFakeKeyEvent(user, keycode(sym), False, 0); }
    void tap(KeySym sym) {
        down(sym);
        up(sym);
    }
    // Everything the user typed has reached the server, and everything the server sent the
    // hot keys has been handled.
    void settle() {
        XSync(user, False);
        hotKeys->sync();
        loop.runDue();
    }
    void typeControlCommandL() {
        down(XK_Control_L);
        down(XK_Super_L);
        tap(XK_l);
        up(XK_Super_L);
        up(XK_Control_L);
        settle();
    }
    unsigned lockedModifiers() {
        XkbStateRec state{};
        XkbGetState(user, XkbUseCoreKbd, &state);
        return state.locked_mods;
    }

    tesvano::platform::ManualRunLoop loop;
    tesvano::platform::MemoryDefaults defaults;
    Display* user = nullptr;
    std::unique_ptr<X11HotKeys> hotKeys;
    std::unique_ptr<Library> library;
    const Name toggleLock{"toggleLock"};
    const Shortcut controlCommandL{Key::l, Modifiers::control | Modifiers::super};
    int presses = 0;
    int releases = 0;
};

TEST_F(X11HotKeysTest, OnePressAndOneReleaseWhateverTheLocks) {
    setShortcut(controlCommandL, toggleLock);
    ASSERT_EQ(hotKeyRegistrar().entries().size(), 1u);
    EXPECT_TRUE(hotKeyRegistrar().entries()[0].grabbed);

    typeControlCommandL();
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(releases, 1);

    tap(XK_Num_Lock);
    tap(XK_Caps_Lock);
    settle();
    ASSERT_EQ(lockedModifiers() & (LockMask | Mod2Mask), unsigned{LockMask | Mod2Mask});
    typeControlCommandL();
    EXPECT_EQ(presses, 2);
    EXPECT_EQ(releases, 2);

    // Other modifiers make another combination, which stays the user's.
    down(XK_Control_L);
    tap(XK_l);
    up(XK_Control_L);
    settle();
    EXPECT_EQ(releases, 2);
}

TEST_F(X11HotKeysTest, TheReleaseCountsWhenTheModifiersGoFirst) {
    setShortcut(controlCommandL, toggleLock);
    down(XK_Control_L);
    down(XK_Super_L);
    down(XK_l);
    up(XK_Control_L);
    up(XK_Super_L);
    settle();
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(releases, 0);
    up(XK_l);
    settle();
    EXPECT_EQ(releases, 1);
}

TEST_F(X11HotKeysTest, AHeldKeyIsOnePressAndOneRelease) {
    setShortcut(controlCommandL, toggleLock);
    XkbSetAutoRepeatRate(user, XkbUseCoreKbd, 10, 10);  // milliseconds: repeats come at once
    down(XK_Control_L);
    down(XK_Super_L);
    down(XK_l);
    XFlush(user);
    ASSERT_TRUE(tesvano::test::waitUntil(
        [this] {
            loop.pumpFds(std::chrono::milliseconds(20));
            loop.runDue();
        },
        [this] { return hotKeys->repeatsIgnored() >= 3; }));
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(releases, 0);
    up(XK_l);
    up(XK_Super_L);
    up(XK_Control_L);
    settle();
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(releases, 1);
}

TEST_F(X11HotKeysTest, ACombinationAnotherClientHoldsIsRefusedQuietly) {
    const Window root = XDefaultRootWindow(user);
    XGrabKey(user, static_cast<int>(keycode(XK_l)), ControlMask | Mod4Mask, root, False,
             GrabModeAsync, GrabModeAsync);
    XSync(user, False);

    EXPECT_TRUE(hotKeyRegistrar().isReservedBySystem(controlCommandL));
    setShortcut(controlCommandL, toggleLock);
    EXPECT_EQ(getShortcut(toggleLock), controlCommandL);
    EXPECT_TRUE(hotKeyRegistrar().entries().empty());
    typeControlCommandL();
    EXPECT_EQ(releases, 0);

    // Given back by the other client, it is free, and ours once stored again.
    XUngrabKey(user, static_cast<int>(keycode(XK_l)), ControlMask | Mod4Mask, root);
    XSync(user, False);
    EXPECT_FALSE(hotKeyRegistrar().isReservedBySystem(controlCommandL));
    setShortcut(std::nullopt, toggleLock);
    setShortcut(controlCommandL, toggleLock);
    typeControlCommandL();
    EXPECT_EQ(releases, 1);
    // Held by this program, it is not reported as taken.
    EXPECT_FALSE(hotKeyRegistrar().isReservedBySystem(controlCommandL));
}

TEST_F(X11HotKeysTest, KeysShowTheLatinLayoutAndGrabsSurviveANewKeymap) {
    setShortcut(controlCommandL, toggleLock);
    EXPECT_EQ(Shortcut(Key::a, Modifiers::super).description(), "Super+A");
    EXPECT_EQ(controlCommandL.description(), "Ctrl+Super+L");

    // Russian first: the letters come from the Latin layout behind it.
    ASSERT_TRUE(tesvano::test::loadKeymap(user, {{"ru", ""}, {"fr", ""}}).has_value());
    settle();
    EXPECT_EQ(Shortcut(Key::a, Modifiers::super).description(), "Super+Q");
    XkbLockGroup(user, XkbUseCoreKbd, 1);
    settle();
    EXPECT_EQ(Shortcut(Key::w, Modifiers::super).description(), "Super+Z");
    // A dead key types nothing by itself.
    EXPECT_EQ(Shortcut(Key::leftBracket, Modifiers::super).description(), "Super+");

    tap(XK_Num_Lock);
    settle();
    typeControlCommandL();
    EXPECT_EQ(releases, 1);
}

TEST(X11HotKeys, UnreachableDisplayIsAClearError) {
    tesvano::platform::ManualRunLoop loop;
    const auto opened = X11HotKeys::open(loop, ":9973");
    ASSERT_FALSE(opened.has_value());
    EXPECT_EQ(opened.error(), "cannot connect to display :9973");
}

}  // namespace
}  // namespace KeyboardShortcuts
