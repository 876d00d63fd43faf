#include "Platform/LoginItems/LoginItemService.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "Platform/Defaults/SettingsFiles.h"

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

// An entry is a few hundred bytes; what lies past this is not read.
constexpr std::size_t entryReadLimit = 64 * 1024;

// The entry's text when it is a regular file: a link, a FIFO or a device (which would block
// or lead elsewhere) is nothing of ours.
ReadStatus readEntry(const fs::path& path, std::string& text, std::string& reason) {
    return readRegularFile(
        path,
        ReadLimits{.maximumSize = entryReadLimit, .refuseLarger = false, .followLinks = false},
        text, reason);
}

bool entryIsHidden(std::string_view text) {
    bool inMainGroup = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
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

// The program an Exec value starts (its first word, unquoted) and how long that word is.
struct ExecProgram {
    std::string program;
    std::size_t length = 0;
};

ExecProgram execProgram(std::string_view value) {
    ExecProgram found;
    if (value.empty() || value.front() != '"') {
        found.length = std::min(value.find(' '), value.size());
        found.program = std::string(value.substr(0, found.length));
        return found;
    }
    for (std::size_t i = 1; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            found.program.push_back(value[++i]);
        } else if (value[i] == '"') {
            found.length = i + 1;
            return found;
        } else {
            found.program.push_back(value[i]);
        }
    }
    return {};  // an unclosed quote: nothing we could rewrite safely
}

}  // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(fs::path autostartDir, std::string desktopID,
                                             fs::path executable, fs::path installationRoot)
    : dir_(std::move(autostartDir)),
      id_(std::move(desktopID)),
      executable_(std::move(executable)),
      installationRoot_(std::move(installationRoot)) {}

XdgAutostartLoginItem XdgAutostartLoginItem::standard(fs::path executable,
                                                      fs::path installationRoot) {
    fs::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        config = fs::path(home) / ".config";
    }
    return XdgAutostartLoginItem(config / "autostart", "tesvano", std::move(executable),
                                 std::move(installationRoot));
}

bool XdgAutostartLoginItem::namesVersionFolder(const fs::path& named) const {
    if (installationRoot_.empty() || !named.is_absolute()) {
        return false;
    }
    const fs::path program = named.lexically_normal();
    const fs::path bin = program.parent_path();
    const fs::path version = bin.parent_path();
    if (program == executable_.lexically_normal() || program.filename() != "tesvano" ||
        bin.filename() != "bin" || version.filename().empty() || version.filename() == "current" ||
        version.filename().string().front() == '.') {
        return false;
    }
    std::error_code ec;
    return version.parent_path() == installationRoot_.lexically_normal() ||
           fs::equivalent(version.parent_path(), installationRoot_, ec);
}

std::optional<std::string> XdgAutostartLoginItem::followingEntry(std::string_view text) const {
    std::string out;
    bool inMainGroup = false;
    bool changed = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        std::string replaced(line);
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
        } else if (inMainGroup && line.starts_with("Exec=")) {
            const auto found = execProgram(line.substr(5));
            if (found.length > 0 && namesVersionFolder(found.program)) {
                replaced = "Exec=" + quoteExec(executable_.string()) +
                           std::string(line.substr(5 + found.length));
            }
        } else if (inMainGroup && line.starts_with("TryExec=") &&
                   namesVersionFolder(std::string(line.substr(8)))) {
            replaced = "TryExec=" + executable_.string();
        }
        changed = changed || replaced != line;
        out += replaced;
        if (end < text.size()) {
            out.push_back('\n');
        }
        start = end + 1;
    }
    return changed ? std::optional<std::string>(std::move(out)) : std::nullopt;
}

std::expected<bool, std::string> XdgAutostartLoginItem::followInstallation() const {
    if (installationRoot_.empty()) {
        return false;
    }
    struct stat info {};
    if (::lstat(entryPath().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;  // none, or a link the user made: not ours to replace
    }
    std::string text;
    std::string reason;
    const ReadStatus read = readEntry(entryPath(), text, reason);
    if (read == ReadStatus::missing || read == ReadStatus::notRegular ||
        text.size() >= entryReadLimit) {
        return false;  // gone, swapped for a link, or no entry of ours
    }
    if (read == ReadStatus::failed) {
        return std::unexpected("Could not read " + entryPath().string() + ": " + reason);
    }
    const auto following = followingEntry(text);
    if (!following) {
        return false;
    }
    if (auto written = writeEntry(*following, info.st_mode & 07777); !written) {
        return std::unexpected(written.error());
    }
    return true;
}

int XdgAutostartLoginItem::status() const {
    // Asked on the interface thread at every start: nothing at the path may block it.
    std::string text;
    std::string reason;
    const ReadStatus read = readEntry(entryPath(), text, reason);
    if (read == ReadStatus::missing || read == ReadStatus::notRegular) {
        return notRegistered;  // none, or nothing of ours
    }
    struct stat info {};
    if (read == ReadStatus::failed && ::lstat(entryPath().c_str(), &info) != 0) {
        return notRegistered;  // no folder to hold one
    }
    // An entry whose program has moved away, or that cannot be read, is still ours to remove,
    // so it counts as enabled.
    return read == ReadStatus::read && entryIsHidden(text) ? notRegistered : enabled;
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
    return writeEntry(entry.str(), 0644);
}

std::expected<void, std::string> XdgAutostartLoginItem::writeEntry(const std::string& text,
                                                                   mode_t mode) const {
    fs::path temporary = entryPath();
    temporary += ".tmp";
    // Made new: whatever stands under that name (a link planted there) goes, not what it names.
    const int fd = createFreshFile(temporary, 0600);
    if (fd < 0) {
        return std::unexpected("Could not write " + temporary.string() + ": " +
                               std::strerror(errno));
    }
    const bool written = writeAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
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
