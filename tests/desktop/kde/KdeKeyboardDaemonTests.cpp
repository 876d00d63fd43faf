// The lock under Plasma 5.27's pieces without its shell: kwin_x11, kglobalaccel5 and kded5,
// whose keyboard module keeps a layout per window (SwitchMode=Window) and switches to the next
// layout with Meta+Alt+K.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/desktop/support/LayoutMemoryLockTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;

constexpr const char* kKeyboardConfig =
    "[Layout]\nUse=true\nLayoutList=us,de,ru\nVariantList=,,\nSwitchMode=Window\n"
    "ResetOldOptions=false\n";

class KdeKeyboardDaemonTest : public test::LayoutMemoryLockTest {
protected:
    std::vector<std::string> requiredPrograms() const override {
        return {"kwin_x11", "kglobalaccel5", "kded5",       "krunner",
                "gdbus",    "dbus-send",     "dbus-daemon", "Xvfb"};
    }
    std::vector<std::string> sessionEnvironment() const override {
        return {"XDG_CURRENT_DESKTOP=KDE", "KDE_SESSION_VERSION=5", "QT_QPA_PLATFORM=xcb"};
    }
    std::expected<void, std::string> startDesktop(test::PrivateSession& s) override {
        test::writeFile(s.home() / ".config/kxkbrc", kKeyboardConfig);
        for (const char* program : {"kwin_x11", "kglobalaccel5", "kded5"}) {
            if (auto started = s.launch({program}); !started) {
                return std::unexpected(started.error());
            }
        }
        // Without Plasma's session manager kded5 loads no module by itself: ask for the
        // keyboard module, which then puts the layouts in force and answers.
        const bool answers = test::waitUntil(
            test::every(100ms),
            [&] {
                if (keyboardDaemon({"getLayout"})) {
                    return true;
                }
                // Only once kded5 holds its name: asked earlier, the bus would start another one.
                const auto owner = s.output(
                    {"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                     "org.freedesktop.DBus.NameHasOwner", "string:org.kde.kded5"},
                    3s);
                if (owner && owner->find("boolean true") != std::string::npos) {
                    s.run({"dbus-send", "--session", "--print-reply", "--dest=org.kde.kded5",
                           "/kded", "org.kde.kded5.loadModule", "string:keyboard"},
                          5s);
                }
                return false;
            },
            90s);
        if (!answers) {
            return std::unexpected("kded5's keyboard module does not answer");
        }
        return {};
    }
    // Through the daemon, as its layout indicator and its shortcut do.
    void selectAsDesktop(unsigned group) override {
        keyboardDaemon({"setLayout", "uint32:" + std::to_string(group)});
    }
    std::optional<unsigned> desktopLayout() override {
        const auto reply = keyboardDaemon({"getLayout"});
        const auto at = reply ? reply->find("uint32 ") : std::string::npos;
        if (at == std::string::npos) {
            return std::nullopt;
        }
        return static_cast<unsigned>(std::stoul(reply->substr(at + 7)));
    }
    std::vector<std::string> switchShortcut() const override { return {"Super_L", "Alt_L", "k"}; }
    const char* desktopName() const override { return "KDE"; }

    // Calls a method of the daemon's layouts interface with dbus-send (not through the code
    // under test); its reply, or none.
    std::optional<std::string> keyboardDaemon(std::vector<std::string> call) {
        std::vector<std::string> argv = {
            "dbus-send",     "--session",
            "--print-reply", "--dest=org.kde.keyboard",
            "/Layouts",      "org.kde.KeyboardLayouts." + call.front()};
        argv.insert(argv.end(), call.begin() + 1, call.end());
        return session->output(argv, 3s);
    }
};

TEST_F(KdeKeyboardDaemonTest, LockHoldsAndTheDaemonAgrees) {
    runActivations();
}

// KRunner, on the accessibility bus, with a rule of its own: Russian while it shows.
class KRunnerTest : public KdeKeyboardDaemonTest {
protected:
    std::expected<void, std::string> startDesktop(test::PrivateSession& s) override {
        // Assistive technologies on before KRunner starts, so that it joins the bus.
        if (!s.run({"gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
                    "/org/a11y/bus", "--method", "org.freedesktop.DBus.Properties.Set",
                    "org.a11y.Status", "IsEnabled", "<true>"})) {
            return std::unexpected("cannot turn assistive technologies on");
        }
        auto started = KdeKeyboardDaemonTest::startDesktop(s);
        if (started && !s.launch({"krunner", "--daemon"})) {
            return std::unexpected("krunner did not start");
        }
        return started;
    }
    // Its desktop file is no installed application: only its window names it.
    std::vector<AppRule> extraRules() const override {
        return {AppRule{"org.kde.krunner", AppRuleMode::locked, InputSourceID("xkb:ru")}};
    }
    bool readsAccessibility() const override { return true; }

    // "source application" of each activation until the engine's verification is past.
    std::vector<std::string> activations() {
        std::vector<std::string> out;
        for (const auto& e : engine->linesWithin(600ms)) {
            out.push_back(e.value("inputSource", "") + " " + e.value("triggeringBundleID", ""));
        }
        return out;
    }
};

TEST_F(KRunnerTest, ItsRuleAppliesWhileItShowsAndTheWindowsRuleAfter) {
    for (int opening = 1; opening <= 3; ++opening) {
        ASSERT_TRUE(
            session->run({"gdbus", "call", "--session", "--dest", "org.kde.krunner",
                          "--object-path", "/App", "--method", "org.kde.krunner.App.display"}));
        EXPECT_TRUE(groups->waitForLockedGroup(kRU, patience)) << "KRunner's rule, " << opening;
        for (const auto& a : activations()) {
            EXPECT_EQ(a, "xkb:ru org.kde.krunner");
        }
        windows->pressChord({"Escape"});
        EXPECT_TRUE(groups->waitForLockedGroup(kDE, patience)) << "Alpha's rule, " << opening;
        // The daemon may restore Alpha's layout itself; nothing the hidden KRunner still says
        // counts.
        for (const auto& a : activations()) {
            EXPECT_EQ(a, "xkb:de org.example.Alpha");
        }
        groups->pump();
        EXPECT_EQ(groups->lockedGroup(), kDE);
    }
}

}  // namespace
}  // namespace tesvano
