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
constexpr auto kPatience = 15s;

// "source application" of each activation within 0.6 s, past the engine's verification of a
// switch, so that a late switch would show.
std::vector<std::string> activations(test::JSONLineProcess& engine) {
    std::vector<std::string> out;
    for (const auto& e : engine.linesWithin(600ms)) {
        out.push_back(e.value("inputSource", "") + " " + e.value("triggeringBundleID", ""));
    }
    return out;
}

TEST(KRunnerOverlayTest, ItsRuleAppliesWhileItShowsAndTheWindowsRuleAfter) {
    if (auto missing =
            test::programsInstalled({"kwin_x11", "krunner", "gdbus", "setxkbmap", "Xvfb"});
        !missing) {
        GTEST_SKIP() << missing.error();
    }
    auto session = test::DesktopSession::start({"XDG_CURRENT_DESKTOP=KDE", "QT_QPA_PLATFORM=xcb"});
    ASSERT_TRUE(session.has_value()) << session.error();
    auto& s = **session;
    auto gdbus = [&s](std::string dest, std::string path, std::vector<std::string> call) {
        std::vector<std::string> argv{"gdbus", "call",          "--session", "--dest",
                                      dest,    "--object-path", path,        "--method"};
        argv.insert(argv.end(), call.begin(), call.end());
        return s.run(argv);
    };
    // Assistive technologies on before KRunner starts, so that it joins the accessibility bus.
    ASSERT_TRUE(
        gdbus("org.a11y.Bus", "/org/a11y/bus",
              {"org.freedesktop.DBus.Properties.Set", "org.a11y.Status", "IsEnabled", "<true>"}));
    ASSERT_TRUE(s.launch({"kwin_x11"}).has_value());
    ASSERT_TRUE(test::windowManagerRuns(s.display(), kPatience));
    ASSERT_TRUE(s.run({"setxkbmap", "-layout", "us,de,ru"}));
    ASSERT_TRUE(s.launch({"krunner", "--daemon"}).has_value());

    auto windows = std::move(test::DesktopWindows::open(s.display()).value());
    auto groups = std::move(test::TestDesktop::open(s.display()).value());
    test::writeFile(s.dataHome() / "applications/org.example.Alpha.desktop",
                    "[Desktop Entry]\nType=Application\nName=alpha\nExec=alpha\n"
                    "StartupWMClass=alpha\n");
    test::StandInProcess alphaProcess;
    const auto alpha = windows->addWindow("alpha", alphaProcess.pid());
    ASSERT_TRUE(windows->waitForManaged({alpha}, kPatience));
    windows->requestActivation(alpha);
    ASSERT_TRUE(windows->waitForActive(alpha, kPatience));

    LockConfiguration rules;
    rules.isEnabled = true;
    rules.appRules = {AppRule{"org.example.Alpha", AppRuleMode::locked, InputSourceID("xkb:de")},
                      AppRule{"org.kde.krunner", AppRuleMode::locked, InputSourceID("xkb:ru")}};
    test::writeFile(s.home() / "rules.json", encodeConfiguration(rules));
    // KRunner's desktop file is no installed application: only its window names it.
    auto engine = std::move(
        test::JSONLineProcess::start({TESVANO_ENGINE_PATH, "--display", s.display(),
                                      "--accessibility", (s.home() / "rules.json").string()},
                                     s.environment({"XDG_DATA_DIRS=/nonexistent"}))
            .value());
    ASSERT_TRUE(engine->nextLine(kPatience).has_value()) << "Alpha's rule is not in force";
    ASSERT_TRUE(groups->waitForLockedGroup(1, kPatience));

    for (int opening = 1; opening <= 3; ++opening) {
        ASSERT_TRUE(gdbus("org.kde.krunner", "/App", {"org.kde.krunner.App.display"}));
        EXPECT_TRUE(groups->waitForLockedGroup(2, kPatience)) << "KRunner's rule, " << opening;
        for (const auto& a : activations(*engine)) {
            EXPECT_EQ(a, "xkb:ru org.kde.krunner");
        }
        windows->pressChord({"Escape"});
        EXPECT_TRUE(windows->waitForActive(alpha, kPatience));
        EXPECT_TRUE(groups->waitForLockedGroup(1, kPatience)) << "Alpha's rule, " << opening;
        // Nothing the hidden KRunner still says counts.
        EXPECT_EQ(activations(*engine), std::vector<std::string>{"xkb:de org.example.Alpha"});
    }
    EXPECT_EQ(engine->stop(), 0);
}

}  // namespace
}  // namespace tesvano
