#include "Platform/Updater/StartJudgement.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "Platform/Updater/Installation.h"
#include "tests/support/TempDir.h"

namespace tesvano::platform {
namespace {

namespace fs = std::filesystem;

// The address sanitizer takes a crash signal over to report it, and ends the process its own
// way, so a crash cannot be told from outside there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool crashesAreTheSanitizers = true;
#else
constexpr bool crashesAreTheSanitizers = false;
#endif

TEST(StartJudgement, OnlyAFaultOfItsOwnWhileItsDisplayIsThereCountsAgainstAVersion) {
    struct Case {
        ProcessEnding ending;
        bool displayThere;
        StartEnd expected;
    };
    const Case cases[] = {
        {{0, 0}, true, StartEnd::clean},
        {{0, 0}, false, StartEnd::clean},
        {{3, 0}, true, StartEnd::fault},
        {{127, 0}, true, StartEnd::fault},
        {{1, 0}, false, StartEnd::fromOutside},  // its display went: the session ended
        {{0, SIGSEGV}, true, StartEnd::fault},
        {{0, SIGABRT}, true, StartEnd::fault},
        {{0, SIGBUS}, true, StartEnd::fault},
        {{0, SIGSEGV}, false, StartEnd::fromOutside},
        {{0, SIGKILL}, true, StartEnd::fromOutside},
        {{0, SIGTERM}, true, StartEnd::fromOutside},
        {{0, SIGHUP}, true, StartEnd::fromOutside},
        {{0, SIGINT}, true, StartEnd::fromOutside},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(judgeStartEnd(c.ending, c.displayThere), c.expected)
            << c.ending.describe() << (c.displayThere ? "" : ", no display");
    }
    EXPECT_EQ(ProcessEnding{}.describe(), "ended with status 0");
    EXPECT_EQ((ProcessEnding{0, 9}).describe(), "was ended by signal 9");
}

// A port that takes connections, named as an X display is ("127.0.0.1:N").
class ListeningDisplay {
public:
    ListeningDisplay() {
        for (int number = 40; number < 100 && name_.empty(); ++number) {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(6000 + number));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(fd_, 16) == 0) {
                name_ = "127.0.0.1:" + std::to_string(number);
            } else {
                ::close(fd_);
                fd_ = -1;
            }
        }
    }
    ~ListeningDisplay() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    const std::string& name() const { return name_; }

private:
    int fd_ = -1;
    std::string name_;
};

// How a child that watched its own start on probation ended, and what it noted.
struct Watched {
    ProcessEnding ending;
    std::optional<FaultNote> note;
};

Watched endOnProbation(const fs::path& root, const std::string& display,
                       const std::function<void()>& end) {
    std::error_code ec;
    fs::remove(root / "update-pending.fault", ec);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("DISPLAY", display.c_str(), 1);
        Installation(root).watchOwnStart("1.1");
        end();
        std::exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return {ProcessEnding::fromWaitStatus(status), readFaultNote(root / "update-pending.fault")};
}

