#include "Platform/Workspace/DesktopEntryIndex.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace tesvano::platform {

namespace {

namespace fs = std::filesystem;

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// The escapes of a desktop-entry string value.
std::string unescapeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += value[i];
                break;
        }
    }
    return out;
}

// The arguments of an Exec= value (already unescaped as a string): separated by spaces,
// double quotes group, and inside quotes a backslash keeps the next character.
std::vector<std::string> splitExec(std::string_view exec) {
    std::vector<std::string> args;
    std::string current;
    bool inArg = false;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == '"') {
            quoted = true;
            inArg = true;
        } else if (c == ' ' || c == '\t') {
            if (inArg) {
                args.push_back(std::move(current));
                current.clear();
                inArg = false;
            }
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg) {
        args.push_back(std::move(current));
    }
    return args;
}

// Programs that start something else: their name says nothing about the application.
bool isWrapper(std::string_view program) {
    static constexpr std::array<std::string_view, 14> wrappers = {
        "sh",   "bash", "dash", "zsh",  "flatpak", "snap",     "perl",
        "ruby", "java", "gjs",  "node", "wine",    "electron", "mono"};
    if (std::ranges::find(wrappers, program) != wrappers.end()) {
        return true;
    }
    return program.starts_with("python");
}

// A string-list value: items separated by ';', the last one optionally terminated.
std::vector<std::string> splitList(std::string_view value) {
    std::vector<std::string> items;
    while (!value.empty()) {
        const auto semicolon = value.find(';');
        if (auto item = trim(value.substr(0, semicolon)); !item.empty()) {
            items.emplace_back(item);
        }
        if (semicolon == std::string_view::npos) {
            break;
        }
        value.remove_prefix(semicolon + 1);
    }
    return items;
}

struct ParsedEntry {
    std::optional<DesktopEntry> entry;  // none: not an application, or hidden
};

ParsedEntry parseText(std::string id, std::string_view text) {
    bool inMainGroup = false;
    bool sawMainGroup = false;
    std::string type;
    bool hidden = false;
    DesktopEntry entry;
    entry.id = std::move(id);
    std::optional<std::string> exec;

    std::size_t pos = 0;
    while (pos <= text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = trim(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            // Only the first group is the entry itself; later groups are actions.
            if (sawMainGroup && inMainGroup) {
                break;
            }
            inMainGroup = line == "[Desktop Entry]";
            sawMainGroup = sawMainGroup || inMainGroup;
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        const auto key = trim(line.substr(0, eq));
        const auto value = unescapeValue(trim(line.substr(eq + 1)));
        if (key == "Type") {
            type = value;
        } else if (key == "Name") {
            entry.name = value;
        } else if (key.starts_with("Name[") && key.ends_with("]")) {
            entry.localizedNames.emplace(std::string(key.substr(5, key.size() - 6)), value);
        } else if (key == "Icon") {
            if (!value.empty()) {
                entry.icon = value;
            }
        } else if (key == "Exec") {
            exec = value;
        } else if (key == "StartupWMClass") {
            if (!value.empty()) {
                entry.startupWMClass = value;
            }
        } else if (key == "Hidden") {
            hidden = value == "true";
        } else if (key == "NoDisplay") {
            entry.noDisplay = value == "true";
        } else if (key == "OnlyShowIn") {
            entry.onlyShowIn = splitList(value);
        } else if (key == "NotShowIn") {
            entry.notShowIn = splitList(value);
        }
    }
    if (!sawMainGroup || type != "Application" || hidden) {
        return {};
    }
    if (exec) {
        entry.executable = DesktopEntryIndex::executableOfExec(*exec);
    }
    return {std::move(entry)};
}

}  // namespace

bool DesktopEntry::isShownIn(const std::vector<std::string>& currentDesktops) const {
    for (const auto& desktop : currentDesktops) {
        if (std::ranges::find(onlyShowIn, desktop) != onlyShowIn.end()) {
            return true;
        }
        if (std::ranges::find(notShowIn, desktop) != notShowIn.end()) {
            return false;
        }
    }
    return onlyShowIn.empty();
}

std::vector<std::string> DesktopEntryIndex::currentDesktops() {
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    std::string list = value == nullptr ? "" : value;
    std::ranges::replace(list, ':', ';');
    return splitList(list);
}

std::optional<std::string> DesktopEntryIndex::executableOfExec(std::string_view exec) {
    const auto args = splitExec(exec);
    std::size_t i = 0;
    if (i < args.size() && fs::path(args[i]).filename() == "env") {
        ++i;
        // Options of env and the variables it sets come before the program.
        auto isEnvArgument = [](const std::string& arg) {
            return arg.starts_with('-') || (arg.find('=') != 0 && arg.contains('='));
        };
        while (i < args.size() && isEnvArgument(args[i])) {
            // These options take the next argument as their value.
            const bool takesValue = args[i] == "-u" || args[i] == "-C";
            i += takesValue ? 2 : 1;
        }
    }
    if (i >= args.size()) {
        return std::nullopt;
    }
    auto program = fs::path(args[i]).filename().string();
    if (program.empty() || program.starts_with('%') || isWrapper(program)) {
        return std::nullopt;
    }
    return program;
}

std::optional<DesktopEntry> DesktopEntryIndex::parse(std::string id, std::string_view text) {
    return parseText(std::move(id), text).entry;
}

std::vector<fs::path> DesktopEntryIndex::standardApplicationFolders() {
    std::vector<fs::path> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && fs::path(dataHome).is_absolute()) {
        folders.push_back(fs::path(dataHome) / "applications");
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        folders.push_back(fs::path(home) / ".local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const auto dir = dirs.substr(0, colon);
        if (fs::path(dir).is_absolute()) {
            folders.push_back(fs::path(dir) / "applications");
        }
        if (colon == std::string_view::npos) {
            break;
        }
        dirs.remove_prefix(colon + 1);
    }
    return folders;
}

DesktopEntryIndex DesktopEntryIndex::scan(const std::vector<fs::path>& folders) {
    std::vector<DesktopEntry> entries;
    std::set<std::string, std::less<>> seen;
    for (const auto& folder : folders) {
        std::error_code ec;
        std::vector<std::pair<std::string, fs::path>> files;
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const auto& path = it->path();
            if (path.extension() != ".desktop" || !it->is_regular_file(ec)) {
                continue;
            }
            auto relative = path.lexically_relative(folder).generic_string();
            relative.resize(relative.size() - std::string_view(".desktop").size());
            std::ranges::replace(relative, '/', '-');
            files.emplace_back(std::move(relative), path);
        }
        std::ranges::sort(files);
        for (auto& [id, path] : files) {
            if (!seen.insert(id).second) {
                continue;
            }
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                continue;
            }
            std::ostringstream text;
            text << in.rdbuf();
            if (auto entry = parseText(id, text.str()).entry) {
                entry->path = path;
                entries.push_back(std::move(*entry));
            }
        }
    }
    return DesktopEntryIndex(std::move(entries));
}

const DesktopEntry* DesktopEntryIndex::entry(std::string_view id) const {
    auto it = std::ranges::find(entries_, id, &DesktopEntry::id);
    return it == entries_.end() ? nullptr : &*it;
}

}  // namespace tesvano::platform
