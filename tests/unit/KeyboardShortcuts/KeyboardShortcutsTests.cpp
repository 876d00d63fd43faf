#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"

namespace KeyboardShortcuts {
namespace {

using tesvano::platform::FakeHotKeys;
using tesvano::platform::KeyCombination;
using tesvano::platform::MemoryDefaults;

constexpr std::uint32_t kCommand = KeyCombination::mod4Mask;
const KeyCombination kCommandA{38, kCommand};
const KeyCombination kCommandB{56, kCommand};
const KeyCombination kF6{72, 0};

class KeyboardShortcutsTest : public ::testing::Test {
protected:
    KeyboardShortcutsTest() {
        observation = observeShortcutByNameDidChange(
            [this](const Name& name) { announced.push_back(name.rawValue); });
    }

    MemoryDefaults defaults;
    FakeHotKeys hotKeys;
    Library library{defaults, hotKeys, hotKeys};
    std::vector<std::string> announced;
    tesvano::platform::Registration observation;
    const Name toggleLock{"toggleLock"};
    const Name nextSource{"globalNextSource"};
    const Shortcut commandA{Key::a, Modifiers::super};
    const Shortcut commandB{Key::b, Modifiers::super};
};

TEST_F(KeyboardShortcutsTest, StoredTextDecodesWithoutNormalisationAndShowsItsKey) {
    defaults.set("KeyboardShortcuts_toggleLock", R"({"carbonKeyCode":0,"carbonModifiers":256})");
    const auto shortcut = getShortcut(toggleLock);
    ASSERT_TRUE(shortcut);
    EXPECT_EQ(shortcut->key(), Key::a);
    EXPECT_EQ(shortcut->modifiers(), Modifiers::super);
    EXPECT_EQ(shortcut->description(), "Super+A");

    // Caps lock's bit survives decoding but not construction.
    defaults.set("KeyboardShortcuts_toggleLock", R"({"carbonKeyCode":0,"carbonModifiers":1280})");
    EXPECT_EQ(getShortcut(toggleLock)->modifierBits, 0x500);
    EXPECT_EQ(Shortcut(0, 0x500).modifierBits, 0x100);

    // Anything else stored reads as none and leaves other names working.
    for (const char* bad : {"{\"carbonKeyCode\":0}", "not json", "[0,256]",
                            "{\"carbonKeyCode\":0.5,\"carbonModifiers\":0}"}) {
        defaults.set("KeyboardShortcuts_toggleLock", bad);
        EXPECT_FALSE(getShortcut(toggleLock)) << bad;
    }
    defaults.set("KeyboardShortcuts_toggleLock", std::int64_t{5});
    EXPECT_FALSE(getShortcut(toggleLock));
    setShortcut(commandB, nextSource);
    EXPECT_EQ(getShortcut(nextSource), commandB);
}

TEST_F(KeyboardShortcutsTest, SettingStoresJSONTextRegistersAtOnceAndAnnounces) {
    setShortcut(Shortcut(Key::f6), toggleLock);
    EXPECT_EQ(*defaults.string("KeyboardShortcuts_toggleLock"),
              R"({"carbonKeyCode":97,"carbonModifiers":0})");
    EXPECT_TRUE(hotKeys.isGrabbed(kF6));  // no handler yet, claimed all the same
    EXPECT_EQ(announced, std::vector<std::string>{"toggleLock"});

    // Another combination gives the old one back; the same again re-registers and announces.
    setShortcut(commandA, toggleLock);
    EXPECT_FALSE(hotKeys.isGrabbed(kF6));
    setShortcut(commandA, toggleLock);
    EXPECT_EQ(hotKeys.grabbed(), std::vector<KeyCombination>{kCommandA});
    EXPECT_EQ(announced.size(), 3u);
}

TEST_F(KeyboardShortcutsTest, ClearingRemovesOrStoresFalseAndAnnouncesOnlyAChange) {
    setShortcut(std::nullopt, toggleLock);
    EXPECT_TRUE(announced.empty());

    setShortcut(commandA, toggleLock);
    setShortcut(std::nullopt, toggleLock);
    EXPECT_FALSE(defaults.value("KeyboardShortcuts_toggleLock"));
    EXPECT_FALSE(hotKeys.isGrabbed(kCommandA));
    EXPECT_EQ(announced.size(), 2u);

    // A name with a default stores false, so making it again does not bring the default back.
    announced.clear();
    const Name withDefault("withDefault", commandB);
    EXPECT_EQ(announced, std::vector<std::string>{"withDefault"});
    EXPECT_TRUE(hotKeys.isGrabbed(kCommandB));
    withDefault.setShortcut(std::nullopt);
    EXPECT_EQ(defaults.value("KeyboardShortcuts_withDefault"),
              tesvano::platform::DefaultsValue(false));
    EXPECT_FALSE(withDefault.shortcut());
    EXPECT_TRUE(userDefaultsContains(withDefault));
    EXPECT_FALSE(hotKeys.isGrabbed(kCommandB));
    const Name again("withDefault", commandB);
    EXPECT_FALSE(again.shortcut());

    reset({withDefault, toggleLock});
    EXPECT_EQ(withDefault.shortcut(), commandB);
    EXPECT_EQ(announced.size(), 3u);  // made, cleared, reset; toggleLock had nothing
}

TEST_F(KeyboardShortcutsTest, TwoNamesOnOneCombinationRegisterOnceAndBothRunInOrder) {
    std::vector<std::string> calls;
    setShortcut(commandA, toggleLock);
    setShortcut(commandA, nextSource);
    onKeyUp(toggleLock, [&] { calls.push_back("toggle"); });
    onKeyUp(nextSource, [&] { calls.push_back("next"); });
    onKeyUp(toggleLock, [&] { calls.push_back("toggle 2"); });
    EXPECT_EQ(hotKeys.grabbed(), std::vector<KeyCombination>{kCommandA});
    EXPECT_EQ(hotKeys.grabRequests(), 1);

    EXPECT_TRUE(hotKeys.press(kCommandA));
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(hotKeys.release(kCommandA));
    EXPECT_EQ(calls, (std::vector<std::string>{"toggle", "toggle 2", "next"}));

    // Clearing one name keeps the hot key for the other.
    calls.clear();
    setShortcut(std::nullopt, toggleLock);
    EXPECT_TRUE(hotKeys.isGrabbed(kCommandA));
    hotKeys.press(kCommandA);
    hotKeys.release(kCommandA);
    EXPECT_EQ(calls, std::vector<std::string>{"next"});
}

TEST_F(KeyboardShortcutsTest, DispatchFollowsWhatIsStoredNow) {
    int downs = 0;
    int ups = 0;
    onKeyDown(toggleLock, [&] { ++downs; });
    onKeyUp(toggleLock, [&] { ++ups; });
    EXPECT_TRUE(hotKeys.grabbed().empty());  // nothing stored, nothing to register

    setShortcut(commandA, toggleLock);
    hotKeys.press(kCommandA);
    hotKeys.release(kCommandA);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);

