#include "PermissionFlow/PanelGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace PermissionFlow::PanelGeometry {

namespace {

bool intersects(const Rect& a, const Rect& b) {
    return a.x < b.maxX() && b.x < a.maxX() && a.y < b.maxY() && b.y < a.maxY();
}

}  // namespace

Rect clamp(const Rect& r, const Screens& screens) {
    std::optional<Rect> area;
    for (const auto& v : screens.available) {
        if (intersects(v, r)) {
            area = v;
            break;
        }
    }
    if (!area) {
        area = screens.primaryAvailable;
    }
    if (!area) {
        return r;
    }
    const double loX = area->x + screenInset;
    const double hiX = area->maxX() - r.width - screenInset;
    const double loY = area->y + screenInset;
    const double hiY = area->maxY() - r.height - screenInset;
    return {std::min(std::max(r.x, loX), std::max(loX, hiX)),
            std::min(std::max(r.y, loY), std::max(loY, hiY)), r.width, r.height};
}

Rect targetFrame(const Rect& s, const Screens& screens,
                 const std::function<double(double width)>& heightForWidth) {
    Rect v = s;
    for (std::size_t i = 0; i < screens.frames.size() && i < screens.available.size(); ++i) {
        if (intersects(screens.frames[i], s)) {
            v = screens.available[i];
            break;
        }
    }
    const double width =
        std::min(std::max(s.width - sidebarWidth, minimumPanelWidth), v.width - 2 * screenInset);
    const double height =
        std::max(heightForWidth ? heightForWidth(width) : 0.0, minimumPanelHeight);
    double x = s.x + sidebarWidth;
    double y = s.maxY();
    // Below the window when it fits; lifted onto it when the window reaches the screen's foot.
    x = std::max(v.x + screenInset, std::min(x, v.maxX() - width - screenInset));
    y = std::max(v.y + screenInset, std::min(y, v.maxY() - height - screenInset));
    return {x, y, width, height};
}

Rect awaitingFrame(const std::optional<Rect>& source, double height, const Screens& screens) {
    double cx = initialPanelWidth / 2;
    double cy = height / 2;
    if (source && !source->isEmpty()) {
        cx = source->x + source->width / 2;
        cy = source->y + source->height / 2;
    } else if (screens.primaryAvailable) {
        cx = screens.primaryAvailable->x + screens.primaryAvailable->width / 2;
        cy = screens.primaryAvailable->y + screens.primaryAvailable->height / 2;
    }
    return clamp({cx - initialPanelWidth / 2, cy - height / 2, initialPanelWidth, height}, screens);
}

double launchProgress(double t) {
    const double omega = 2 * std::numbers::pi / animationDuration;
    t = std::max(t, 0.0);
    const double p = 1 - (1 + omega * t) * std::exp(-omega * t);
    return std::clamp(p, 0.0, 1.0);
}

Rect interpolatedFrame(const Rect& from, const Rect& to, double p) {
    const double width = from.width + (to.width - from.width) * p;
    const double height = from.height + (to.height - from.height) * p;
    const double fx = from.x + from.width / 2;
    const double fy = from.y + from.height / 2;
    const double tx = to.x + to.width / 2;
    const double ty = to.y + to.height / 2;
    const double lift = std::clamp(0.18 * std::hypot(tx - fx, ty - fy), 44.0, 140.0);
    // y grows downwards here: "up" is the smaller y.
    const double cx = (fx + tx) / 2;
    const double cy = std::min(fy, ty) - lift;
    const double a = (1 - p) * (1 - p);
    const double b = 2 * (1 - p) * p;
    const double c = p * p;
    const double x = a * fx + b * cx + c * tx;
    const double y = a * fy + b * cy + c * ty;
    return {x - width / 2, y - height / 2, width, height};
}

}  // namespace PermissionFlow::PanelGeometry
