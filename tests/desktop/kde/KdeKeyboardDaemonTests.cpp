// The lock under Plasma 5.27's pieces without its shell: kwin_x11, kglobalaccel5 and kded5,
// whose keyboard module keeps a layout per window (SwitchMode=Window) and switches to the next
// layout with Meta+Alt+K.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/desktop/support/LayoutMemoryLockTest.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;

constexpr const char* kKeyboardConfig =
    "[Layout]\nUse=true\nLayoutList=us,de,ru\nVariantList=,,\nSwitchMode=Window\n"
    "ResetOldOptions=false\n";

class KdeKeyboardDaemonTest : public test::LayoutMemoryLockTest {
protected:
    std::vector<std::string> requiredPrograms() const override {
        return {"kwin_x11", "kglobalaccel5", "kded5", "dbus-send", "dbus-daemon", "Xvfb"};
    }
    std::vector<std::string> sessionEnvironment() const override {
        return {"XDG_CURRENT_DESKTOP=KDE", "KDE_SESSION_VERSION=5", "QT_QPA_PLATFORM=xcb"};
    }
    std::expected<void, std::string> startDesktop(test::DesktopSession& s) override {
        test::writeFile(s.home() / ".config/kxkbrc", kKeyboardConfig);
        for (const char* program : {"kwin_x11", "kglobalaccel5", "kded5"}) {
            if (auto started = s.launch({program}); !started) {
                return std::unexpected(started.error());
            }
        }
        // Without Plasma's session manager kded5 loads no module by itself: ask for the
        // keyboard module, which then puts the layouts in force and answers.
        const auto deadline = std::chrono::steady_clock::now() + 90s;
        while (!keyboardDaemon({"getLayout"})) {
            if (std::chrono::steady_clock::now() > deadline) {
                return std::unexpected("kded5's keyboard module does not answer");
            }
            // Only once kded5 holds its name: asked earlier, the bus would start another one.
            const auto owner =
                s.output({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                          "/", "org.freedesktop.DBus.NameHasOwner", "string:org.kde.kded5"},
                         3s);
            if (owner && owner->find("boolean true") != std::string::npos) {
                s.run({"dbus-send", "--session", "--print-reply", "--dest=org.kde.kded5", "/kded",
                       "org.kde.kded5.loadModule", "string:keyboard"},
                      5s);
            }
            std::this_thread::sleep_for(100ms);
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

}  // namespace
}  // namespace tesvano
