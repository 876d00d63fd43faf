#include "tests/im/InputMethodHarness.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace tesvano::test {

namespace {

using namespace std::chrono_literals;

// Whether a window manager runs on the display (it names its check window on the root).
bool windowManagerRuns(const std::vector<std::string>& environment) {
    return outputOf({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, environment)
               .find("window id") != std::string::npos;
}

// Start-up includes IBus reading its engines' descriptions (Anthy's is a Python program).
constexpr auto kFrameworkReady = 20s;

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
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
        {"ibus-daemon", "ibus", "/usr/libexec/ibus-engine-anthy"}};
    return framework;
}

const InputMethodFramework& InputMethodFramework::fcitx() {
    static const InputMethodFramework framework{"fcitx",
                                                "fcitx",
                                                "fcitx:anthy",
                                                "Anthy",
                                                "fcitx:keyboard-us",
                                                "Keyboard - English (US)",
                                                {"fcitx5-remote", "-s", "keyboard-us"},
                                                {"fcitx5-remote", "-n"},
                                                "anthy",
                                                "keyboard-us",
                                                {"fcitx5", "fcitx5-remote"}};
    return framework;
}

std::string outputOf(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment) {
    std::string command = "env";
    for (const auto& entry : environment) {
        command += " " + quoted(entry);
    }
    for (const auto& arg : argv) {
        command += " " + quoted(arg);
    }
    command += " 2>/dev/null";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        out += buffer;
    }
    if (::pclose(pipe) != 0) {
        out.clear();
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

std::expected<std::unique_ptr<ProcessGroup>, std::string> startWindowManager(
    const InputMethodSession& session) {
    auto wm = ProcessGroup::start({"openbox"}, session.environment());
    if (!wm) {
        return std::unexpected(wm.error());
    }
    if (!eventually([&] { return windowManagerRuns(session.environment()); }, 10s)) {
        return std::unexpected("the window manager did not start");
    }
    return wm;
}

InputMethodSession::InputMethodSession(const InputMethodFramework& framework, std::string display)
    : framework_(framework), display_(std::move(display)) {}

InputMethodSession::~InputMethodSession() {
    daemon_.reset();
    bus_.reset();
}

std::expected<std::unique_ptr<InputMethodSession>, std::string> InputMethodSession::start(
    const InputMethodFramework& framework, const std::string& display, InputMethodSetup setup) {
    std::unique_ptr<InputMethodSession> session(new InputMethodSession(framework, display));
    session->setup_ = setup;
    const std::string module = setup.ibusToo ? "ibus" : framework.imModule;
    auto bus = SessionBus::start();
    if (!bus) {
        return std::unexpected(bus.error());
    }
    session->bus_ = std::move(*bus);
    const auto root = session->home_.path();
    std::filesystem::create_directories(root / "run");
    std::filesystem::permissions(root / "run", std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    session->environment_ = {
        "DISPLAY=" + display,
        "DBUS_SESSION_BUS_ADDRESS=" + session->bus_->address(),
        "HOME=" + root.string(),
        "XDG_CONFIG_HOME=" + (root / "config").string(),
        "XDG_CACHE_HOME=" + (root / "cache").string(),
        "XDG_DATA_HOME=" + (root / "data").string(),
        "XDG_RUNTIME_DIR=" + (root / "run").string(),
        // IBus's settings in a file of this session's own, not in the user's dconf.
        "GSETTINGS_BACKEND=keyfile",
        "QT_IM_MODULE=" + module,
        "XMODIFIERS=@im=" + module,
        // The engines run on the system's Python, not on a developer's own interpreter.
        "PATH=/usr/bin:/bin:" + std::string(path != nullptr ? path : ""),
    };
    const auto config = root / "config";
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
    if (auto started =
            setup.startedLater ? std::expected<void, std::string>() : session->startFramework();
        !started) {
        return std::unexpected(started.error());
    }
    return session;
}

void InputMethodSession::adoptEnvironment() const {
    for (const auto& entry : environment_) {
        const auto equals = entry.find('=');
        ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
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
                                    environment_)
                    .value_or(nullptr);
    };
    const std::vector<std::string> ibusAnswers = {"ibus", "list-engine", "--name-only"};
    if (setup_.ibusToo == 1) {
        startIBus();
        if (!eventually([&] { return !outputOf(ibusAnswers, environment_).empty(); },
                        kFrameworkReady)) {
            return std::unexpected("IBus did not start");
        }
    }
    auto started = ProcessGroup::start(argv, environment_);
    if (!started) {
        return std::unexpected(started.error());
    }
    daemon_ = std::move(*started);
    if (!eventually([&] { return !outputOf(ready, environment_).empty(); }, kFrameworkReady)) {
        return std::unexpected(std::string(framework_.name) + " did not start");
    }
    if (setup_.ibusToo == 2) {
        startIBus();
    }
    // Applications that start now find Fcitx's emulation at IBus's address.
    const std::vector<std::string> fcitxAddress = {
        "sh", "-c", "grep -ls \"^IBUS_DAEMON_PID=$0$\" \"$XDG_CONFIG_HOME\"/ibus/bus/*",
        std::to_string(daemon_->pid())};
    if (setup_.ibusToo && !eventually(
                              [&] {
                                  return outputOf(ibusAnswers, environment_).empty() &&
                                         !outputOf(fcitxAddress, environment_).empty();
                              },
                              kFrameworkReady)) {
        return std::unexpected("IBus stayed beside Fcitx");
    }
    // IBus's panel, which these tests do without, puts the first engine in use at its start.
    if (std::string_view(framework_.name) == "ibus" && setup_.firstEngineSet &&
        !eventually(
            [&] {
                return outputOf(
                           {"sh", "-c", "ibus engine \"$0\" && echo set", framework_.layoutAnswer},
                           environment_) == "set";
            },
            kFrameworkReady)) {
        return std::unexpected("IBus did not take its first engine");
    }
    return {};
}

std::expected<void, std::string> InputMethodSession::restartFramework() {
    stopFramework();
    return startFramework();
}

void InputMethodSession::stopFramework() {
    daemon_.reset();
}

std::string InputMethodSession::currentEngine() const {
    return outputOf(framework_.askCurrent, environment_);
}

std::expected<std::unique_ptr<JSONLineProcess>, std::string> InputMethodSession::startWindow()
    const {
    auto environment = environment_;
    environment.push_back("QT_QPA_PLATFORM=xcb");
    auto window = JSONLineProcess::start({TESVANO_IM_WINDOW_PATH}, environment);
    if (!window) {
        return std::unexpected(window.error());
    }
    if (!(*window)->nextLine(kFrameworkReady)) {
        return std::unexpected("the test window did not show");
    }
    // The window manager may have missed the window's first request for the focus.
    if (outputOf({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Input method test$",
                  "windowactivate", "--sync", "getactivewindow"},
                 environment_)
            .empty()) {
        return std::unexpected("the test window did not get the focus");
    }
    return window;
}

}  // namespace tesvano::test