    // A combination fired after the name moved on no longer reaches it.
    setShortcut(commandB, toggleLock);
    handleOnKeyUp(commandA);
    EXPECT_EQ(ups, 1);

    setPaused(true);
    hotKeys.release(kCommandB);
    EXPECT_EQ(ups, 1);
    setPaused(false);
    hotKeys.release(kCommandB);
    EXPECT_EQ(ups, 2);

    removeAllHandlers();
    EXPECT_TRUE(hotKeys.grabbed().empty());
    EXPECT_EQ(getShortcut(toggleLock), commandB);
}

TEST_F(KeyboardShortcutsTest, SubscriptionsHearTheirEventsUntilTheyEnd) {
    std::vector<std::string> heard;
    setShortcut(commandA, toggleLock);
    auto both = events(toggleLock, [&](EventType type) {
        heard.push_back(type == EventType::keyDown ? "down" : "up");
    });
    auto ups = eventStream(EventType::keyUp, toggleLock, [&] { heard.push_back("stream up"); });
    EXPECT_EQ(hotKeys.grabbed(), std::vector<KeyCombination>{kCommandA});
    hotKeys.press(kCommandA);
    hotKeys.release(kCommandA);
    EXPECT_EQ(heard, (std::vector<std::string>{"down", "up", "stream up"}));

    // One of two subscriptions of the name ends: the hot key stays for the other.
    heard.clear();
    both.cancel();
    EXPECT_TRUE(hotKeys.isGrabbed(kCommandA));
    hotKeys.press(kCommandA);
    hotKeys.release(kCommandA);
    EXPECT_EQ(heard, std::vector<std::string>{"stream up"});

    // A handler survives removeAllHandlers; the hot key does not.
    onKeyUp(nextSource, [] {});
    removeAllHandlers();
    EXPECT_TRUE(hotKeys.grabbed().empty());

    // The last one ending gives the hot key back, unless another name holds the combination.
    setShortcut(commandB, toggleLock);
    setShortcut(commandB, nextSource);
    onKeyUp(nextSource, [] {});
    ups.cancel();
    EXPECT_TRUE(hotKeys.isGrabbed(kCommandB));
    {
        auto scoped = events(toggleLock, [](EventType) {});
        setShortcut(std::nullopt, nextSource);
        removeAllHandlers();
        setShortcut(commandA, toggleLock);
        EXPECT_TRUE(hotKeys.isGrabbed(kCommandA));
    }
    EXPECT_FALSE(hotKeys.isGrabbed(kCommandA)) << "given back when the subscription ended";
}

TEST(KeyboardShortcutsLibrary, ASubscriptionMayOutliveItsLibrary) {
    MemoryDefaults defaults;
    FakeHotKeys hotKeys;
    tesvano::platform::Registration late;
    {
        Library library{defaults, hotKeys, hotKeys};
        setShortcut(Shortcut(Key::a, Modifiers::super), Name("toggleLock"));
        late = events(Name("toggleLock"), [](EventType) {});
    }
    late.cancel();  // nothing left to touch
    EXPECT_FALSE(Library::isInstalled());
}

TEST_F(KeyboardShortcutsTest, DisableEnableAndTheEnabledSwitchWithdrawAndRestoreGrabs) {
    int ups = 0;
    setShortcut(commandA, toggleLock);
    onKeyUp(toggleLock, [&] { ++ups; });
    announced.clear();

    disable({toggleLock});
    EXPECT_FALSE(hotKeys.isGrabbed(kCommandA));
    enable({toggleLock});
    EXPECT_TRUE(hotKeys.isGrabbed(kCommandA));
    EXPECT_TRUE(announced.empty());
    EXPECT_EQ(getShortcut(toggleLock), commandA);

    setEnabled(false);
    EXPECT_FALSE(hotKeys.release(kCommandA));
    // Registered while off: kept, and grabbed only once hot keys are on again.
    setShortcut(commandB, nextSource);
    EXPECT_TRUE(hotKeys.grabbed().empty());
    const int requests = hotKeys.grabRequests();
    setEnabled(false);
    EXPECT_EQ(hotKeys.grabRequests(), requests);
    setEnabled(true);
    EXPECT_EQ(hotKeys.grabbed(), (std::vector<KeyCombination>{kCommandA, kCommandB}));
    hotKeys.release(kCommandA);
    EXPECT_EQ(ups, 1);
}

TEST_F(KeyboardShortcutsTest, WithAMenuOpenTheProgramsOwnKeyEventsDispatch) {
    std::vector<std::string> calls;
    setShortcut(commandA, toggleLock);
    onKeyDown(toggleLock, [&] { calls.push_back("down"); });
    onKeyUp(toggleLock, [&] { calls.push_back("up"); });
    const auto idBefore = hotKeyRegistrar().entries().at(0).id;

    setMenuOpen(true);
    EXPECT_TRUE(hotKeys.grabbed().empty());
    auto& registrar = hotKeyRegistrar();
    using Kind = HotKeyRegistrar::RawKeyKind;
    EXPECT_TRUE(registrar.handleRawKeyEvent(Kind::keyDown, 0,
                                            ModifierBits::superKey | ModifierBits::capsLock));
    EXPECT_FALSE(registrar.handleRawKeyEvent(Kind::autoRepeat, 0, ModifierBits::superKey));
    EXPECT_TRUE(registrar.handleRawKeyEvent(Kind::keyUp, 0, ModifierBits::superKey));
    EXPECT_FALSE(registrar.handleRawKeyEvent(Kind::keyDown, 0, 0));  // goes on to the menu
    EXPECT_EQ(calls, (std::vector<std::string>{"down", "up"}));

    setMenuOpen(false);
    ASSERT_EQ(registrar.entries().size(), 1u);
    EXPECT_EQ(registrar.entries()[0].id, idBefore);
    EXPECT_TRUE(registrar.entries()[0].grabbed);
    EXPECT_TRUE(hotKeys.isGrabbed(kCommandA));
}

TEST_F(KeyboardShortcutsTest, ACombinationHeldElsewhereIsStoredButNotGrabbed) {
    hotKeys.holdElsewhere(kCommandA);
    EXPECT_TRUE(hotKeyRegistrar().isReservedBySystem(commandA));
    EXPECT_FALSE(hotKeyRegistrar().isReservedBySystem(commandB));

    int ups = 0;
    onKeyUp(toggleLock, [&] { ++ups; });
    setShortcut(commandA, toggleLock);
    EXPECT_EQ(getShortcut(toggleLock), commandA);
    EXPECT_TRUE(hotKeys.grabbed().empty());
    EXPECT_TRUE(hotKeyRegistrar().entries().empty());
    EXPECT_FALSE(hotKeys.release(kCommandA));
    EXPECT_EQ(ups, 0);
}

TEST_F(KeyboardShortcutsTest, DroppedObserversHearNothingAndALibraryIsNeeded) {
    observation.cancel();
    setShortcut(commandA, toggleLock);
    EXPECT_TRUE(announced.empty());

    EXPECT_THROW((Library{defaults, hotKeys, hotKeys}), std::logic_error);
}

TEST(KeyboardShortcutsWithoutLibrary, CallsFailClearly) {
    EXPECT_FALSE(Library::isInstalled());
    EXPECT_THROW(getShortcut(Name("toggleLock")), std::logic_error);
    EXPECT_THROW(Name("x", Shortcut(Key::a, Modifiers::super)), std::logic_error);
}

TEST(KeyboardShortcutsLibrary, DestroyingItGivesEveryHotKeyBack) {
    MemoryDefaults defaults;
    FakeHotKeys hotKeys;
    {
        Library library(defaults, hotKeys, hotKeys);
        setShortcut(Shortcut(Key::a, Modifiers::super), Name("toggleLock"));
        EXPECT_EQ(hotKeys.grabbed().size(), 1u);
    }
    EXPECT_TRUE(hotKeys.grabbed().empty());
    EXPECT_TRUE(defaults.string("KeyboardShortcuts_toggleLock").has_value());
}

}  // namespace
}  // namespace KeyboardShortcuts
