#include "Platform/Workspace/ApplicationIdentity.h"

#include <algorithm>
#include <filesystem>

namespace tesvano::platform {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) {
        auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
        return fold(x) == fold(y);
    });
}

const DesktopEntry* findEntry(const DesktopEntryIndex& index, auto predicate) {
    auto it = std::ranges::find_if(index.entries(), predicate);
    return it == index.entries().end() ? nullptr : &*it;
}

bool present(const std::optional<std::string>& s) {
    return s && !s->empty();
}

// The id of the desktop file a window names: "org.kde.krunner", also when written as a file
// name or a path; none for something that cannot be an id.
std::optional<std::string> desktopFileId(const std::optional<std::string>& named) {
    if (!present(named)) {
        return std::nullopt;
    }
    std::string_view id = *named;
    if (const auto slash = id.find_last_of('/'); slash != std::string_view::npos) {
        id.remove_prefix(slash + 1);
    }
    if (id.ends_with(".desktop")) {
        id.remove_suffix(std::string_view(".desktop").size());
    }
    const bool plain = !id.empty() && std::ranges::all_of(
                                          id, [](unsigned char c) { return c > ' ' && c != 0x7f; });
    return plain ? std::optional<std::string>(id) : std::nullopt;
}

}  // namespace

std::optional<std::string> desktopEntryIdentifier(const WindowIdentityHints& hints,
                                                  const DesktopEntryIndex& index) {
    const auto declared = desktopFileId(hints.kdeDesktopFile);
    for (const auto* named : {&hints.gtkApplicationID, &declared}) {
        if (present(*named)) {
            if (const auto* entry = index.entry(**named)) {
                return entry->id;
            }
        }
    }
    // The class names the application; the instance is often only the program's name.
    const std::optional<std::string>* classes[] = {&hints.wmClassName, &hints.wmClassInstance};
    for (const auto* wmClass : classes) {
        if (!present(*wmClass)) {
            continue;
        }
        if (const auto* entry = findEntry(
                index, [&](const DesktopEntry& e) { return e.startupWMClass == **wmClass; })) {
            return entry->id;
        }
    }
    for (const auto* wmClass : {&hints.wmClassInstance, &hints.wmClassName}) {
        if (!present(*wmClass)) {
            continue;
        }
        if (const auto* entry = findEntry(index, [&](const DesktopEntry& e) {
                return equalsIgnoringCase(e.id, **wmClass);
            })) {
            return entry->id;
        }
    }
    if (present(hints.executablePath)) {
        const auto name = std::filesystem::path(*hints.executablePath).filename().string();
        if (!name.empty()) {
            if (const auto* entry =
                    findEntry(index, [&](const DesktopEntry& e) { return e.executable == name; })) {
                return entry->id;
            }
        }
    }
    return declared;
}

}  // namespace tesvano::platform
