#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>

#include "Tesvano/Menu/TrayIcon.h"

namespace tesvano {
namespace {

struct Ink {
    int covered = 0;      // pixels at least half opaque
    bool onlyInk = true;  // every such pixel in the given colour
};

Ink inkOf(bool locked, const QColor& ink, int side) {
    const QImage image = TrayIcon::trayImage(locked, ink)
                             .pixmap(side, side)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    Ink out;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() >= 128) {
                ++out.covered;
                out.onlyInk = out.onlyInk && std::abs(pixel.red() - ink.red()) <= 2 &&
                              std::abs(pixel.green() - ink.green()) <= 2 &&
                              std::abs(pixel.blue() - ink.blue()) <= 2;
            }
        }
    }
    return out;
}

// At the panel's size the two states differ at a glance (a solid body against a hollow one),
// and both take the panel's ink, dark or light.
TEST(TrayImageTest, LockedAndUnlockedTellApartAndTakeThePanelsInk) {
    for (const QColor ink : {QColor(0x20, 0x20, 0x20), QColor(0xF2, 0xF2, 0xF2)}) {
        for (int side : {16, 22, 24}) {
            const Ink locked = inkOf(true, ink, side);
            const Ink unlocked = inkOf(false, ink, side);
            EXPECT_TRUE(locked.onlyInk && unlocked.onlyInk) << side;
            EXPECT_GT(unlocked.covered, 0) << side;
            EXPECT_GE(locked.covered * 10, unlocked.covered * 15)
                << side << ": locked " << locked.covered << ", unlocked " << unlocked.covered;
        }
    }
}

}  // namespace
}  // namespace tesvano
