#pragma once

#include <QRect>
#include <QSize>
#include <optional>

class QWidget;

namespace tesvano {

// Keeps a top-level window whole on its screen's work area (the screen less the panels), its
// window manager's frame counted.
namespace ScreenFit {

// The frame the window manager draws round `window`: its own once known, else that of `like`
// (another window of the program, framed the same way), else none yet.
QSize frame(const QWidget* window, const QWidget* like = nullptr);

// The largest client size whose frame fits the work area of the window's screen.
QSize room(const QWidget* window, const QWidget* like = nullptr);

// Shrinks the window (and its minimum size) to `room` where it is larger, and moves it so that
// its frame lies within the work area.
void keepInside(QWidget* window, const QWidget* like = nullptr);

// For the tests: a work area and a window manager's frame that every window is fitted to in
// place of the screen's and its own; none gives them back.
void simulate(std::optional<QRect> workArea, QSize frame = {});

}  // namespace ScreenFit

}  // namespace tesvano
