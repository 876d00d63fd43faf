#include <gtest/gtest.h>

#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/TextInput/CombinedTextInputSources.h"
#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "TesvanoKit/Sources/TextInputSourceProvider.h"
#include "tests/support/LogCapture.h"

namespace tesvano::platform {
namespace {

using Role = CombinedTextInputSources::Role;

// Debug-level records are written only when asked for.
class DebugLogging {
public:
    DebugLogging() { ::setenv("TESVANO_DEBUG", "1", 1); }
    ~DebugLogging() { ::unsetenv("TESVANO_DEBUG"); }
};
using Kind = FocusedSelectionFailure::Kind;

// The X server's groups, IBus and Fcitx as scripted systems; the combination owns them and the
// test keeps a pointer to each.
class CombinedTextInputSourcesTest : public ::testing::Test {
protected:
    CombinedTextInputSourcesTest() {
        auto x = std::make_unique<FakeTextInputSources>();
        auto i = std::make_unique<FakeTextInputSources>();
        auto f = std::make_unique<FakeTextInputSources>();
        xkb = x.get();
        ibus = i.get();
        fcitx = f.get();
        xkb->installed = {FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
                          FakeTextInputSources::keyboard("xkb:de", "German", {"de"})};
        xkb->currentID = "xkb:us";
        ibus->installed = {
            FakeTextInputSources::keyboard("ibus:xkb:us::eng", "English (US)", {"en"}),
            FakeTextInputSources::keyboard("ibus:anthy", "Anthy", {"ja"})};
        ibus->managesLayouts = true;
        ibus->currentID = "ibus:xkb:us::eng";
        fcitx->installed = {FakeTextInputSources::keyboard("fcitx:pinyin", "Pinyin", {"zh_CN"})};
        fcitx->currentID = "fcitx:pinyin";
        ibus->available = false;
        fcitx->available = false;
        std::vector<CombinedTextInputSources::Backend> backends;
        backends.push_back({std::move(x), Role::layouts});
        backends.push_back({std::move(f), Role::framework});
        backends.push_back({std::move(i), Role::framework});
        combined = std::make_unique<CombinedTextInputSources>(std::move(backends));
    }

    std::vector<std::string> listedIDs() {
        std::vector<std::string> ids;
        for (const auto& source : combined->sources()) {
            ids.push_back(source.id.value_or("?"));
        }
        return ids;
    }

    std::string currentID() {
        const auto current = combined->currentKeyboardSource();
        return current && current->id ? *current->id : "none";
    }

