#include <gtest/gtest.h>

#include <algorithm>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/Xkb/XkbTextInputSources.h"
#include "TesvanoKit/Sources/InputSourceChangeObserver.h"
#include "TesvanoKit/Sources/TextInputSourceProvider.h"
#include "tests/support/X11Test.h"
#include "tests/support/XkbKeymapLoader.h"

// Last: Xlib's macros (None, Bool) would break the test framework's headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace tesvano {
namespace {

using namespace std::chrono_literals;
using platform::XkbTextInputSources;

std::vector<std::string> ids(const std::vector<InputSource>& sources) {
    std::vector<std::string> out;
    for (const auto& s : sources) {
        out.push_back(s.id.rawValue);
    }
    return out;
}

class XkbTextInputSourcesTest : public test::X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        other = openClient();
        ASSERT_NE(other, nullptr);
        const auto loaded = test::loadKeymap(other, {{"us", ""}, {"de", ""}, {"ru", ""}});
        ASSERT_TRUE(loaded.has_value()) << loaded.error();
        auto opened = XkbTextInputSources::open(loop, display());
        ASSERT_TRUE(opened.has_value()) << opened.error();
        system = std::move(*opened);
        provider = std::make_unique<TextInputSourceProvider>(*system);
    }

    void TearDown() override {
        provider.reset();
        system.reset();
        X11Test::TearDown();
    }

    void pump() {
        loop.pumpFds(20ms);
        loop.runDue();
    }
    // Lets whatever the server still has to say arrive, so that a count can be checked as
    // final.
    void drain() {
        test::waitUntil([this] { pump(); }, [] { return false; }, 300ms);
    }
    bool select(const char* id) {
        const auto source = provider->source(InputSourceID(id));
        return source && provider->select(*source);
    }

    platform::ManualRunLoop loop;
    Display* other = nullptr;
    std::unique_ptr<XkbTextInputSources> system;
    std::unique_ptr<TextInputSourceProvider> provider;
};

TEST_F(XkbTextInputSourcesTest, ListsLayoutsInGroupOrderSelectsAndRefusesUnknownIDs) {
    const auto sources = provider->selectableSources();
    ASSERT_EQ(ids(sources), (std::vector<std::string>{"xkb:us", "xkb:de", "xkb:ru"}));
    EXPECT_EQ(sources[0].localizedName, "English (US)");
    EXPECT_EQ(sources[1].localizedName, "German");
    EXPECT_EQ(sources[2].localizedName, "Russian");
    EXPECT_TRUE(std::ranges::none_of(sources, &InputSource::isCJKV));
    const auto raw = system->sources();
    ASSERT_EQ(raw.size(), 3u);
    EXPECT_EQ(raw[1].languages, (std::vector<std::string>{"de"}));
    EXPECT_EQ(provider->currentSourceID(), InputSourceID("xkb:us"));

    ASSERT_TRUE(select("xkb:ru"));
    EXPECT_EQ(provider->currentSourceID(), InputSourceID("xkb:ru"));
    XkbStateRec state{};
    ASSERT_EQ(XkbGetState(other, XkbUseCoreKbd, &state), 0);
    EXPECT_EQ(state.locked_group, 2) << "the server itself has the group locked";

    EXPECT_FALSE(provider->source("xkb:fr").has_value());
    EXPECT_EQ(provider->currentSourceID(), InputSourceID("xkb:ru"));
    EXPECT_EQ(provider->source("xkb:de")->localizedName, "German");
}

// A desktop appends the interface language's layout as a fourth group: the layout is one
// source, selecting it locks its first group, and either group reads as that source.
TEST_F(XkbTextInputSourcesTest, LayoutRepeatedInALaterGroupIsOneSource) {
    const auto loaded = test::loadKeymap(other, {{"us", ""}, {"de", ""}, {"ru", ""}, {"us", ""}});
    ASSERT_TRUE(loaded.has_value()) << loaded.error();
    ASSERT_TRUE(
        test::waitUntil([this] { pump(); }, [this] { return system->sources().size() == 3; }));
    EXPECT_EQ(ids(provider->selectableSources()),
              (std::vector<std::string>{"xkb:us", "xkb:de", "xkb:ru"}));

    XkbLockGroup(other, XkbUseCoreKbd, 3);
    XSync(other, False);  // the server has locked it before we read or select
    ASSERT_TRUE(
        test::waitUntil([this] { pump(); },
                        [this] { return provider->currentSourceID() == InputSourceID("xkb:us"); }));
    ASSERT_TRUE(select("xkb:ru"));
    ASSERT_TRUE(select("xkb:us"));
    XkbStateRec state{};
    ASSERT_EQ(XkbGetState(other, XkbUseCoreKbd, &state), 0);
    EXPECT_EQ(state.locked_group, 0) << "the first group that carries the layout";
    EXPECT_EQ(provider->currentSourceID(), InputSourceID("xkb:us"));

    // A desktop's own selection route gets the group first; when it fails the group is
    // locked directly.
    std::vector<unsigned> routed;
    bool routeWorks = true;
    system->setGroupSelector([&](unsigned group) {
        routed.push_back(group);
        if (routeWorks) {
            XkbLockGroup(other, XkbUseCoreKbd, group);
            XFlush(other);
            XSync(other, False);
        }
        return routeWorks;
    });
    ASSERT_TRUE(select("xkb:ru"));
    routeWorks = false;
    ASSERT_TRUE(select("xkb:de"));
    EXPECT_EQ(routed, (std::vector<unsigned>{2, 1}));
    ASSERT_EQ(XkbGetState(other, XkbUseCoreKbd, &state), 0);
    EXPECT_EQ(state.locked_group, 1);
}

