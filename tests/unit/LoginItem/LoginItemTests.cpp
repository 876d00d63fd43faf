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

TEST(LoginItem, AnEntryNamingAVersionFolderIsMadeToNameTheCurrentLink) {
    test::TempDir dir;
    const std::filesystem::path root = dir / "opt" / "tesvano";
    std::filesystem::create_directories(root / "1.2.0" / "bin");
    const std::string stable = (root / "current" / "bin" / "tesvano").string();
    const std::string old = (root / "0.1.0" / "bin" / "tesvano").string();
    XdgAutostartLoginItem service(dir / "autostart", "tesvano", stable, root);
    const std::string head = "[Desktop Entry]\nType=Application\nName=Tesvano\n";
    struct Case {
        const char* name;
        std::string entry;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"as an older version wrote it", head + "Exec=\"" + old + "\"\nIcon=tesvano\n",
         head + "Exec=\"" + stable + "\"\nIcon=tesvano\n"},
        {"unquoted, with arguments and TryExec, no newline at the end",
         head + "TryExec=" + old + "\nExec=" + old + " --hidden %u\nX-Mine=kept",
         head + "TryExec=" + stable + "\nExec=\"" + stable + "\" --hidden %u\nX-Mine=kept"},
        {"the version that runs now",
         head + "Exec=\"" + (root / "1.2.0/bin/tesvano").string() + "\"\n",
         head + "Exec=\"" + stable + "\"\n"},
        {"already the current link", head + "Exec=\"" + stable + "\"\n", std::nullopt},
        {"another program", head + "Exec=/usr/bin/tesvano\n", std::nullopt},
        {"a wrapper of the user's", head + "Exec=sh -c \"" + old + "\"\n", std::nullopt},
        {"another installation", head + "Exec=/elsewhere/0.1.0/bin/tesvano\n", std::nullopt},
        {"relative", head + "Exec=0.1.0/bin/tesvano\n", std::nullopt},
        {"another group's Exec", head + "[Desktop Action quit]\nExec=" + old + "\n", std::nullopt},
        {"an unclosed quote", head + "Exec=\"" + old + "\n", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(service.followingEntry(c.entry), c.expected) << c.name;
    }

    // On disk: rewritten once, with its mode; a link or no installation is left alone.
    EXPECT_EQ(service.followInstallation(), false) << "no entry";
    std::filesystem::create_directories(dir / "autostart");
    test::writeFile(service.entryPath(), cases[0].entry);
    ::chmod(service.entryPath().c_str(), 0600);
    EXPECT_EQ(XdgAutostartLoginItem(dir / "autostart", "tesvano", "/usr/bin/tesvano")
                  .followInstallation(),
              false);
    EXPECT_EQ(test::readFile(service.entryPath()), cases[0].entry);
    EXPECT_EQ(service.followInstallation(), true);
    EXPECT_EQ(test::readFile(service.entryPath()), *cases[0].expected);
    struct stat info {};
    ASSERT_EQ(::stat(service.entryPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(service.followInstallation(), false);
    test::writeFile(dir / "mine.desktop", cases[0].entry);
    std::filesystem::remove(service.entryPath());
    std::filesystem::create_symlink(dir / "mine.desktop", service.entryPath());
    EXPECT_EQ(service.followInstallation(), false);
    EXPECT_EQ(test::readFile(dir / "mine.desktop"), cases[0].entry);

    // Registering writes the stable path.
    std::filesystem::remove(service.entryPath());
    ASSERT_TRUE(service.registerItem());
    EXPECT_NE(test::readFile(service.entryPath()).find("Exec=\"" + stable + "\"\n"),
              std::string::npos);
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
