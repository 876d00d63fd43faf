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

}  // namespace

std::optional<std::string> desktopEntryIdentifier(const WindowIdentityHints& hints,
                                                  const DesktopEntryIndex& index) {
    if (present(hints.gtkApplicationID)) {
        if (const auto* entry = index.entry(*hints.gtkApplicationID)) {
            return entry->id;
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
    return std::nullopt;
}

}  // namespace tesvano::platform
