#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Platform/LoginItems/FakeLoginItemService.h"
#include "TesvanoKit/LoginItem/LoginItemController.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using platform::FakeLoginItemService;
using platform::XdgAutostartLoginItem;

TEST(LoginItem, StatusNumbersMapOntoStates) {
    EXPECT_EQ(loginItemStateFromStatus(0), LoginItemState::disabled);
    EXPECT_EQ(loginItemStateFromStatus(1), LoginItemState::enabled);
    EXPECT_EQ(loginItemStateFromStatus(2), LoginItemState::requiresApproval);
    EXPECT_EQ(loginItemStateFromStatus(3), LoginItemState::notFound);
    EXPECT_EQ(loginItemStateFromStatus(4), LoginItemState::unknown);
    EXPECT_EQ(loginItemStateFromStatus(-1), LoginItemState::unknown);
}

TEST(LoginItem, ControllerOnlyCallsTheServiceWhenTheStateMustChange) {
    FakeLoginItemService service;
    LoginItemController controller(service);
    for (int status : {0, 2, 3}) {
        service.rawStatus = status;
        EXPECT_TRUE(controller.setEnabled(false).has_value());
    }
    EXPECT_EQ(service.unregisterCalls, 0);

    service.rawStatus = 2;  // approval pending: enabling registers again
    EXPECT_TRUE(controller.setEnabled(true).has_value());
    EXPECT_EQ(service.registerCalls, 1);
    EXPECT_TRUE(controller.setEnabled(true).has_value());
    EXPECT_EQ(service.registerCalls, 1);

    service.failure = "denied";
    auto failed = controller.setEnabled(false);
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error().message, "denied");
    EXPECT_TRUE(controller.isEnabled());
}

TEST(LoginItem, AutostartEntryIsWrittenOnceAndRemoved) {
    test::TempDir dir;
    XdgAutostartLoginItem service(dir / "autostart", "tesvano", "/opt/tes vano/tesvano");
    LoginItemController controller(service);
    EXPECT_EQ(controller.state(), LoginItemState::disabled);
    EXPECT_TRUE(controller.setEnabled(false).has_value()) << "no entry: nothing to do";

    ASSERT_TRUE(controller.setEnabled(true).has_value());
    EXPECT_EQ(controller.state(), LoginItemState::enabled);
    const std::string entry = test::readFile(service.entryPath());
    EXPECT_NE(entry.find("Exec=\"/opt/tes vano/tesvano\"\n"), std::string::npos) << entry;
    // It describes the program as its launcher entry does.
    const std::string launcher = test::readFile(TESVANO_DESKTOP_TEMPLATE);
    const auto comment = launcher.find("\nComment=");
    ASSERT_NE(comment, std::string::npos);
    EXPECT_NE(entry.find(launcher.substr(comment, launcher.find('\n', comment + 1) - comment)),
              std::string::npos)
        << entry;
    const auto written = std::filesystem::last_write_time(service.entryPath());
    ASSERT_TRUE(controller.setEnabled(true).has_value());
    EXPECT_EQ(std::filesystem::last_write_time(service.entryPath()), written);

    ASSERT_TRUE(controller.setEnabled(false).has_value());
    EXPECT_FALSE(std::filesystem::exists(service.entryPath()));

    // An entry the user switched off in the desktop's settings counts as disabled.
    test::writeFile(service.entryPath(), "[Desktop Entry]\nType=Application\nHidden=true\n");
    EXPECT_EQ(controller.state(), LoginItemState::disabled);
}

TEST(LoginItem, UnwritableFolderIsReported) {
    test::TempDir dir;
    // A file where the folder should be makes the folder impossible to create, even as root.
    test::writeFile(dir / "autostart", "not a folder");
    XdgAutostartLoginItem service(dir / "autostart", "tesvano", "/usr/bin/tesvano");
    LoginItemController controller(service);
    auto result = controller.setEnabled(true);
    ASSERT_FALSE(result.has_value());
    EXPECT_NE(result.error().message.find("autostart"), std::string::npos);
}

}  // namespace
}  // namespace tesvano
