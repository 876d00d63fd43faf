#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace tesvano {

// One application the user can choose for a rule.
struct InstalledApp {
    // The identity rules are keyed by: a desktop-entry id, or "process:" and the executable's
    // name for a running program without an entry.
    std::string appId;
    std::string name;
    // The desktop entry's file (or the executable of a program without one); may be empty.
    std::string path;

    const std::string& id() const { return appId; }
    bool operator==(const InstalledApp&) const = default;
};

}  // namespace tesvano

template <>
struct std::hash<tesvano::InstalledApp> {
    std::size_t operator()(const tesvano::InstalledApp& app) const noexcept {
        std::size_t seed = 0;
        for (const auto* field : {&app.appId, &app.name, &app.path}) {
            seed ^= std::hash<std::string>{}(*field) + 0x9e3779b97f4a7c15ULL + (seed << 6) +
                    (seed >> 2);
        }
        return seed;
    }
};
