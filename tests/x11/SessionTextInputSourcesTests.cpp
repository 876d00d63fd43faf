#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/SessionTextInputSources.h"
#include "tests/support/X11Test.h"
#include "tests/support/XkbKeymapLoader.h"

// Last: Xlib's macros (None, Bool) would break the test framework's headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace tesvano {
namespace {

using namespace std::chrono_literals;
using platform::SelectStatus;

// The session's sources on a desktop named by XDG_CURRENT_DESKTOP, with no input-method
// framework and, on GNOME, no shell extension answering on the session bus.
struct DesktopCase {
    const char* currentDesktop;
    // GNOME's shell owns the layout groups: without our extension they are only read.
    bool selects;
};

class SessionTextInputSourcesTest : public test::X11Test,
                                    public ::testing::WithParamInterface<DesktopCase> {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP() << "needs a session bus (run under dbus-run-session)";
        }
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        other = openClient();
        ASSERT_NE(other, nullptr);
        const auto loaded = test::loadKeymap(other, {{"us", ""}, {"de", ""}, {"ru", ""}});
        ASSERT_TRUE(loaded.has_value()) << loaded.error();
        ::setenv("XDG_CURRENT_DESKTOP", GetParam().currentDesktop, 1);
        // No framework the session could be running for the real user, and none of the user's
        // GNOME settings: without the shell's sources the layout groups are listed.
        ::setenv("IBUS_ADDRESS", "unix:path=/nonexistent/ibus", 1);
        ::setenv("GSETTINGS_BACKEND", "memory", 1);
    }

    std::optional<unsigned> lockedGroup() {
        XkbStateRec state{};
        if (XkbGetState(other, XkbUseCoreKbd, &state) != Success) {
            return std::nullopt;
        }
        return state.locked_group;
    }

    platform::ManualRunLoop loop;
    Display* other = nullptr;
};

TEST_P(SessionTextInputSourcesTest, ListsTheLayoutGroupsAndSelectsOnlyWhereTheShellDoesNotOwnThem) {
    auto opened = platform::openSessionTextInputSources(loop, display());
    ASSERT_TRUE(opened.has_value()) << opened.error();
    auto& sources = **opened;
    std::vector<std::string> ids;
    const auto listed = sources.sources();
    for (const auto& source : listed) {
        ids.push_back(source.id.value_or("-"));
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"xkb:us", "xkb:de", "xkb:ru"}));
    ASSERT_TRUE(sources.currentKeyboardSource().has_value());
    EXPECT_EQ(sources.currentKeyboardSource()->id, "xkb:us");

    const auto status = sources.select(listed[1]);
    EXPECT_EQ(status, GetParam().selects ? SelectStatus::ok : SelectStatus::failed);
    // Another client's view: the server may answer it before our request is in.
    const unsigned expected = GetParam().selects ? 1u : 0u;
    test::waitUntil(
        [this] {
            loop.pumpFds(20ms);
            loop.runDue();
        },
        [&] { return GetParam().selects && lockedGroup() == expected; }, 500ms);
    EXPECT_EQ(lockedGroup(), expected);
    EXPECT_FALSE(sources.sourceWithID("xkb:fr").has_value());
}

std::string caseName(const ::testing::TestParamInfo<DesktopCase>& param) {
    std::string name;
    for (const char c : std::string(param.param.currentDesktop)) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += c;
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Desktops, SessionTextInputSourcesTest,
                         ::testing::Values(DesktopCase{"XFCE", true}, DesktopCase{"KDE", true},
                                           DesktopCase{"GNOME", false},
                                           DesktopCase{"ubuntu:GNOME", false}),
                         caseName);

}  // namespace
}  // namespace tesvano
