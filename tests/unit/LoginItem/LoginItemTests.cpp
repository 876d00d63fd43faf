#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

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

// Found at the entry's place at start: read without blocking, none of it taken for ours.
TEST(LoginItem, AnythingButARegularEntryIsNotOursAndNeverBlocks) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const fs::path root = dir / "opt";
    fs::create_directories(root / "0.1.0" / "bin");
    const std::string old = (root / "0.1.0/bin/tesvano").string();
    test::writeFile(dir / "mine.desktop", "[Desktop Entry]\nExec=\"" + old + "\"\n");
    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> plants{
        {"fifo", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"link", [&](const fs::path& p) { fs::create_symlink(dir / "mine.desktop", p); }},
        {"link to a fifo",
         [&](const fs::path& p) {
             ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
             fs::create_symlink(dir / "fifo", p);
         }},
        {"folder", [](const fs::path& p) { fs::create_directory(p); }},
    };
    for (const auto& [name, plant] : plants) {
        SCOPED_TRACE(name);
        fs::remove_all(dir / "autostart");
        fs::remove(dir / "fifo");
        fs::create_directories(dir / "autostart");
        XdgAutostartLoginItem service(dir / "autostart", "tesvano",
                                      (root / "current/bin/tesvano").string(), root);
        plant(service.entryPath());
        EXPECT_EQ(service.status(), XdgAutostartLoginItem::notRegistered);
        EXPECT_EQ(service.followInstallation(), false);
        EXPECT_EQ(test::readFile(dir / "mine.desktop"), "[Desktop Entry]\nExec=\"" + old + "\"\n");
        // Switching it on puts an entry of ours in its place, or says why it cannot.
        const auto registered = service.registerItem();
        EXPECT_EQ(registered.has_value(), name != "folder");
        EXPECT_EQ(service.status(), registered ? XdgAutostartLoginItem::enabled
                                               : XdgAutostartLoginItem::notRegistered);
    }
    // A regular entry that cannot be read is still there to remove.
    if (::geteuid() != 0) {
        XdgAutostartLoginItem service(dir / "autostart", "tesvano", "/usr/bin/tesvano");
        ASSERT_TRUE(service.registerItem());
        ::chmod(service.entryPath().c_str(), 0);
        EXPECT_EQ(service.status(), XdgAutostartLoginItem::enabled);
    }
}

// A temporary name taken by a link (or a second name of another file) before a rewrite: the
// file it names keeps its text and mode, and the entry is a file of its own.
TEST(LoginItem, ARewriteNeverWritesThroughWhatStandsAtItsTemporaryName) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const fs::path root = dir / "opt";
    fs::create_directories(root / "0.1.0" / "bin");
    fs::create_directories(dir / "autostart");
    const std::string stable = (root / "current/bin/tesvano").string();
    XdgAutostartLoginItem service(dir / "autostart", "tesvano", stable, root);
    const std::string entry =
        "[Desktop Entry]\nExec=\"" + (root / "0.1.0/bin/tesvano").string() + "\"\n";
    fs::path temporary = service.entryPath();
    temporary += ".tmp";
    for (const bool hard : {false, true}) {
        SCOPED_TRACE(hard ? "hard link" : "link");
        const fs::path victim = dir / "elsewhere";
        test::writeFile(victim, "secret\n");
        ::chmod(victim.c_str(), 0600);
        test::writeFile(service.entryPath(), entry);
        fs::remove(temporary);
        hard ? fs::create_hard_link(victim, temporary) : fs::create_symlink(victim, temporary);

        EXPECT_EQ(service.followInstallation(), true);
        EXPECT_EQ(test::readFile(victim), "secret\n");
        struct stat info {};
        ASSERT_EQ(::stat(victim.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(service.entryPath())));
        EXPECT_NE(test::readFile(service.entryPath()).find(stable), std::string::npos);
        EXPECT_FALSE(fs::exists(fs::symlink_status(temporary)));

        hard ? fs::create_hard_link(victim, temporary) : fs::create_symlink(victim, temporary);
        ASSERT_TRUE(service.registerItem());
        EXPECT_EQ(test::readFile(victim), "secret\n");
        fs::remove(victim);
    }
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
