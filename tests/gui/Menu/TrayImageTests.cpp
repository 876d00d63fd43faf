#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QSystemTrayIcon>
#include <cmath>
#include <cstdlib>

#include "Platform/Workspace/TrayHosts.h"
#include "Tesvano/Menu/StatusMenu.h"
#include "Tesvano/Menu/TrayIcon.h"
#include "tests/gui/AppFixture.h"
#include "tests/support/FakeXEmbedTray.h"
#include "tests/support/Wait.h"

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

double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The ink follows the panel: what its tray asks for, else what reads on its background (Xfce's
// dark mode #353535 and Cinnamon's #555555, a light panel), else the palette as before.
TEST(TrayInkTest, FollowsThePanelBeforeTheApplicationsPalette) {
    const QColor black(Qt::black);
    const QColor cinnamon(0xCC, 0xCC, 0xCC);
    EXPECT_EQ(TrayIcon::inkFor({cinnamon, QColor(0x55, 0x55, 0x55)}, black), cinnamon);
    EXPECT_EQ(TrayIcon::inkFor({cinnamon, std::nullopt}, black), cinnamon);
    for (const QColor palette : {black, QColor(0x31, 0x36, 0x3B), QColor(0xEF, 0xF0, 0xF1)}) {
        for (const QColor panel :
             {QColor(0x35, 0x35, 0x35), QColor(0x55, 0x55, 0x55), QColor(Qt::black),
              QColor(0xF6, 0xF5, 0xF4), QColor(0xD6, 0xD6, 0xD6)}) {
            const QColor ink = TrayIcon::inkFor({std::nullopt, panel}, palette);
            EXPECT_GE(contrast(ink, panel), 4.5)
                << ink.name().toStdString() << " on " << panel.name().toStdString();
            if (contrast(palette, panel) >= 4.5) {
                EXPECT_EQ(ink, palette) << "the palette's ink where it reads";
            }
        }
        EXPECT_EQ(TrayIcon::inkFor({}, palette), palette) << "nothing known of the panel";
    }
}

TEST(TrayInkTest, TheTraysColoursAreReadAsEightBitsFromSixteen) {
    const unsigned long xfce[12] = {0xDADA, 0xDADA, 0xDADA, 0xFFFF, 0, 0, 0xFFFF, 0x8080, 0};
    EXPECT_EQ(platform::trayForegroundOf(xfce, 12), (platform::TrayColour{0xDA, 0xDA, 0xDA}));
    const unsigned long odd[3] = {0xFFFF, 0x0101, 0x1FFFF};
    EXPECT_EQ(platform::trayForegroundOf(odd, 3), (platform::TrayColour{0xFF, 0x01, 0xFF}));
    EXPECT_EQ(platform::trayForegroundOf(odd, 2), std::nullopt);
    EXPECT_EQ(platform::trayForegroundOf(nullptr, 12), std::nullopt);
}

class TrayInkOnXEmbedTest : public test::AppFixture {
protected:
    static bool drawnIn(const QIcon& icon, const QColor& ink) {
        const Ink drawn = inkOfImage(icon.pixmap(22, 22).toImage(), ink);
        return drawn.covered > 0 && drawn.onlyInk;
    }
    static Ink inkOfImage(const QImage& source, const QColor& ink) {
        const QImage image = source.convertToFormat(QImage::Format_ARGB32);
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
};

// Qt's icon on an XEmbed tray: in the tray's foreground, and again when the tray changes it
// (a switch to dark mode); the palette's ink where the tray says nothing.
TEST_F(TrayInkOnXEmbedTest, TheIconTakesTheForegroundTheTrayAsksFor) {
    auto xembed = test::FakeXEmbedTray::start();
    if (!xembed) {
        GTEST_SKIP() << xembed.error();
    }
    (*xembed)->setForeground(0xCCCCCC);
    auto& s = makeState();
    s.start();
    StatusMenu menu(s, [] {});
    TrayIcon icon(s, menu);
    ASSERT_NE(icon.qtTrayIcon(), nullptr);
    EXPECT_TRUE(drawnIn(icon.qtTrayIcon()->icon(), QColor(0xCC, 0xCC, 0xCC)));

    // The tray tells of its new colours; the program hears it and the icon follows.
    int heard = 0;
    auto watcher = platform::TrayHostWatcher::open(loop, [&heard] { ++heard; });
    ASSERT_TRUE(watcher.has_value()) << watcher.error();
    (*xembed)->setForeground(0x2E3436);
    EXPECT_TRUE(test::waitUntil(
        [this] {
            loop.pumpFds(std::chrono::milliseconds(5));
            loop.runDue();
        },
        [&heard] { return heard > 0; }));
    icon.panelChanged();
    EXPECT_TRUE(drawnIn(icon.qtTrayIcon()->icon(), QColor(0x2E, 0x34, 0x36)));
    s.toggleLock();
    EXPECT_TRUE(drawnIn(icon.qtTrayIcon()->icon(), QColor(0x2E, 0x34, 0x36))) << "locked too";

    (*xembed)->setForeground(std::nullopt);
    icon.panelChanged();
    EXPECT_TRUE(drawnIn(icon.qtTrayIcon()->icon(),
                        QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText)));
}

}  // namespace
}  // namespace tesvano
