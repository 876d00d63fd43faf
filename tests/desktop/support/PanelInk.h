#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tesvano::test {

// What a strip of the screen (a panel) shows: its most common colour taken as the panel's
// background, and the pixels that stand clearly apart from it (icons) with their mean colour;
// with an earlier look, only the pixels that changed since (what came on the panel).
struct PanelInk {
    std::vector<unsigned long> pixels;
    int inked = 0;
    double inkLuminance = 0;
    double backgroundLuminance = 0;
    std::string background;  // "#rrggbb"
    std::string ink;         // the mean ink, "#rrggbb"
    // WCAG's contrast ratio of the mean ink against the background.
    double contrast() const;
};

// Reads the root window's pixels in the rectangle on `display`; none without the display.
std::optional<PanelInk> panelInk(const std::string& display, int x, int y, int width, int height,
                                 const PanelInk* before = nullptr);

}  // namespace tesvano::test
