#include "tests/desktop/gnome/GnomeShellSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "Platform/TextInput/GnomeShell/GnomeShellExtension.h"
#include "Platform/TextInput/GnomeShell/GnomeShellTextInputSources.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace tesvano::test {

namespace {

namespace shell = platform::gnome_shell;

std::vector<std::string> gdbusCall(const std::string& method) {
    return {"gdbus",           "call",         "--session",
            "--dest",          shell::busName, "--object-path",
            shell::objectPath, "--method",     std::string(shell::interfaceName) + "." + method};
}

}  // namespace

std::expected<void, std::string> GnomeShellSession::available() {
    return programsInstalled({"gnome-shell", "gsettings", "gdbus", "dbus-daemon", "Xvfb"});
}

std::expected<void, std::string> startGnomeShell(PrivateSession& session,
                                                 const std::vector<std::string>& layouts,
                                                 bool perWindow, std::chrono::milliseconds timeout,
                                                 const std::vector<std::string>& extensions) {
    const bool ourExtension = std::ranges::count(extensions, shell::extensionUUID) > 0;
    std::string enabled;
    for (const auto& uuid : extensions) {
        enabled += (enabled.empty() ? "['" : ", '") + uuid + "'";
    }
    // The extension exactly as the program installs it.
    const auto folder = session.dataHome() / "gnome-shell/extensions" / shell::extensionUUID;
    for (const auto& [name, content] : platform::gnomeShellExtensionFiles()) {
        if (ourExtension) {
            writeFile(folder / name, content);
        }
    }
    std::string sources = "[";
    for (const auto& layout : layouts) {
        sources += (sources.size() > 1 ? ", ('xkb', '" : "('xkb', '") + layout + "')";
    }
    sources += "]";
    const std::vector<std::vector<std::string>> settings = {
        {"gsettings", "set", "org.gnome.desktop.input-sources", "sources", sources},
        {"gsettings", "set", "org.gnome.desktop.input-sources", "per-window",
         perWindow ? "true" : "false"},
        {"gsettings", "set", "org.gnome.shell", "enabled-extensions",
         enabled.empty() ? "[]" : enabled + "]"},
        // No welcome tour, no animations to wait for.
        {"gsettings", "set", "org.gnome.shell", "welcome-dialog-last-shown-version", "'999'"},
        {"gsettings", "set", "org.gnome.desktop.interface", "enable-animations", "false"},
    };
    for (const auto& argv : settings) {
        if (!session.run(argv)) {
            return std::unexpected("gsettings failed: " + argv[3] + " " + argv[4]);
        }
    }
    // A shell that replaces a running one is ready once it holds the shell's bus name.
    const std::vector<std::string> shellOwner = {
        "sh", "-c",
        "dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
        "org.freedesktop.DBus.GetNameOwner string:org.gnome.Shell"};
    const auto before = session.output(shellOwner);
    const auto ready = [&] {
        if (before && session.output(shellOwner) == before) {
            return false;
        }
        if (ourExtension) {
            return gnomeShellCurrent(session).has_value();
        }
        const auto engine = session.output({"ibus", "engine"});
        return engine && engine->starts_with("xkb:");
    };
    auto shellProcess = session.launch({"gnome-shell", "--x11", "--replace", "--sm-disable"});
    if (!shellProcess) {
        return std::unexpected(shellProcess.error());
    }
    if (!waitUntil(every(std::chrono::milliseconds(200)), ready, timeout)) {
        const auto info =
            session.output({"gdbus", "call", "--session", "--dest", "org.gnome.Shell",
                            "--object-path", "/org/gnome/Shell", "--method",
                            "org.gnome.Shell.Extensions.GetExtensionInfo", shell::extensionUUID});
        return std::unexpected("the shell's extension did not answer within " +
                               std::to_string(timeout.count()) +
                               " ms; the shell says: " + info.value_or("(nothing)"));
    }
    return {};
}

