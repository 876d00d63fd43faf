#include "Tesvano/Settings/Components/ScreenFit.h"

#include <QApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace tesvano::ScreenFit {

namespace {

struct Simulation {
    QRect workArea;
    QSize frame;
};

std::optional<Simulation>& simulation() {
    static std::optional<Simulation> shared;
    return shared;
}

// None while the window is not shown: the window manager has not framed it yet.
std::optional<QSize> ownFrame(const QWidget* window) {
    if (window == nullptr || !window->isVisible()) {
        return std::nullopt;
    }
    if (simulation()) {
        return simulation()->frame;
    }
    const QSize frame = window->frameGeometry().size() - window->size();
    return QSize(std::max(0, frame.width()), std::max(0, frame.height()));
}

QRect workArea(const QWidget* window) {
    if (simulation()) {
        return simulation()->workArea;
    }
    QScreen* screen =
        window->screen() != nullptr ? window->screen() : QApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace

QSize frame(const QWidget* window, const QWidget* like) {
    if (const auto own = ownFrame(window); own && !own->isNull()) {
        return *own;
    }
    // A frameless window yet to be framed: as the program's other window is, if any.
    return ownFrame(like != nullptr ? like->window() : nullptr).value_or(QSize(0, 0));
}

QSize room(const QWidget* window, const QWidget* like) {
    const QRect area = workArea(window);
    if (area.isEmpty()) {
        return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    }
    return area.size() - frame(window, like);
}

void keepInside(QWidget* window, const QWidget* like) {
    const QRect area = workArea(window);
    if (area.isEmpty()) {
        return;
    }
    const QSize fits = room(window, like);
    const QSize least = window->minimumSize().boundedTo(fits);
    if (least != window->minimumSize()) {
        window->setMinimumSize(least);
    }
    const QSize size = window->size().boundedTo(fits);
    if (size != window->size()) {
        window->resize(size);
    }
    if (!window->isVisible()) {
        return;
    }
    // The frame's top-left corner, moved the least that brings the whole frame inside.
    const QRect outer(window->pos(), window->size() + frame(window, like));
    const int x = std::clamp(outer.left(), area.left(),
                             std::max(area.left(), area.right() + 1 - outer.width()));
    const int y = std::clamp(outer.top(), area.top(),
                             std::max(area.top(), area.bottom() + 1 - outer.height()));
    if (x != outer.left() || y != outer.top()) {
        window->move(x, y);
    }
}

void simulate(std::optional<QRect> workArea, QSize frame) {
    if (workArea) {
        simulation() = Simulation{*workArea, frame};
    } else {
        simulation().reset();
    }
}

}  // namespace tesvano::ScreenFit
