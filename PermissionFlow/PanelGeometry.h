#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "Platform/Workspace/WindowList.h"

namespace PermissionFlow::PanelGeometry {

using tesvano::platform::Rect;

inline constexpr double initialPanelWidth = 420;
inline constexpr double sidebarWidth = 230;
inline constexpr double screenInset = 12;
inline constexpr double minimumPanelHeight = 96;
inline constexpr double minimumPanelWidth = 240;
inline constexpr double animationDuration = 0.72;
inline constexpr double initialAlpha = 0.9;

// The screens' usable areas (without panels and docks), in the screens' order.
struct Screens {
    std::vector<Rect> frames;
    std::vector<Rect> available;
    std::optional<Rect> primaryAvailable;
};

// Keeps `r` at least the inset inside the first available area it touches (the primary one
// when it touches none); when it is larger than the area, its top-left stays inside.
Rect clamp(const Rect& r, const Screens& screens);

// Where the panel goes for a settings window frame `s`: its top edge on the window's bottom
// edge, its left edge where the window's content starts (right of the sidebar), kept on the
// screen. `heightForWidth` measures the content.
Rect targetFrame(const Rect& s, const Screens& screens,
                 const std::function<double(double width)>& heightForWidth);

// Centred on `source` (the button the flow started from), or on the primary screen.
Rect awaitingFrame(const std::optional<Rect>& source, double height, const Screens& screens);

// The launch flight: critically damped progress at `t` seconds, 0…1.
double launchProgress(double t);
// A frame on the upward arc from `from` to `to` at progress p.
Rect interpolatedFrame(const Rect& from, const Rect& to, double p);

}  // namespace PermissionFlow::PanelGeometry