TEST(StartJudgement, AVersionOnProbationNotesItsOwnFaultsAndNothingElse) {
    test::TempDir dir;
    ListeningDisplay display;
    ASSERT_FALSE(display.name().empty());
    struct Case {
        const char* name;
        std::function<void()> end;
        ProcessEnding ending;
        bool noted;
        std::string displayName;
    };
    const Case cases[] = {
        {"quits", [] { std::exit(0); }, {0, 0}, false, display.name()},
        {"fails", [] { std::exit(3); }, {3, 0}, true, display.name()},
        {"returns a status from main", [] { std::exit(256 + 4); }, {4, 0}, true, display.name()},
        {"aborts", [] { std::abort(); }, {0, SIGABRT}, true, display.name()},
        {"crashes", [] { ::raise(SIGSEGV); }, {0, SIGSEGV}, true, display.name()},
        {"overflows its stack",
         [] {
             std::function<int(int)> deeper = [&](int n) { return n + deeper(n + 1) + 1; };
             std::exit(deeper(0));
         },
         {0, SIGSEGV},
         true,
         display.name()},
        {"is killed", [] { ::kill(::getpid(), SIGKILL); }, {0, SIGKILL}, false, display.name()},
        {"is asked to end",
         [] { ::kill(::getpid(), SIGTERM); },
         {0, SIGTERM},
         false,
         display.name()},
        {"fails after its display went", [] { std::exit(1); }, {1, 0}, false, ""},
        // A server that shuts down still takes connections: what counts is the connection.
        {"fails after an I/O error on its display",
         [] {
             noteDisplayLost();
             std::exit(1);
         },
         {1, 0},
         false,
         display.name()},
        {"fails once the server hung up its connection",
         [] {
             int ends[2];
             ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
             watchDisplayConnection(ends[0]);
             ::close(ends[1]);
             std::exit(1);
         },
         {1, 0},
         false,
         display.name()},
        {"crashes once the server hung up its connection",
         [] {
             int ends[2];
             ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
             watchDisplayConnection(ends[0]);
             ::send(ends[1], "unread", 6, 0);
             ::close(ends[1]);
             ::raise(SIGSEGV);
         },
         {0, SIGSEGV},
         false,
         display.name()},
        {"fails while its connection is open",
         [] {
             int ends[2];
             ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
             ::send(ends[1], "unread", 6, 0);
             watchDisplayConnection(ends[0]);
             std::exit(1);
         },
         {1, 0},
         true,
         display.name()},
        {"overflows the stack of a thread of its own",
         [] {
             std::thread([] {
                 const ThreadSignalStack signalStack;
                 std::function<int(int)> deeper = [&](int n) { return n + deeper(n + 1) + 1; };
                 std::exit(deeper(0));
             }).join();
         },
         {0, SIGSEGV},
         true,
         display.name()},
        {"fails once confirmed",
         [] {
             stopWatchingOwnStart("1.1");
             std::exit(3);
         },
         {3, 0},
         false,
         display.name()},
    };
    for (const auto& c : cases) {
        if (crashesAreTheSanitizers && c.ending.signal == SIGSEGV) {
            continue;
        }
        SCOPED_TRACE(c.name);
        const auto watched = endOnProbation(dir.path(), c.displayName, c.end);
        EXPECT_EQ(watched.ending, c.ending) << watched.ending.describe();
        ASSERT_EQ(watched.note.has_value(), c.noted);
        if (c.noted) {
            EXPECT_EQ(watched.note->version, "1.1");
            EXPECT_EQ(watched.note->ending, c.ending);
        }
    }
}

// Versions 1.0 (current) and 1.1 installed in `root`.
void installTwoVersions(const fs::path& root) {
    for (const char* version : {"1.0", "1.1"}) {
        fs::create_directories(root / version / "bin");
        std::ofstream(root / version / "bin" / "tesvano") << version;
    }
    fs::create_directory_symlink("1.0", root / "current");
}

TEST(StartJudgement, TheNextStartRollsBackOnlyAfterANotedFault) {
    test::TempDir dir;
    const fs::path root = dir.path();
    installTwoVersions(root);
    Installation installation(root);
    ListeningDisplay display;
    ASSERT_TRUE(installation.switchTo("1.1", "1.0"));
    // Killed during every start: the version stays, however often.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
        endOnProbation(root, display.name(), [] { ::kill(::getpid(), SIGKILL); });
    }
    EXPECT_EQ(installation.currentVersion(), "1.1");
    ASSERT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
    endOnProbation(root, display.name(), [] { std::abort(); });
    EXPECT_EQ(installation.recordedFault(),
              "was ended by signal " + std::to_string(SIGABRT) + " before it confirmed its start");
    EXPECT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::rollBack);
    ASSERT_TRUE(installation.rollBack(*installation.recordedFault()));
    EXPECT_EQ(installation.currentVersion(), "1.0");
    EXPECT_FALSE(installation.recordedFault());
}

TEST(StartJudgement, OnlyWhatTheStartItselfNotedCountsAgainstIt) {
    test::TempDir dir;
    const fs::path root = dir.path();
    installTwoVersions(root);
    Installation installation(root);
    ListeningDisplay display;
    ASSERT_TRUE(installation.switchTo("1.1", "1.0"));
    const auto killedStartsKeepTheVersion = [&] {
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
            endOnProbation(root, display.name(), [] { ::kill(::getpid(), SIGKILL); });
        }
        EXPECT_EQ(installation.currentVersion(), "1.1");
    };

    // A note from before the first start (of a version of that name).
    std::ofstream(root / "update-pending.fault") << "1.1 0 11\n";
    ASSERT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
    EXPECT_FALSE(readFaultNote(root / "update-pending.fault")) << "cleared as the probation began";
    killedStartsKeepTheVersion();

    // A start whose end the relaunch step judged from outside, though it noted a fault.
    ASSERT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
    ASSERT_TRUE(endOnProbation(root, display.name(), [] { std::exit(3); }).note);
    installation.forgetStart("1.1");
    EXPECT_FALSE(installation.recordedFault());
    killedStartsKeepTheVersion();
    EXPECT_TRUE(fs::exists(root / "1.1" / "bin" / "tesvano"));
}

}  // namespace
}  // namespace tesvano::platform
