#include "tests/desktop/support/PanelInk.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace tesvano::test {

namespace {

double luminance(unsigned long rgb) {
    const auto linear = [](unsigned long value) {
        const double c = static_cast<double>(value & 0xFF) / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(rgb >> 16) + 0.7152 * linear(rgb >> 8) + 0.0722 * linear(rgb);
}

std::string hex(unsigned long rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06lx", rgb & 0xFFFFFF);
    return text;
}

int distance(unsigned long a, unsigned long b) {
    int sum = 0;
    for (int shift : {16, 8, 0}) {
        sum +=
            std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
    }
    return sum;
}

}  // namespace

double PanelInk::contrast() const {
    const double high = std::max(inkLuminance, backgroundLuminance);
    const double low = std::min(inkLuminance, backgroundLuminance);
    return (high + 0.05) / (low + 0.05);
}

std::optional<PanelInk> panelInk(const std::string& display, int x, int y, int width, int height,
                                 const PanelInk* before) {
    Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr) {
        return std::nullopt;
    }
    XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        XCloseDisplay(d);
        return std::nullopt;
    }
    PanelInk out;
    std::map<unsigned long, int> counts;
    std::map<unsigned long, int> changed;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row) & 0xFFFFFF;
            const std::size_t at = out.pixels.size();
            out.pixels.push_back(pixel);
            ++counts[pixel];
            if (before == nullptr || (at < before->pixels.size() && before->pixels[at] != pixel)) {
                ++changed[pixel];
            }
        }
    }
    const unsigned long background =
        std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->first;
    out.background = hex(background);
    out.backgroundLuminance = luminance(background);
    // Anti-aliased edges blend into the background: only pixels well apart count as ink.
    double sums[3] = {};
    for (const auto& [pixel, count] : changed) {
        if (distance(pixel, background) < 90) {
            continue;
        }
        out.inked += count;
        for (int i = 0; i < 3; ++i) {
            sums[i] += static_cast<double>((pixel >> (16 - 8 * i)) & 0xFF) * count;
        }
    }
    if (out.inked > 0) {
        unsigned long mean = 0;
        for (int i = 0; i < 3; ++i) {
            mean = (mean << 8) | static_cast<unsigned long>(std::lround(sums[i] / out.inked));
        }
        out.ink = hex(mean);
        out.inkLuminance = luminance(mean);
    }
    XDestroyImage(image);
    XCloseDisplay(d);
    return out;
}

}  // namespace tesvano::test
