#pragma once

#include <string_view>

namespace tesvano::platform {

// Orders release versions: dotted numbers ("1.2", "1.2.0" and "1.2.0.0" are equal), then an
// optional pre-release part after "-" or directly after the numbers ("1.3.0-beta.2",
// "1.3b1"), which ranks below the release itself. Pre-release pieces compare numerically
// when both are numbers, else as text; a number ranks below text. Answers <0, 0 or >0.
int compareVersions(std::string_view a, std::string_view b);

inline bool isNewerVersion(std::string_view candidate, std::string_view current) {
    return compareVersions(candidate, current) > 0;
}

}  // namespace tesvano::platform