TEST_F(XkbTextInputSourcesTest, AnotherClientsGroupLockIsOneSelectionChange) {
    int selections = 0;
    int enabledChanges = 0;
    InputSourceChangeObserver selection(*system, InputSourceEvent::selectionChanged);
    InputSourceChangeObserver enabled(*system, InputSourceEvent::enabledSourcesChanged);
    selection.start([&] { ++selections; });
    enabled.start([&] { ++enabledChanges; });

    XkbLockGroup(other, XkbUseCoreKbd, 1);
    XFlush(other);
    ASSERT_TRUE(test::waitUntil([this] { pump(); }, [&] { return selections > 0; }));
    drain();
    EXPECT_EQ(selections, 1);
    EXPECT_EQ(enabledChanges, 0);
    EXPECT_EQ(provider->currentSourceID(), InputSourceID("xkb:de"));

    // Stopped: the next change is dispatched but reaches nobody.
    selection.stop();
    int dispatched = 0;
    auto witness = system->onSelectionChanged([&] { ++dispatched; });
    XkbLockGroup(other, XkbUseCoreKbd, 2);
    XFlush(other);
    ASSERT_TRUE(test::waitUntil([this] { pump(); }, [&] { return dispatched > 0; }));
    EXPECT_EQ(selections, 1);
}

TEST_F(XkbTextInputSourcesTest, NewKeymapIsAnEnabledSourcesChangeAndTheListFollows) {
    int enabledChanges = 0;
    InputSourceChangeObserver enabled(*system, InputSourceEvent::enabledSourcesChanged);
    enabled.start([&] { ++enabledChanges; });

    const auto loaded = test::loadKeymap(other, {{"us", ""}, {"de", "nodeadkeys"}, {"jp", ""}});
    ASSERT_TRUE(loaded.has_value()) << loaded.error();
    const std::vector<std::string> expected = {"xkb:us", "xkb:de(nodeadkeys)", "xkb:jp"};
    ASSERT_TRUE(test::waitUntil(
        [this] { pump(); },
        [&] { return enabledChanges > 0 && ids(provider->selectableSources()) == expected; }));

    const auto sources = provider->selectableSources();
    EXPECT_EQ(sources[1].localizedName, "German (no dead keys)");
    EXPECT_EQ(system->sourceWithID("xkb:de(nodeadkeys)")->languages,
              (std::vector<std::string>{"de"}));
    EXPECT_EQ(sources[2].localizedName, "Japanese");
    EXPECT_TRUE(sources[2].isCJKV);
    EXPECT_FALSE(sources[0].isCJKV);
}

TEST_F(XkbTextInputSourcesTest, LayoutListFollowsANewKeymapNotYetDispatched) {
    ASSERT_EQ(ids(provider->selectableSources()),
              (std::vector<std::string>{"xkb:us", "xkb:de", "xkb:ru"}));
    // The loop is not run: the list must not come from what was read before the change.
    const auto loaded = test::loadKeymap(other, {{"us", ""}, {"fr", ""}});
    ASSERT_TRUE(loaded.has_value()) << loaded.error();
    EXPECT_TRUE(test::waitUntil([] {},
                                [&] {
                                    return ids(provider->selectableSources()) ==
                                           std::vector<std::string>{"xkb:us", "xkb:fr"};
                                }));
}

TEST_F(XkbTextInputSourcesTest, TheCurrentSourceFollowsGroupChangesNotYetDispatched) {
    ASSERT_EQ(system->currentKeyboardSource()->id, "xkb:us");
    // The loop is not run: the answer must not come from what was known before the change.
    XkbLockGroup(other, XkbUseCoreKbd, 2);
    XFlush(other);
    EXPECT_TRUE(
        test::waitUntil([] {}, [&] { return system->currentKeyboardSource()->id == "xkb:ru"; }));
    // Our own selection is read back at once, whether or not its notification has arrived.
    ASSERT_EQ(system->select(*system->sourceWithID("xkb:de")), platform::SelectStatus::ok);
    EXPECT_EQ(system->currentKeyboardSource()->id, "xkb:de");
    drain();
    EXPECT_EQ(system->currentKeyboardSource()->id, "xkb:de");
    XkbLockGroup(other, XkbUseCoreKbd, 0);
    XFlush(other);
    EXPECT_TRUE(test::waitUntil([this] { pump(); },
                                [&] { return system->currentKeyboardSource()->id == "xkb:us"; }));
}

TEST(XkbTextInputSources, UnreachableDisplayIsAClearError) {
    platform::ManualRunLoop loop;
    const auto opened = XkbTextInputSources::open(loop, ":9973");
    ASSERT_FALSE(opened.has_value());
    EXPECT_EQ(opened.error(), "cannot connect to display :9973");
}

}  // namespace
}  // namespace tesvano
