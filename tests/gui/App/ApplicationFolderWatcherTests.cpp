#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>

#include "Tesvano/App/ApplicationFolderWatcher.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;

// inotify reports on its own time: the cases wait for the callback, never for a fixed span.
TEST(ApplicationFolderWatcherTest, InstallsRemovalsAndFoldersMadeLaterAreSeenOnceQuiet) {
    test::TempDir home;
    test::TempDir system;
    const auto user = home / "share" / "applications";  // not there yet
    std::filesystem::create_directories(home.path() / "share");
    int changes = 0;
    ApplicationFolderWatcher watcher(
        {user, system.path()}, [&] { ++changes; }, 200ms);
    EXPECT_TRUE(
        watcher.watchedFolders().contains(QString::fromStdString((home.path() / "share").string())))
        << "a missing folder is watched through its parent";

    struct Step {
        const char* what;
        std::function<void()> act;
    };
    const Step steps[] = {
        {"the user's folder made", [&] { std::filesystem::create_directories(user); }},
        {"an entry installed there",
         [&] { test::writeFile(user / "new.desktop", "[Desktop Entry]\nType=Application\n"); }},
        {"a package writes many files at once",
         [&] {
             std::filesystem::create_directories(system / "vendor");
             for (int i = 0; i < 20; ++i) {
                 test::writeFile(system / ("app" + std::to_string(i) + ".desktop"), "x");
             }
         }},
        {"an entry in a subfolder made since",
         [&] { test::writeFile(system / "vendor" / "deep.desktop", "x"); }},
        {"an entry removed", [&] { std::filesystem::remove(user / "new.desktop"); }},
    };
    for (const auto& step : steps) {
        const int before = changes;
        step.act();
        ASSERT_TRUE(QTest::qWaitFor([&] { return changes > before; }, 5000)) << step.what;
        // A burst is one rescan: give the rest of it a chance to come in, then nothing more.
        QTest::qWait(400);
        EXPECT_EQ(changes, before + 1) << step.what;
    }
    EXPECT_TRUE(watcher.watchedFolders().contains(QString::fromStdString(user.string())));
}

}  // namespace
}  // namespace tesvano
