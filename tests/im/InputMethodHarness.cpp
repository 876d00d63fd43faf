#include "tests/im/InputMethodHarness.h"

#include <cstdlib>
#include <functional>

#include "tests/support/Wait.h"

namespace tesvano::test {

namespace {

using namespace std::chrono_literals;

// Start-up includes IBus reading its engines' descriptions (Anthy's is a Python program).
constexpr auto kFrameworkReady = 20s;
constexpr auto kFocusRequest = 3s;

bool withinStartUp(const std::function<bool()>& done) {
    return waitUntil(every(50ms), done, kFrameworkReady);
}

}  // namespace

const InputMethodFramework& InputMethodFramework::ibus() {
    static const InputMethodFramework framework{
        "ibus",
        "ibus",
        "ibus:anthy",
        "Anthy",
        "ibus:xkb:us::eng",
        "English (US)",
        {"ibus", "engine", "xkb:us::eng"},
        {"ibus", "engine"},
        "anthy",
        "xkb:us::eng",
        {},
        {"ibus-daemon", "ibus", "/usr/libexec/ibus-engine-anthy"}};
    return framework;
}

const InputMethodFramework& InputMethodFramework::fcitx() {
    static const InputMethodFramework framework{
        "fcitx",
        "fcitx",
        "fcitx:anthy",
        "Anthy",
        "fcitx:keyboard-us",
        "Keyboard - English (US)",
        {"fcitx5-remote", "-s", "keyboard-us"},
        {"fcitx5-remote", "-n"},
        "anthy",
        "keyboard-us",
        {"gdbus", "call", "--session", "--dest", "org.fcitx.Fcitx5", "--object-path", "/controller",
         "--method", "org.fcitx.Fcitx.Controller1.SetInputMethodGroupInfo", "Default", "us",
         "[('keyboard-us', '')]"},
        {"fcitx5", "fcitx5-remote", "gdbus"}};
    return framework;
}

InputMethodSession::InputMethodSession(const InputMethodFramework& framework,
                                       InputMethodSetup setup,
                                       std::unique_ptr<PrivateSession> session)
    : framework_(framework), setup_(setup), session_(std::move(session)) {}

std::expected<std::unique_ptr<InputMethodSession>, std::string> InputMethodSession::start(
    const InputMethodFramework& framework, InputMethodSetup setup) {
    const std::string module = setup.ibusToo ? "ibus" : framework.imModule;
    const char* path = std::getenv("PATH");
    auto session = PrivateSession::start({
        .environment =
            {
                // IBus's settings in a file of this session's own, not in the user's dconf.
                "GSETTINGS_BACKEND=keyfile",
                "QT_IM_MODULE=" + module,
                "XMODIFIERS=@im=" + module,
                // The engines run on the system's Python, not on a developer's own interpreter.
                "PATH=/usr/bin:/bin:" + std::string(path != nullptr ? path : ""),
            },
        .screen = "640x480x24",
    });
    if (!session) {
        return std::unexpected(session.error());
    }
    const auto config = (*session)->configHome();
    if (std::string_view(framework.name) == "ibus" || setup.ibusToo) {
        writeFile(config / "glib-2.0/settings/keyfile",
                  "[desktop/ibus/general]\npreload-engines=['xkb:us::eng', 'anthy']\n");
    }
    if (std::string_view(framework.name) == "fcitx") {
        writeFile(config / "fcitx5/profile",
                  "[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=anthy\n\n"
                  "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n\n"
                  "[Groups/0/Items/1]\nName=anthy\nLayout=\n\n"
                  "[GroupOrder]\n0=Default\n");
    }
    std::unique_ptr<InputMethodSession> out(
        new InputMethodSession(framework, setup, std::move(*session)));
    if (auto started =
            setup.startedLater ? std::expected<void, std::string>() : out->startFramework();
        !started) {
        return std::unexpected(started.error());
    }
    if (auto wm = out->session_->startWindowManager(); !wm) {
        return std::unexpected(wm.error());
    }
    return out;
}

std::string InputMethodSession::answer(const std::vector<std::string>& argv) const {
    return session_->output(argv, kFrameworkReady).value_or("");
}

std::expected<void, std::string> InputMethodSession::startFramework() {
    std::vector<std::string> argv;
    std::vector<std::string> ready;
    if (std::string_view(framework_.name) == "ibus") {
        argv = {"ibus-daemon", "--panel=disable", "--emoji-extension=disable", "--config=disable"};
        ready = {"ibus", "list-engine", "--name-only"};
    } else {
        // Only what is used here: the X11 connection, the controller, Qt's frontend and
        // the engines.
        argv = {"fcitx5", "--disable",
                std::string(setup_.ibusToo ? "" : "ibusfrontend,") +
                    "fcitx4frontend,notificationitem,kimpanel,wayland,waylandim,"
                    "clipboard,emoji,quickphrase,spell,unicode,imselector,notifications,xim"};
        // Asked only once Fcitx holds its name: a call before would make the bus start a
        // second Fcitx of its own, which may win the name with another configuration.
        ready = {"sh", "-c",
                 "gdbus call --session --dest org.freedesktop.DBus "
                 "--object-path /org/freedesktop/DBus "
                 "--method org.freedesktop.DBus.NameHasOwner org.fcitx.Fcitx5 | "
                 "grep -q true && fcitx5-remote"};
    }
    // IBus beside Fcitx leaves by itself: Fcitx replaces it, or it finds Fcitx's emulation.
    const auto startIBus = [&] {
        ibus_ = ProcessGroup::start({"ibus-daemon", "--panel=disable", "--config=disable",
                                     "--emoji-extension=disable"},
                                    session_->environment())
                    .value_or(nullptr);
    };
    const std::vector<std::string> ibusAnswers = {"ibus", "list-engine", "--name-only"};
    if (setup_.ibusToo == 1) {
        startIBus();
        if (!withinStartUp([&] { return !answer(ibusAnswers).empty(); })) {
            return std::unexpected("IBus did not start");
        }
    }
    auto started = ProcessGroup::start(argv, session_->environment());
    if (!started) {
        return std::unexpected(started.error());
    }
    daemon_ = std::move(*started);
    if (!withinStartUp([&] { return !answer(ready).empty(); })) {
        return std::unexpected(std::string(framework_.name) + " did not start");
    }
    if (setup_.ibusToo == 2) {
        startIBus();
    }
    // Applications that start now find Fcitx's emulation at IBus's address.
    const std::vector<std::string> fcitxAddress = {
        "sh", "-c", "grep -ls \"^IBUS_DAEMON_PID=$0$\" \"$XDG_CONFIG_HOME\"/ibus/bus/*",
        std::to_string(daemon_->pid())};
    if (setup_.ibusToo && !withinStartUp([&] {
            return answer(ibusAnswers).empty() && !answer(fcitxAddress).empty();
        })) {
        return std::unexpected("IBus stayed beside Fcitx");
    }
    // IBus's panel, which these tests do without, puts the first engine in use at its start.
    if (std::string_view(framework_.name) == "ibus" && setup_.firstEngineSet && !withinStartUp([&] {
            return answer({"sh", "-c", "ibus engine \"$0\" && echo set",
                           framework_.layoutAnswer}) == "set";
        })) {
        return std::unexpected("IBus did not take its first engine");
    }
    return {};
}

void InputMethodSession::stopFramework() {
    daemon_.reset();
}

std::string InputMethodSession::currentEngine() const {
    return answer(framework_.askCurrent);
}

std::expected<std::unique_ptr<JSONLineProcess>, std::string> InputMethodSession::startWindow()
    const {
    auto window = JSONLineProcess::start({TESVANO_IM_WINDOW_PATH},
                                         session_->environment({"QT_QPA_PLATFORM=xcb"}));
    if (!window) {
        return std::unexpected(window.error());
    }
    if (!(*window)->nextLine(kFrameworkReady)) {
        return std::unexpected("the test window did not show");
    }
    // The window manager may have missed the window's first request for the focus, and on a
    // busy machine may refuse one made before it has finished taking the window in: ask again.
    // A refused request is never followed by the focus that xdotool waits for, so each request
    // gets a few seconds. One still starting up may even lose the window's request to be shown
    // (it stays unmapped, unmanaged): that is asked for again too.
    const std::vector<std::string> title = {"xdotool", "search", "--name", "^Input method test$"};
    if (!withinStartUp([&] {
            auto focus = title;
            focus.insert(focus.begin() + 2, {"--sync", "--onlyvisible"});
            focus.insert(focus.end(), {"windowactivate", "--sync", "getactivewindow"});
            if (!session_->output(focus, kFocusRequest).value_or("").empty()) {
                return true;
            }
            auto map = title;
            map.emplace_back("windowmap");
            answer(map);
            return false;
        })) {
        return std::unexpected("the test window did not get the focus");
    }
    return window;
}

}  // namespace tesvano::test