std::optional<std::string> gnomeShellCurrent(const PrivateSession& session) {
    const auto text = session.output(gdbusCall("GetCurrent"), std::chrono::seconds(2));
    static const std::regex pair(R"(\('([^']*)', '([^']*)'\))");
    std::smatch match;
    if (!text || !std::regex_search(*text, match, pair) || match[1].str().empty()) {
        return std::nullopt;
    }
    return shell::sourceID({match[1].str(), match[2].str()});
}

bool gnomeShellActivate(const PrivateSession& session, const std::string& type,
                        const std::string& id) {
    auto argv = gdbusCall("Activate");
    argv.push_back(type);
    argv.push_back(id);
    const auto text = session.output(argv, std::chrono::seconds(2));
    return text && text->find("true") != std::string::npos;
}

std::optional<bool> gnomeShellOverviewActive(const PrivateSession& session) {
    const auto text =
        session.output({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                        "/org/gnome/Shell", "--method", "org.freedesktop.DBus.Properties.Get",
                        "org.gnome.Shell", "OverviewActive"},
                       std::chrono::seconds(2));
    if (!text) {
        return std::nullopt;
    }
    return text->find("true") != std::string::npos;
}

bool leaveGnomeShellOverview(const PrivateSession& session,
                             const std::function<void()>& pressEscape,
                             std::chrono::milliseconds timeout) {
    // Hidden at ten checks in a row, two seconds.
    int hidden = 0;
    return waitUntil(
        every(std::chrono::milliseconds(200)),
        [&] {
            if (gnomeShellOverviewActive(session) == false) {
                ++hidden;
            } else {
                hidden = 0;
                pressEscape();
            }
            return hidden == 10;
        },
        timeout);
}

std::expected<std::unique_ptr<GnomeShellSession>, std::string> GnomeShellSession::start(
    const std::vector<std::string>& layouts, bool ourExtension, std::chrono::milliseconds timeout) {
    auto desktop = PrivateSession::start({.environment = gnomeEnvironment, .systemBus = true});
    if (!desktop) {
        return std::unexpected(desktop.error());
    }
    std::unique_ptr<GnomeShellSession> out(new GnomeShellSession());
    out->session_ = std::move(*desktop);
    PrivateSession& session = *out->session_;
    const auto extensions =
        ourExtension ? std::vector<std::string>{shell::extensionUUID} : std::vector<std::string>{};
    if (auto started = startGnomeShell(session, layouts, false, timeout, extensions); !started) {
        return std::unexpected(started.error());
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return std::unexpected("cannot create a pipe");
    }
    auto monitor = session.launch({"gdbus", "monitor", "--session", "--dest", shell::busName,
                                   "--object-path", shell::objectPath},
                                  fds[1]);
    ::close(fds[1]);
    out->monitorFd_ = fds[0];
    if (!monitor) {
        return std::unexpected(monitor.error());
    }
    return out;
}

GnomeShellSession::~GnomeShellSession() {
    if (session_) {
        session_->stopPrograms();
    }
    if (monitorFd_ >= 0) {
        ::close(monitorFd_);
    }
}

std::optional<std::string> GnomeShellSession::current() {
    return gnomeShellCurrent(*session_);
}

bool GnomeShellSession::waitForCurrent(const std::string& id, std::chrono::milliseconds timeout) {
    return waitUntil(
        every(std::chrono::milliseconds(20)), [&] { return current() == id; }, timeout);
}

bool GnomeShellSession::activate(const std::string& type, const std::string& id) {
    return gnomeShellActivate(*session_, type, id);
}

void GnomeShellSession::readMonitor() {
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(monitorFd_, buffer, sizeof buffer)) > 0) {
        monitorText_.append(buffer, static_cast<std::size_t>(n));
    }
    for (auto end = monitorText_.find('\n'); end != std::string::npos;
         end = monitorText_.find('\n')) {
        if (monitorText_.substr(0, end).find(".CurrentSourceChanged") != std::string::npos) {
            ++switches_;
        }
        monitorText_.erase(0, end + 1);
    }
}

int GnomeShellSession::switches() {
    readMonitor();
    return switches_;
}

}  // namespace tesvano::test
