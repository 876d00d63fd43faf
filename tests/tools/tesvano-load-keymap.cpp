// Loads a keymap with up to four layouts into an X server by name, e.g.
//   tesvano-load-keymap --display :5 us "de(nodeadkeys)" ru
// and publishes its rules names. Used where setxkbmap's upload does not take (Xvfb).
// The server must outlive this client's connection without resetting: run Xvfb with -noreset
// (the test fixture does), or the keymap is gone when the tool exits.
#include <X11/Xlib.h>

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/XkbKeymapLoader.h"

int main(int argc, char** argv) {
    std::string display;
    std::vector<tesvano::test::KeymapLayout> layouts;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--display" && i + 1 < argc) {
            display = argv[++i];
            continue;
        }
        auto layout = tesvano::test::parseKeymapLayout(arg);
        if (!layout) {
            std::cerr << "tesvano-load-keymap: " << layout.error() << "\n";
            return 2;
        }
        layouts.push_back(std::move(*layout));
    }
    if (layouts.empty()) {
        std::cerr << "usage: tesvano-load-keymap [--display :N] layout[(variant)]...\n";
        return 2;
    }
    Display* connection = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (connection == nullptr) {
        std::cerr << "tesvano-load-keymap: cannot open display " << display << "\n";
        return 1;
    }
    const auto loaded = tesvano::test::loadKeymap(connection, layouts);
    XCloseDisplay(connection);
    if (!loaded) {
        std::cerr << "tesvano-load-keymap: " << loaded.error() << "\n";
        return 1;
    }
    return 0;
}
