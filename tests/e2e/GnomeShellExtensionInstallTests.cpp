// "Install and Enable Extension…" on a GNOME session whose shell does not run: the extension
// is copied and enabled through GNOME's settings, whose service (dconf) runs on the session
// bus. A service started for another home folder than the program's keeps the change where
// neither reads, and without dconf GLib keeps it in memory; the button must then say so
// instead of leaving the extension "not enabled" after every click.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "Platform/TextInput/GnomeShell/GnomeShellExtension.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/TempDir.h"

namespace tesvano::test {
namespace {

namespace fs = std::filesystem;
using platform::GnomeShellExtensionState;

struct Outcome {
    bool installed = false;
    std::string error;
    int state = -1;  // GnomeShellExtensionState after the click
};

std::vector<std::string> homeEnvironment(const fs::path& home) {
    return {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
            "XDG_DATA_HOME=" + (home / ".local/share").string(),
            "XDG_RUNTIME_DIR=" + (home / "run").string()};
}

// What the pane's button does, in a process of its own (GLib keeps its bus and folders for the
// life of a process) with `home` and the session bus at `bus`.
Outcome installAndEnable(const fs::path& home, const std::string& bus, const char* backend) {
    int report[2];
    if (::pipe(report) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        for (const auto& entry : homeEnvironment(home)) {
            ::putenv(::strdup(entry.c_str()));
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        ::setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
        if (backend) {
            ::setenv("GSETTINGS_BACKEND", backend, 1);
        } else {
            ::unsetenv("GSETTINGS_BACKEND");
        }
        platform::SessionGnomeShellExtension extension;
        const auto done = extension.installAndEnable();
        const std::string line = std::string(done ? "1" : "0") + " " +
                                 std::to_string(static_cast<int>(classify(extension.facts()))) +
                                 " " + (done ? std::string() : done.error());
        (void)!::write(report[1], line.data(), line.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    Outcome outcome;
    if (text.size() < 3) {
        ADD_FAILURE() << "the child said nothing";
        return outcome;
    }
    outcome.installed = text[0] == '1';
    outcome.state = std::stoi(text.substr(2));
    const auto space = text.find(' ', 2);
    outcome.error = space == std::string::npos ? "" : text.substr(space + 1);
    return outcome;
}

// Where GNOME's settings keep what the click enables.
enum class Store { serviceOfTheSameHome, serviceOfAnotherHome, memoryOnly };

class GnomeShellExtensionInstall : public testing::TestWithParam<Store> {};

TEST_P(GnomeShellExtensionInstall, TheClickEnablesTheExtensionOrSaysWhyNot) {
    if (auto missing = programsInstalled({"dbus-daemon"}); !missing) {
        GTEST_SKIP() << missing.error();
    }
    if (!fs::exists("/usr/share/glib-2.0/schemas/org.gnome.shell.gschema.xml") ||
        !fs::exists("/usr/libexec/dconf-service")) {
        GTEST_SKIP() << "GNOME Shell's settings or dconf are not installed";
    }
    const Store store = GetParam();
    TempDir home;
    TempDir elsewhere;
    for (const auto* folder : {&home, &elsewhere}) {
        fs::create_directories(folder->path() / "run");
        fs::permissions(folder->path() / "run", fs::perms::owner_all, fs::perm_options::replace);
    }
    // The session bus, and the dconf service it starts, with the program's home or another.
    auto bus = SessionBus::start(
        homeEnvironment(store == Store::serviceOfAnotherHome ? elsewhere.path() : home.path()));
    ASSERT_TRUE(bus) << bus.error();

    const auto outcome = installAndEnable(home.path(), bus.value()->address(),
                                          store == Store::memoryOnly ? "memory" : nullptr);
    EXPECT_TRUE(fs::exists(home / ".local/share/gnome-shell/extensions/tesvano@quorvel.com" /
                           "metadata.json"));
    switch (store) {
        case Store::serviceOfTheSameHome:
            EXPECT_TRUE(outcome.installed) << outcome.error;
            // No shell runs to load it: it waits for the next start of one.
            EXPECT_EQ(outcome.state, static_cast<int>(GnomeShellExtensionState::needsShellRestart));
            break;
        case Store::serviceOfAnotherHome:
            EXPECT_FALSE(outcome.installed);
            EXPECT_NE(outcome.error.find("did not keep"), std::string::npos) << outcome.error;
            EXPECT_EQ(outcome.state, static_cast<int>(GnomeShellExtensionState::disabled));
            break;
        case Store::memoryOnly:
            EXPECT_FALSE(outcome.installed);
            EXPECT_NE(outcome.error.find("in memory only"), std::string::npos) << outcome.error;
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Session, GnomeShellExtensionInstall,
                         testing::Values(Store::serviceOfTheSameHome, Store::serviceOfAnotherHome,
                                         Store::memoryOnly),
                         [](const testing::TestParamInfo<Store>& param) {
                             switch (param.param) {
                                 case Store::serviceOfTheSameHome:
                                     return "SettingsServiceOfTheSameHome";
                                 case Store::serviceOfAnotherHome:
                                     return "SettingsServiceOfAnotherHome";
                                 case Store::memoryOnly:
                                     break;
                             }
                             return "SettingsInMemoryOnly";
                         });

}  // namespace
}  // namespace tesvano::test
