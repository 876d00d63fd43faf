#include "Platform/LoginItems/LoginItemService.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

std::string quoteExec(const std::string& path) {
    // Desktop-entry Exec quoting: reserved characters inside double quotes are escaped.
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

bool entryIsHidden(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (inMainGroup && (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")) {
            return true;
        }
    }
    return false;
}

}  // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(fs::path autostartDir, std::string desktopID,
                                             fs::path executable)
    : dir_(std::move(autostartDir)),
      id_(std::move(desktopID)),
      executable_(std::move(executable)) {}

XdgAutostartLoginItem XdgAutostartLoginItem::standard() {
    fs::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        config = fs::path(home) / ".config";
    }
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return XdgAutostartLoginItem(config / "autostart", "tesvano", exe);
}

int XdgAutostartLoginItem::status() const {
    std::error_code ec;
    if (!fs::exists(entryPath(), ec)) {
        return notRegistered;
    }
    // An entry whose program has moved away is still ours to remove, so it counts as enabled.
    return entryIsHidden(entryPath()) ? notRegistered : enabled;
}

std::expected<void, std::string> XdgAutostartLoginItem::registerItem() {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) {
        return std::unexpected("Could not create " + dir_.string() + ": " + ec.message());
    }
    std::ostringstream entry;
    entry << "[Desktop Entry]\n"
          << "Type=Application\n"
          << "Name=Tesvano\n"
          << "Comment=Keep the keyboard input source where you want it\n"
          << "Exec=" << quoteExec(executable_.string()) << "\n"
          << "Icon=tesvano\n"
          << "Terminal=false\n"
          << "X-GNOME-Autostart-enabled=true\n";
    const std::string text = entry.str();

    fs::path temporary = entryPath();
    temporary += ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return std::unexpected("Could not write " + temporary.string() + ": " +
                               std::strerror(errno));
    }
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), entryPath().c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        return std::unexpected("Could not write " + entryPath().string() + ": " + reason);
    }
    return {};
}

std::expected<void, std::string> XdgAutostartLoginItem::unregisterItem() {
    std::error_code ec;
    if (!fs::remove(entryPath(), ec) && ec) {
        return std::unexpected("Could not remove " + entryPath().string() + ": " + ec.message());
    }
    return {};
}

}  // namespace tesvano::platform
