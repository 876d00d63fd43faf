#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

struct _XDisplay;

namespace tesvano::test {

struct KeymapLayout {
    std::string layout;
    std::string variant;
};

// "de" or "de(nodeadkeys)"; none for anything else.
std::expected<KeymapLayout, std::string> parseKeymapLayout(std::string_view text);

// Makes the X server compile and load a keymap with these layouts as groups 1 to 4, and
// publishes the matching rules names as a layout configuration tool would. This works on Xvfb,
// where an uploaded keymap does not take.
std::expected<void, std::string> loadKeymap(_XDisplay* display,
                                            const std::vector<KeymapLayout>& layouts);

}  // namespace tesvano::test
