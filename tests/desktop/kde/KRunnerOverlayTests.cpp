// A rule of KRunner's own under kwin_x11, with KRunner on the accessibility bus: its layout
// while it shows, the rule of the window in front again once it hides.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "TesvanoKit/Rules/LockConfiguration.h"
#include "tests/desktop/support/DesktopSession.h"
#include "tests/desktop/support/DesktopWindows.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestDesktop.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;
using JSON = test::JSONLineProcess::JSON;

constexpr unsigned kDE = 1;
constexpr unsigned kRU = 2;
constexpr auto kPatience = 15s;
// Past the engine's verification of a switch (0.32 s), so that a late switch would show.
constexpr auto kSettle = 600ms;

std::string summary(const JSON& e) {
    auto text = [&](const char* key) {
        const auto value = e.is_object() ? e.value(key, JSON()) : JSON();
        return value.is_string() ? value.get<std::string>() : std::string("-");
    };
    return text("inputSource") + " " + text("triggeringBundleID");
}

TEST(KRunnerOverlayTest, ItsRuleAppliesWhileItShowsAndTheWindowsRuleAfter) {
    if (auto missing = test::programsInstalled(
            {"kwin_x11", "krunner", "gdbus", "setxkbmap", "dbus-daemon", "Xvfb"});
        !missing) {
        GTEST_SKIP() << missing.error();
    }
    auto started = test::DesktopSession::start(
        {"XDG_CURRENT_DESKTOP=KDE", "KDE_SESSION_VERSION=5", "QT_QPA_PLATFORM=xcb"});
    ASSERT_TRUE(started.has_value()) << started.error();
    auto& s = **started;
    // Assistive technologies on before KRunner starts, so that it joins the accessibility bus.
    ASSERT_TRUE(s.run({"gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
                       "/org/a11y/bus", "--method", "org.freedesktop.DBus.Properties.Set",
                       "org.a11y.Status", "IsEnabled", "<true>"}));
    ASSERT_TRUE(s.launch({"kwin_x11"}).has_value());
    ASSERT_TRUE(test::windowManagerRuns(s.display(), kPatience));
    ASSERT_TRUE(s.run({"setxkbmap", "-layout", "us,de,ru"}));
    ASSERT_TRUE(s.launch({"krunner", "--daemon"}).has_value());

    auto windows = test::DesktopWindows::open(s.display());
    ASSERT_TRUE(windows.has_value()) << windows.error();
    auto groups = test::TestDesktop::open(s.display());
    ASSERT_TRUE(groups.has_value()) << groups.error();
    test::writeFile(s.dataHome() / "applications/org.example.Alpha.desktop",
                    "[Desktop Entry]\nType=Application\nName=alpha\nExec=alpha\n"
                    "StartupWMClass=alpha\n");
    test::StandInProcess alphaProcess;
    const auto alpha = (*windows)->addWindow("alpha", alphaProcess.pid());
    ASSERT_TRUE((*windows)->waitForManaged({alpha}, kPatience));
    (*windows)->requestActivation(alpha);
    ASSERT_TRUE((*windows)->waitForActive(alpha, kPatience));

    LockConfiguration rules;
    rules.isEnabled = true;
    rules.appRules = {AppRule{"org.example.Alpha", AppRuleMode::locked, InputSourceID("xkb:de")},
                      AppRule{"org.kde.krunner", AppRuleMode::locked, InputSourceID("xkb:ru")}};
    const auto path = s.home() / "rules.json";
    test::writeFile(path, encodeConfiguration(rules));
    // KRunner's desktop file is no installed application: only its window names it.
    auto engine = test::JSONLineProcess::start(
        {TESVANO_ENGINE_PATH, "--display", s.display(), "--accessibility", path.string()},
        s.environment({"XDG_DATA_DIRS=" + (s.home() / "no-system-data").string()}));
    ASSERT_TRUE(engine.has_value()) << engine.error();
    const auto first = (*engine)->nextLine(kPatience);
    ASSERT_TRUE(first.has_value()) << "the engine did not put Alpha's rule in force";
    ASSERT_EQ(summary(*first), "xkb:de org.example.Alpha");
    ASSERT_TRUE((*groups)->waitForLockedGroup(kDE, kPatience));

    for (int opening = 1; opening <= 3; ++opening) {
        SCOPED_TRACE("opening " + std::to_string(opening));
        ASSERT_TRUE(s.run({"gdbus", "call", "--session", "--dest", "org.kde.krunner",
                           "--object-path", "/App", "--method", "org.kde.krunner.App.display"}));
        EXPECT_TRUE((*groups)->waitForLockedGroup(kRU, kPatience)) << "KRunner's rule";
        for (const auto& e : (*engine)->linesWithin(kSettle)) {
            EXPECT_EQ(summary(e), "xkb:ru org.kde.krunner");
        }
        EXPECT_NE((*windows)->activeWindow(), alpha);

        (*windows)->pressChord({"Escape"});
        EXPECT_TRUE((*windows)->waitForActive(alpha, kPatience));
        EXPECT_TRUE((*groups)->waitForLockedGroup(kDE, kPatience)) << "Alpha's rule";
        // Nothing the hidden KRunner still says counts.
        for (const auto& e : (*engine)->linesWithin(kSettle)) {
            EXPECT_EQ(summary(e), "xkb:de org.example.Alpha");
        }
        (*groups)->pump();
        EXPECT_EQ((*groups)->lockedGroup(), kDE);
    }
    EXPECT_EQ((*engine)->stop(), 0);
}

}  // namespace
}  // namespace tesvano
