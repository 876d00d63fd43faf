// The program itself, started as the user would, on a private X server: the hand-over of a
// second launch, the Settings window that opens when there is no icon, and the ways it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Platform/Defaults/Defaults.h"
#include "TesvanoKit/Rules/RuleStore.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "tests/support/X11Test.h"

// Last: Xlib's macros (None, Bool) would break the test framework's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace tesvano::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Checks `done` every 20 ms until it holds or `timeout` passes.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return waitUntil(every(20ms), done, timeout);
}

class ProgramTest : public X11Test {
protected:
    void SetUp() override {
#ifndef TESVANO_PROGRAM
        GTEST_SKIP() << "the program is not part of this build";
#else
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        for (const char* sub : {"config", "data", "cache", "run"}) {
            fs::create_directories(home_ / sub);
        }
        ::chmod((home_ / "run").c_str(), 0700);
        x_ = openClient();
        ASSERT_NE(x_, nullptr);
        // Windows of the program come and go while we look at them.
        previousHandler_ = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
#endif
    }

    void TearDown() override {
        for (pid_t pid : children_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        children_.clear();
        if (x_ != nullptr) {
            XSetErrorHandler(previousHandler_);
        }
        X11Test::TearDown();
    }

    platform::FileDefaults settings() {
        return platform::FileDefaults(home_ / "config" / "tesvano" / "settings.json");
    }
    fs::path logOf(pid_t pid) const {
        auto it = logs_.find(pid);
        return it != logs_.end() ? it->second : fs::path();
    }

    // `changed` replaces variables of the same name ("NAME=value").
    pid_t launch(const std::vector<std::string>& arguments = {},
                 const std::vector<std::string>& changed = {}) {
#ifdef TESVANO_PROGRAM
        std::vector<std::string> words{TESVANO_PROGRAM};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<std::string> variables{
            "DISPLAY=" + display(),
            "HOME=" + home_.path().string(),
            "XDG_CONFIG_HOME=" + (home_ / "config").string(),
            "XDG_DATA_HOME=" + (home_ / "data").string(),
            "XDG_CACHE_HOME=" + (home_ / "cache").string(),
            "XDG_RUNTIME_DIR=" + (home_ / "run").string(),
            "QT_QPA_PLATFORM=xcb",
            "TESVANO_LOG=stderr",
        };
        if (const char* path = std::getenv("PATH")) {
            variables.push_back(std::string("PATH=") + path);
        }
        for (const auto& variable : changed) {
            const auto name = variable.substr(0, variable.find('=') + 1);
            std::erase_if(variables, [&](const std::string& v) { return v.starts_with(name); });
            variables.push_back(variable);
        }
        std::vector<char*> argv;
        for (auto& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& variable : variables) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);

        const fs::path log = home_ / ("launch-" + std::to_string(++launches_) + ".log");
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Dies with the test, however the test ends.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) {
                ::_exit(127);
            }
            const int in = ::open("/dev/null", O_RDONLY);
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
                ::dup2(out, 2) < 0) {
                ::_exit(127);
            }
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        EXPECT_GT(pid, 0);
        if (pid > 0) {
            children_.push_back(pid);
            logs_[pid] = log;
        }
        return pid;
#else
        (void)arguments;
        (void)changed;
        return -1;