    FakeTextInputSources* xkb = nullptr;
    FakeTextInputSources* ibus = nullptr;
    FakeTextInputSources* fcitx = nullptr;
    std::unique_ptr<CombinedTextInputSources> combined;
};

TEST_F(CombinedTextInputSourcesTest, WhichSourcesAreListedInEachSetUp) {
    struct Case {
        const char* setUp;
        bool ibusRuns;
        bool fcitxRuns;
        bool fcitxHasLayouts;
        std::vector<std::string> listed;
        std::string current;
    };
    const std::vector<Case> cases = {
        {"no framework", false, false, false, {"xkb:us", "xkb:de"}, "xkb:us"},
        {"IBus with layout engines",
         true,
         false,
         false,
         {"ibus:xkb:us::eng", "ibus:anthy"},
         "ibus:xkb:us::eng"},
        {"Fcitx with input methods only",
         false,
         true,
         false,
         {"xkb:us", "xkb:de", "fcitx:pinyin"},
         "fcitx:pinyin"},
        {"Fcitx with a keyboard entry",
         false,
         true,
         true,
         {"fcitx:keyboard-us", "fcitx:pinyin"},
         "fcitx:pinyin"},
        {"both: the preferred one only",
         true,
         true,
         false,
         {"xkb:us", "xkb:de", "fcitx:pinyin"},
         "fcitx:pinyin"},
    };
    for (const auto& c : cases) {
        ibus->available = c.ibusRuns;
        fcitx->available = c.fcitxRuns;
        fcitx->managesLayouts = c.fcitxHasLayouts;
        fcitx->installed = {FakeTextInputSources::keyboard("fcitx:pinyin", "Pinyin", {"zh"})};
        if (c.fcitxHasLayouts) {
            fcitx->installed.insert(
                fcitx->installed.begin(),
                FakeTextInputSources::keyboard("fcitx:keyboard-us", "Keyboard - English (US)"));
        }
        EXPECT_EQ(listedIDs(), c.listed) << c.setUp;
        EXPECT_EQ(currentID(), c.current) << c.setUp;
        EXPECT_EQ(combined->managesKeyboardLayouts(), c.listed.front().find("xkb:") != 0)
            << c.setUp;
    }
}

TEST_F(CombinedTextInputSourcesTest, AFrameworkWithoutACurrentEngineLeavesItToTheGroups) {
    fcitx->available = true;
    fcitx->currentID.reset();
    EXPECT_EQ(currentID(), "xkb:us");
    // A framework that sets the layouts hides the groups, and with them their current one:
    // until an input context has the focus there is nothing for a lock to change.
    ibus->available = true;
    fcitx->available = false;
    ibus->currentID.reset();
    EXPECT_EQ(currentID(), "none");
}

TEST_F(CombinedTextInputSourcesTest, RequestsGoToTheBackendThatListedTheSource) {
    fcitx->available = true;
    fcitx->focusedSelection = {};
    const auto listed = combined->sources();  // xkb:us, xkb:de, fcitx:pinyin
    EXPECT_EQ(combined->select(listed[1]), SelectStatus::ok);
    EXPECT_EQ(combined->select(listed[2]), SelectStatus::ok);
    EXPECT_EQ(xkb->selectCalls, std::vector<std::string>{"xkb:de"});
    EXPECT_EQ(fcitx->selectCalls, std::vector<std::string>{"fcitx:pinyin"});
    EXPECT_TRUE(combined->selectInFocusedContext(listed[2]).has_value());
    EXPECT_EQ(fcitx->focusedSelectCalls, std::vector<std::string>{"fcitx:pinyin"});
    // The groups have no such request, and a source of a backend not listed is unknown.
    EXPECT_EQ(combined->selectInFocusedContext(listed[0]).error().kind, Kind::unavailable);
    const TextInputSource anthy{"ibus:anthy", std::nullopt, std::nullopt, ibus};
    EXPECT_EQ(combined->selectInFocusedContext(anthy).error().kind, Kind::unavailable);
    EXPECT_EQ(combined->select(anthy), SelectStatus::unknownSource);
    EXPECT_TRUE(ibus->selectCalls.empty());

    // Hidden groups are not selectable either, one handed out before included: the lock must
    // not fight the framework.
    ibus->available = true;
    fcitx->available = false;
    EXPECT_EQ(combined->select(listed[1]), SelectStatus::unknownSource);
    EXPECT_FALSE(combined->sourceWithID("xkb:de").has_value());
    EXPECT_EQ(combined->select(*combined->sourceWithID("ibus:anthy")), SelectStatus::ok);
    EXPECT_EQ(xkb->selectCalls.size(), 1u);
}

TEST_F(CombinedTextInputSourcesTest, EveryBackendsChangesAreAnnounced) {
    int selections = 0;
    int lists = 0;
    auto s = combined->onSelectionChanged([&] { ++selections; });
    auto l = combined->onEnabledSourcesChanged([&] { ++lists; });
    ibus->available = true;
    ibus->sendEnabledSourcesChanged();
    ibus->sendSelectionChanged();
    // The hidden groups still count: a framework that sets a layout moves the group too.
    xkb->sendSelectionChanged();
    fcitx->sendEnabledSourcesChanged();
    EXPECT_EQ(selections, 2);
    EXPECT_EQ(lists, 2);
}

// The provider over the combination: CJKV engines go by the framework's request for the
// focused input context first; one that the framework never reports as current is asked for
// with the plain switch the next time.
TEST_F(CombinedTextInputSourcesTest, TheFocusedContextRouteIsConfirmedOrFallsBack) {
    struct Case {
        const char* what;
        FocusedSelection answer;
        bool takesEffect;
        std::vector<std::string> focusedCalls;  // after two selections of the engine
        std::vector<std::string> plainCalls;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"confirmed", FocusedSelection{}, true, {"ibus:anthy", "ibus:anthy"}, {}, nullptr},
        {"never confirmed",
         FocusedSelection{},
         false,
         {"ibus:anthy"},
         {"ibus:anthy"},
         "Input-context selection of ibus:anthy was never confirmed"},
        {"no focused context",
         std::unexpected(FocusedSelectionFailure{Kind::noFocus, 0}),
         true,
         {"ibus:anthy", "ibus:anthy"},
         {"ibus:anthy", "ibus:anthy"},
         "Input-context selection failed (noFocus)"},
        {"refused",
         std::unexpected(FocusedSelectionFailure{Kind::rejected, -3}),
         true,
         {"ibus:anthy", "ibus:anthy"},
         {"ibus:anthy", "ibus:anthy"},
         "Input-context selection failed (rejected(-3))"},
    };
    ibus->available = true;
    for (const auto& c : cases) {
        test::LogCapture log;
        DebugLogging debug;
        ibus->focusedSelection = c.answer;
        ibus->selectionTakesEffect = c.takesEffect;
        ibus->focusedSelectCalls.clear();
        ibus->selectCalls.clear();
        TextInputSourceProvider provider(*combined);
        for (int i = 0; i < 2; ++i) {
            ibus->currentID = "ibus:xkb:us::eng";
            EXPECT_TRUE(provider.select(*provider.source(InputSourceID("ibus:anthy")))) << c.what;
            // The confirmation comes with the next read of the current source.
            provider.currentSourceID();
        }
        EXPECT_EQ(ibus->focusedSelectCalls, c.focusedCalls) << c.what;
        EXPECT_EQ(ibus->selectCalls, c.plainCalls) << c.what;
        if (c.logged != nullptr) {
            EXPECT_TRUE(log.contains(c.logged)) << c.what;
        }
    }
    // A layout entry never takes the focused route.
    const auto focusedBefore = ibus->focusedSelectCalls.size();
    TextInputSourceProvider provider(*combined);
    EXPECT_TRUE(provider.select(*provider.source(InputSourceID("ibus:xkb:us::eng"))));
    EXPECT_EQ(ibus->focusedSelectCalls.size(), focusedBefore);
}

}  // namespace
}  // namespace tesvano::platform
