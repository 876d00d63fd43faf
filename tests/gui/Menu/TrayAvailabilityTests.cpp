#include <gtest/gtest.h>

#include "Tesvano/Menu/TrayAvailability.h"

namespace tesvano {
namespace {

// Qt's answer, then what the session's trays say; a watcher without a host is no tray
// unless an XEmbed tray is there.
TEST(TrayAvailability, AWatcherWithoutAHostIsNoTray) {
    struct Case {
        bool qt;
        std::optional<bool> host;
        bool xembed;
        bool expected;
    };
    const Case cases[] = {
        {true, std::nullopt, false, true},  // no watcher: Qt found an XEmbed tray itself
        {true, true, false, true},          // a shell shows the items
        {true, false, false, false},        // kded5's watcher alone
        {true, false, true, true},          // the items go to the XEmbed tray
        {false, true, true, false},         // Qt will not show an icon
        {false, std::nullopt, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.qt << " host " << c.host.value_or(-1) << " xembed " << c.xembed);
        EXPECT_EQ(isTrayAvailable(c.qt, platform::TrayHosts{c.host, c.xembed}), c.expected);
    }
}

}  // namespace
}  // namespace tesvano