#endif
    }

    // The exit status once the process ends within `timeout`; none while it runs.
    std::optional<int> waitExit(pid_t pid, std::chrono::milliseconds timeout) {
        int status = 0;
        const bool ended =
            waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout);
        if (!ended) {
            return std::nullopt;
        }
        std::erase(children_, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    bool running(pid_t pid) {
        return ::waitpid(pid, nullptr, WNOHANG) == 0;
    }

    std::string log(pid_t pid) const {
        return readFile(logOf(pid));
    }

    // The running program listens for later launches once it is up.
    bool waitUntilReady(std::chrono::milliseconds timeout = 15s) {
        return waitFor([&] { return fs::exists(home_ / "run" / "tesvano" / "instance"); }, timeout);
    }

    // The mapped Settings window, found by the role the program gives it.
    std::optional<Window> settingsWindow() {
        XSync(x_, False);
        return findSettings(DefaultRootWindow(x_), 0);
    }

    std::optional<Window> findSettings(Window parent, int depth) {
        Window root = 0;
        Window up = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(x_, parent, &root, &up, &children, &count) == 0) {
            return std::nullopt;
        }
        std::optional<Window> found;
        const Atom role = XInternAtom(x_, "WM_WINDOW_ROLE", False);
        for (unsigned i = 0; i < count && !found; ++i) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(x_, children[i], &attributes) == 0 ||
                attributes.map_state != IsViewable) {
                continue;
            }
            XTextProperty text{};
            if (XGetTextProperty(x_, children[i], &text, role) != 0 && text.value != nullptr) {
                if (std::string(reinterpret_cast<char*>(text.value)) == "tesvano-settings") {
                    found = children[i];
                }
                XFree(text.value);
            }
            if (!found && depth < 2) {
                found = findSettings(children[i], depth + 1);
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
        return found;
    }

    // What the title bar's close button sends.
    void closeWindow(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(x_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(x_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(x_, window, False, NoEventMask, &event);
        XFlush(x_);
    }

    TempDir home_;
    Display* x_ = nullptr;
    XErrorHandler previousHandler_ = nullptr;
    std::vector<pid_t> children_;
    std::map<pid_t, fs::path> logs_;
    int launches_ = 0;
};

TEST_F(ProgramTest, ASecondLaunchHandsItsURLToTheRunningOneAndExits) {
    const pid_t first = launch();
    ASSERT_TRUE(waitUntilReady()) << log(first);

    // It ends while the first runs on, not when the first quits.
    const pid_t second = launch({"tesvano://ping"});
    EXPECT_EQ(waitExit(second, 15s), 0) << log(second);
    EXPECT_TRUE(waitFor(
        [&] {
            return log(first).find("URL command received: tesvano://ping") != std::string::npos;
        },
        5s))
        << log(first);
    EXPECT_TRUE(running(first));

    const pid_t bad = launch({"ping"});
    EXPECT_EQ(waitExit(bad, 5s), 2);
    EXPECT_NE(log(bad).find("not a URL"), std::string::npos) << log(bad);
}

TEST_F(ProgramTest, HelpAndVersionPrintAndExitAndAnUnknownOptionIsRefused) {
    const std::tuple<const char*, int, const char*> cases[] = {
        {"--help", 0, "Usage: tesvano"},
        {"-h", 0, "Usage: tesvano"},
        {"--version", 0, "Tesvano "},
        {"--frobnicate", 2, "unknown option \"--frobnicate\""},
    };
    for (const auto& [option, status, says] : cases) {
        const pid_t program = launch({option});
        EXPECT_EQ(waitExit(program, 10s), status) << option << ": " << log(program);
        EXPECT_NE(log(program).find(says), std::string::npos) << option << ": " << log(program);
    }
    EXPECT_FALSE(fs::exists(home_ / "run" / "tesvano" / "instance")) << "nothing was started";
    EXPECT_FALSE(settingsWindow().has_value());
}

TEST_F(ProgramTest, ACommandWhileNoneRunsReturnsOnceTakenAndTesvanoGoesOn) {
    // As xdg-open runs the entry's Exec and waits for it to end.
    settings().set("apiEnabled", true);
    const pid_t command = launch({"tesvano://ping"});
    EXPECT_EQ(waitExit(command, 20s), 0) << log(command);
    EXPECT_NE(log(command).find("URL command received: tesvano://ping"), std::string::npos)
        << log(command);
    ASSERT_TRUE(waitUntilReady(1s));

    // Tesvano went on in the background (its log still goes where the first launch's went).
    const pid_t quit = launch({"tesvano://quit"});
    EXPECT_EQ(waitExit(quit, 5s), 0) << log(quit);
    EXPECT_TRUE(waitFor(
        [&] {
            return log(command).find("URL command received: tesvano://quit") != std::string::npos;
        },
        5s))
        << log(command);
}

TEST_F(ProgramTest, ACopyThatCannotReachTheRunningOneLeavesItsSettingsAlone) {
    settings().set("apiEnabled", true);
    const pid_t first = launch();
    ASSERT_TRUE(waitUntilReady()) << log(first);
    const fs::path file = home_ / "config" / "tesvano" / "settings.json";
    // The first writes the configuration it started with a moment after it is ready.
    ASSERT_TRUE(
        waitFor([&] { return readFile(file).find("lockConfiguration") != std::string::npos; }, 10s))
        << log(first);
    const std::string before = readFile(file);

    // Another runtime folder: the socket of the first is out of sight.
    fs::create_directories(home_ / "run2");
    ::chmod((home_ / "run2").c_str(), 0700);
    const pid_t second = launch({"tesvano://set-app-rule?bundle=org.example.app&mode=ignore"},
                                {"XDG_RUNTIME_DIR=" + (home_ / "run2").string()});
    EXPECT_EQ(waitExit(second, 10s), 1) << log(second);
    EXPECT_NE(log(second).find("another Tesvano is already running"), std::string::npos)
        << log(second);
    EXPECT_EQ(log(second).find("URL command received"), std::string::npos);
    EXPECT_EQ(readFile(file), before);
    EXPECT_TRUE(running(first));
}

TEST_F(ProgramTest, AChangeJustBeforeTheEndIsOnDiskHoweverTheProgramEnds) {
    struct Ending {
        const char* name;
        std::function<void(pid_t)> end;
    };
    const std::vector<Ending> endings{
        {"SIGTERM", [](pid_t program) { ASSERT_EQ(::kill(program, SIGTERM), 0); }},
        {"SIGHUP", [](pid_t program) { ASSERT_EQ(::kill(program, SIGHUP), 0); }},
        {"the X connection breaks",
         [this](pid_t) {
             const auto window = settingsWindow();
             ASSERT_TRUE(window.has_value());
             XKillClient(x_, *window);
             XSync(x_, False);
         }},
    };
    const fs::path file = home_ / "config" / "tesvano" / "settings.json";
    for (const Ending& ending : endings) {
        fs::remove(file);
        settings().set("apiEnabled", true);
        // Settings open at launch: a window of the program's own X connection.
        settings().set("menuBarIconHidden", true);
        const pid_t program = launch();
        ASSERT_TRUE(waitUntilReady()) << log(program);
        ASSERT_TRUE(waitFor([&] { return settingsWindow().has_value(); }, 15s)) << log(program);
        const pid_t command = launch({"tesvano://set-app-rule?bundle=org.example.app&mode=ignore"});
        EXPECT_EQ(waitExit(command, 5s), 0) << log(command);
        ASSERT_TRUE(waitFor(
            [&] { return log(program).find("URL command received") != std::string::npos; }, 5s));
        // Well within the second the delayed write waits.
        ending.end(program);
        EXPECT_TRUE(waitExit(program, 10s).has_value()) << ending.name << log(program);
        auto stored = settings();
        EXPECT_NE(RuleStore(stored, "lockConfiguration").load().appRule("org.example.app"), nullptr)
            << ending.name << "\n"
            << log(program);
    }
}

TEST_F(ProgramTest, ASettingsFolderThatCannotHoldTheLockStartsAndKeepsChangesInMemory) {
    settings().set("apiEnabled", true);
    const fs::path folder = home_ / "config" / "tesvano";
    // The lock file cannot be made, as in a read-only or full folder (even for root).
    fs::create_directories(folder / "instance.lock" / "in-the-way");
    const std::string before = readFile(folder / "settings.json");

    const pid_t program = launch();
    ASSERT_TRUE(waitUntilReady()) << log(program);
    EXPECT_NE(log(program).find("cannot be kept"), std::string::npos) << log(program);
    const pid_t command = launch({"tesvano://set-app-rule?bundle=org.example.app&mode=ignore"});
    EXPECT_EQ(waitExit(command, 5s), 0) << log(command);
    ASSERT_TRUE(waitFor(
        [&] { return log(program).find("URL command received") != std::string::npos; }, 5s));
    EXPECT_EQ(log(program).find("disabled"), std::string::npos) << "the settings were read";
    ASSERT_EQ(::kill(program, SIGTERM), 0);
    EXPECT_EQ(waitExit(program, 10s), 0) << log(program);
    EXPECT_EQ(readFile(folder / "settings.json"), before) << "kept in memory only";
}

TEST_F(ProgramTest, WithTheIconHiddenSettingsOpenAboutASecondAfterLaunch) {
    settings().set("menuBarIconHidden", true);
    const auto started = Clock::now();
    const pid_t program = launch();
    ASSERT_TRUE(waitFor([&] { return settingsWindow().has_value(); }, 15s)) << log(program);
    EXPECT_GE(Clock::now() - started, 900ms);
}

TEST_F(ProgramTest, LaunchedAtLoginSettingsStayClosedUntilAReopen) {
    settings().set("menuBarIconHidden", true);
    fs::create_directories(home_ / "config" / "autostart");
    writeFile(home_ / "config" / "autostart" / "tesvano.desktop",
              "[Desktop Entry]\nType=Application\nName=Tesvano\nExec=tesvano\n");
    const pid_t program = launch();
    ASSERT_TRUE(waitUntilReady()) << log(program);
    EXPECT_FALSE(waitFor([&] { return settingsWindow().has_value(); }, 2500ms));

    // A later launch without URLs is a reopen: Settings come forward.
    const pid_t again = launch();
    EXPECT_EQ(waitExit(again, 5s), 0) << log(again);
    EXPECT_TRUE(waitFor([&] { return settingsWindow().has_value(); }, 5s)) << log(program);
}

TEST_F(ProgramTest, SIGTERMEndsTheProgramEvenWithTheIconHidden) {
    settings().set("menuBarIconHidden", true);
    const pid_t program = launch();
    ASSERT_TRUE(waitUntilReady()) << log(program);
    ASSERT_EQ(::kill(program, SIGTERM), 0);
    EXPECT_EQ(waitExit(program, 10s), 0) << log(program);
}

TEST_F(ProgramTest, WithTheIconHiddenClosingSettingsDoesNotQuit) {
    settings().set("menuBarIconHidden", true);
    const pid_t program = launch();
    std::optional<Window> window;
    ASSERT_TRUE(waitFor(
        [&] {
            window = settingsWindow();
            return window.has_value();
        },
        15s))
        << log(program);
    closeWindow(*window);
    ASSERT_TRUE(waitFor([&] { return !settingsWindow().has_value(); }, 5s));

    // Still there, and still answering.
    const pid_t ping = launch({"tesvano://ping"});
    EXPECT_EQ(waitExit(ping, 5s), 0) << log(ping);
    EXPECT_TRUE(
        waitFor([&] { return log(program).find("URL command received") != std::string::npos; }, 5s))
        << log(program);
    EXPECT_TRUE(running(program));
}

TEST_F(ProgramTest, AReplyReachesTheHandlerOfTheCallersScheme) {
    // A caller's own scheme, handled by a script that writes down what it was given.
    const fs::path replies = home_ / "replies.txt";
    const fs::path script = home_ / "testcb-handler";
    writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + replies.string() + "'\n");
    ::chmod(script.c_str(), 0700);
    writeFile(home_ / "data" / "applications" / "testcb-handler.desktop",
              "[Desktop Entry]\nType=Application\nName=Test callback\nExec=" + script.string() +
                  " %u\nMimeType=x-scheme-handler/testcb;\nNoDisplay=true\n");
    writeFile(home_ / "config" / "mimeapps.list",
              "[Default Applications]\nx-scheme-handler/testcb=testcb-handler.desktop\n");
    settings().set("apiEnabled", true);

    const pid_t program = launch();
    ASSERT_TRUE(waitUntilReady()) << log(program);
    const pid_t caller = launch({"tesvano://ping?x-success=testcb://ok"});
    EXPECT_EQ(waitExit(caller, 5s), 0) << log(caller);
    ASSERT_TRUE(waitFor([&] { return fs::exists(replies); }, 10s)) << log(program);
    EXPECT_EQ(readFile(replies).substr(0, 11), "testcb://ok") << readFile(replies);
}

}  // namespace
}  // namespace tesvano::test
