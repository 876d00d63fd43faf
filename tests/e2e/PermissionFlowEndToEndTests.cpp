// The permission guide on a private X server with a window manager and a private session bus
// (with its accessibility bus): a stand-in settings program, installed under the name of
// GNOME's (or of Cinnamon's, run by an interpreter), is opened at the accessibility panel; the
// guide's panel must sit below its window, follow it and go when it closes; turning assistive
// technologies on from the panel must end the guide and bring back the application that was in
// front.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/TempDir.h"

namespace tesvano::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#if defined(TESVANO_FAKE_SETTINGS) && defined(TESVANO_PERMISSION_FLOW_CHECK)

// How the stand-in settings program is installed: under the name of a desktop's program,
// either as that program itself or as a script run by an interpreter, as cinnamon-settings is
// a python program whose process is python3's.
struct SettingsProgram {
    const char* desktop;  // XDG_CURRENT_DESKTOP
    const char* program;  // what the guide starts
    const char* entry;    // its desktop entry's id
    bool interpreted;
};

void guideThroughTheSettingsProgram(const SettingsProgram& settings) {
    if (auto missing = programsInstalled({"Xvfb", "openbox", "dbus-daemon"}); !missing) {
        GTEST_SKIP() << missing.error();
    }
    if (!fs::exists("/usr/libexec/at-spi-bus-launcher")) {
        GTEST_SKIP() << "the accessibility bus launcher is not installed";
    }
    // The stand-ins' files, in a folder of their own on PATH.
    TempDir programs;
    const char* path = std::getenv("PATH");
    auto session = PrivateSession::start(
        {.environment = {
             std::string("XDG_CURRENT_DESKTOP=") + settings.desktop,
             "PATH=" + (programs / "bin").string() + ":" + (path ? path : "/usr/bin:/bin"),
             "QT_QPA_PLATFORM=xcb",
         }});
    ASSERT_TRUE(session) << session.error();
    const auto data = session.value()->dataHome();
    for (const auto& folder : {programs / "bin", programs / "lib", data / "applications"}) {
        fs::create_directories(folder);
    }
    // The stand-ins: the settings program and another application that is in front.
    const fs::path program = programs / "bin" / settings.program;
    if (settings.interpreted) {
        // The "interpreter" is the stand-in itself: it takes the script's path as its first
        // argument and the panel after it, and its process is named after the interpreter.
        const fs::path interpreter = programs / "lib/python3";
        fs::copy_file(TESVANO_FAKE_SETTINGS, interpreter);
        writeFile(program, "#!" + interpreter.string() + "\n");
        fs::permissions(program, fs::perms::owner_all);
    } else {
        fs::copy_file(TESVANO_FAKE_SETTINGS, program);
    }
    fs::copy_file(TESVANO_FAKE_SETTINGS, programs / "bin/fake-editor");
    writeFile(data / "applications" / (std::string(settings.entry) + ".desktop"),
              std::string("[Desktop Entry]\nType=Application\nName=Settings\nExec=") +
                  settings.program + "\n");
    writeFile(data / "applications/tesvano.desktop",
              "[Desktop Entry]\nType=Application\nName=Tesvano\nExec=tesvano\n");

    auto windowManager = session.value()->startWindowManager({"openbox", "--sm-disable"});
    ASSERT_TRUE(windowManager) << windowManager.error();
    const auto environment = session.value()->environment();
    auto editor = JSONLineProcess::start(
        {(programs / "bin/fake-editor").string(), "--title", "Editor"}, environment);
    ASSERT_TRUE(editor) << editor.error();

    std::vector<std::string> argv = {TESVANO_PERMISSION_FLOW_CHECK, "--editor-pid",
                                     std::to_string(editor.value()->pid())};
    if (const char* dir = std::getenv("TESVANO_SCREENSHOT_DIR"); dir && !settings.interpreted) {
        argv.insert(argv.end(), {"--screenshot", (fs::path(dir) / "permission-guide.png")});
    }
    auto check = JSONLineProcess::start(argv, environment);
    ASSERT_TRUE(check) << check.error();
    std::vector<std::string> passed;
    while (auto line = check.value()->nextLine(60s)) {
        if (!line->is_object()) {
            continue;
        }
        const auto step = line->value("step", std::string());
        EXPECT_TRUE(line->value("ok", false)) << line->dump();
        if (line->value("ok", false)) {
            passed.push_back(step);
        }
    }
    EXPECT_EQ(passed, (std::vector<std::string>{
                          "editor in front", "assistive technologies off", "below", "screenshot",
                          "follows a move", "gone when the window closes", "editor in front again",
                          "below again", "turned on", "ended with the editor in front",
                          "never took the focus"}));
    EXPECT_EQ(check.value()->stop(10s), 0);
}

TEST(PermissionFlowEndToEnd, GuidesThroughTheSettingsProgramAndEndsWithTheGrant) {
    guideThroughTheSettingsProgram({"GNOME", "gnome-control-center", "org.gnome.Settings", false});
}

TEST(PermissionFlowEndToEnd, FindsASettingsProgramThatRunsUnderAnInterpreter) {
    guideThroughTheSettingsProgram({"X-Cinnamon", "cinnamon-settings", "cinnamon-settings", true});
}

#else

TEST(PermissionFlowEndToEnd, GuidesThroughTheSettingsProgramAndEndsWithTheGrant) {
    GTEST_SKIP() << "the guide's tools are not part of this build";
}

#endif

}  // namespace
}  // namespace tesvano::test
