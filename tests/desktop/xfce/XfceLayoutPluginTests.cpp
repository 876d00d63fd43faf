// The lock under Xfce 4.18: xfwm4 and the panel's keyboard-layout plugin set to keep a layout
// per window, Alt+Shift as the layout switch.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/desktop/support/LayoutMemoryLockTest.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;

// The panel with only the layout plugin, whose policy 1 keeps a layout per window. xfconfd
// reads this when the panel first asks, so it is written before anything starts.
constexpr const char* kPanelChannel = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="xkb">
      <property name="group-policy" type="uint" value="1"/>
    </property>
  </property>
</channel>
)";

class XfceLayoutPluginTest : public test::LayoutMemoryLockTest {
protected:
    std::vector<std::string> requiredPrograms() const override {
        return {"xfwm4", "xfce4-panel", "setxkbmap", "dbus-daemon", "Xvfb"};
    }
    std::vector<std::string> sessionEnvironment() const override {
        return {"XDG_CURRENT_DESKTOP=XFCE"};
    }
    std::expected<void, std::string> startDesktop(test::PrivateSession& s) override {
        test::writeFile(s.home() / ".config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml",
                        kPanelChannel);
        if (auto wm = s.startWindowManager({"xfwm4", "--compositor=off"}, 20s); !wm) {
            return std::unexpected(wm.error());
        }
        // After the window manager: its connection keeps the server from resetting the map.
        if (!s.run({"setxkbmap", "-layout", "us,de,ru", "-option", "grp:alt_shift_toggle"})) {
            return std::unexpected("setxkbmap failed");
        }
        if (auto panel = s.launch({"xfce4-panel"}); !panel) {
            return std::unexpected(panel.error());
        }
        return {};
    }
    std::vector<std::string> switchShortcut() const override { return {"Alt_L", "Shift_L"}; }
    const char* desktopName() const override { return "Xfce"; }
};

TEST_F(XfceLayoutPluginTest, LockHoldsAndTheIgnoredWindowKeepsItsLayout) {
    runActivations();
}

}  // namespace
}  // namespace tesvano
