#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/XvfbServer.h"

struct _XDisplay;

namespace tesvano::test {

// An XEmbed system tray as far as its icons see it, on an Xvfb of its own: a window that owns
// the screen's _NET_SYSTEM_TRAY_S0 selection and may say, in _NET_SYSTEM_TRAY_COLORS, which
// foreground its icons should take (as Xfce's and Cinnamon's trays do). $DISPLAY names the server
// while the object lives.
class FakeXEmbedTray {
public:
    // Fails with a reason when Xvfb is missing or does not start.
    static std::expected<std::unique_ptr<FakeXEmbedTray>, std::string> start();
    ~FakeXEmbedTray();
    FakeXEmbedTray(const FakeXEmbedTray&) = delete;
    FakeXEmbedTray& operator=(const FakeXEmbedTray&) = delete;

    // The foreground in 8-bit RGB (written as the property's 16-bit values), or none: the
    // property removed.
    void setForeground(std::optional<unsigned> rgb);

private:
    FakeXEmbedTray() = default;

    std::unique_ptr<XvfbServer> server_;
    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
    std::optional<std::string> savedDisplay_;
};

}  // namespace tesvano::test
