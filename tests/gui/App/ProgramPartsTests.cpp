#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

#include "Tesvano/App/DataLock.h"
#include "Tesvano/App/LaunchArguments.h"
#include "Tesvano/App/QtRuntime.h"
#include "Tesvano/App/QuitSignals.h"
#include "Tesvano/App/SingleInstance.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using platform::Seconds;

// Runs the event loop (blocking, as the program's does) until `done`, for at most a few
// seconds of real time.
bool pumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

TEST(LaunchArguments, URLsInOrderQtOptionsLeftAloneAndOtherWordsRefused) {
    const std::vector<std::string> words{
        "-platform",        "xcb", "tesvano://ping", "--style=fusion", "-reverse",
        "tesvano://status", "--",  "TESVANO:lock"};
    auto parsed = LaunchArguments::parse(words);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->urls,
              (std::vector<std::string>{"tesvano://ping", "tesvano://status", "TESVANO:lock"}));
    EXPECT_FALSE(parsed->isDefaultLaunch());
    EXPECT_TRUE(LaunchArguments::parse(std::vector<std::string>{})->isDefaultLaunch());

    for (const char* bad : {"ping", "://x", "1tesvano://x", "", "-"}) {
        const std::vector<std::string> one{"--", bad};
        auto refused = LaunchArguments::parse(one);
        ASSERT_FALSE(refused) << bad;
        EXPECT_NE(refused.error().find("not a URL"), std::string::npos);
    }
    // Commands travel only under our own scheme.
    for (const char* foreign : {"https://unlock", "mailto:lock", "x-y:z", "tesvano2://lock",
                                "tesvan:lock", "file:///tesvano:lock"}) {
        const std::vector<std::string> one{foreign};
        auto refused = LaunchArguments::parse(one);
        ASSERT_FALSE(refused) << foreign;
        EXPECT_NE(refused.error().find("not a tesvano: URL"), std::string::npos) << foreign;
    }
}

TEST(LaunchArguments, HelpAndVersionAreAskedForAndOtherOptionsRefused) {
    struct Case {
        std::vector<std::string> words;
        bool help;
        bool version;
    };
    const Case asked[] = {
        {{"--help"}, true, false},
        {{"-h"}, true, false},
        {{"--version"}, false, true},
        {{"-V"}, false, true},
        {{"-v", "-platform", "xcb"}, false, true},
        {{"-name", "x", "--display=:1", "-sync"}, false, false},
        {{"--", "--help"}, false, false},
    };
    for (const auto& c : asked) {
        auto parsed = LaunchArguments::parse(c.words);
        if (c.words.front() == "--") {
            EXPECT_FALSE(parsed) << "after --, a word is a URL";
            continue;
        }
        ASSERT_TRUE(parsed) << c.words.front() << ": " << parsed.error();
        EXPECT_EQ(parsed->showHelp, c.help) << c.words.front();
        EXPECT_EQ(parsed->showVersion, c.version) << c.words.front();
    }
    for (const char* unknown : {"--frobnicate", "-x", "--helpme", "--version=2", "-hv"}) {
        const std::vector<std::string> one{unknown};
        auto refused = LaunchArguments::parse(one);
        ASSERT_FALSE(refused) << unknown;
        EXPECT_NE(refused.error().find(std::string("unknown option \"") + unknown),
                  std::string::npos)
            << refused.error();
    }
    // The help names the command reference of the installation that holds the program.
    test::TempDir dir;
    std::filesystem::create_directories(dir / "share/doc/tesvano/url-scheme");
    std::filesystem::create_directories(dir / "bin");
    const auto folder = LaunchArguments::documentationFolder(dir / "bin");
    EXPECT_EQ(folder, dir / "share/doc/tesvano/url-scheme");
    const auto usage = LaunchArguments::usage(folder);
    EXPECT_NE(usage.find((dir / "share/doc/tesvano/url-scheme/\n").string()), std::string::npos)
        << usage;
    EXPECT_NE(usage.find("-V, --version"), std::string::npos);
}

TEST(InstanceMessage, RoundTripsAndTellsPartsFromGarbage) {
    const std::vector<std::string> urls{"tesvano://a?b=c", "", std::string("x\0y\n", 4)};
    const std::string bytes = InstanceMessage::encode(urls);
    auto whole = InstanceMessage::decode(bytes);
    ASSERT_EQ(whole.status, InstanceMessage::Status::complete);
    EXPECT_EQ(whole.urls, urls);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_EQ(InstanceMessage::decode(std::string_view(bytes).substr(0, cut)).status,
                  InstanceMessage::Status::incomplete)
            << cut;
    }
    EXPECT_EQ(InstanceMessage::decode(InstanceMessage::encode({})).status,
              InstanceMessage::Status::complete);
    EXPECT_EQ(InstanceMessage::decode(bytes + "!").status, InstanceMessage::Status::invalid);
    EXPECT_EQ(InstanceMessage::decode("HTTP/1.1").status, InstanceMessage::Status::invalid);
    std::string huge = "TSV1";
    huge += std::string("\xFF\xFF\xFF\xFF", 4);
    EXPECT_EQ(InstanceMessage::decode(huge).status, InstanceMessage::Status::invalid);
}

TEST(SingleInstance, TheSecondLaunchHandsItsURLsToTheFirstAndAnOpenFolderIsClosed) {
    test::TempDir dir;
    const auto folder = dir / "tesvano";
    std::filesystem::create_directory(folder);
    ::chmod(folder.c_str(), 0755);

    auto first = SingleInstance::claim(folder);
    ASSERT_TRUE(first) << first.error();
    EXPECT_TRUE((*first)->isPrimary());
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    auto second = SingleInstance::claim(folder);
    ASSERT_TRUE(second) << second.error();
    EXPECT_FALSE((*second)->isPrimary());

    std::vector<std::vector<std::string>> received;
    ASSERT_TRUE((*first)->listen(
        [&](std::vector<std::string> urls) { received.push_back(std::move(urls)); }));
    std::expected<SingleInstance::HandOver, std::string> handed = std::unexpected("not yet");
    std::thread launch([&] { handed = (*second)->handOver({"tesvano://ping", "tesvano://two"}); });
    const bool done = pumpUntil([&] { return !received.empty(); });
    launch.join();
    ASSERT_TRUE(done);
    ASSERT_TRUE(handed) << handed.error();
    EXPECT_EQ(*handed, SingleInstance::HandOver::delivered);
    EXPECT_EQ(received.front(), (std::vector<std::string>{"tesvano://ping", "tesvano://two"}));

    std::thread reopen([&] { handed = (*second)->handOver({}); });
    pumpUntil([&] { return received.size() == 2; });
    reopen.join();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(received.back().empty()) << "a reopen";

    // Once the first is gone, the next launch is the primary.
    first->reset();
    auto third = SingleInstance::claim(folder);
    ASSERT_TRUE(third);
    EXPECT_TRUE((*third)->isPrimary());
}

TEST(SingleInstance, WhatTheSenderReportsIsWhatHappensToItsMessage) {
    test::TempDir dir;
    auto first = SingleInstance::claim(dir / "tesvano");
    auto second = SingleInstance::claim(dir / "tesvano");
    ASSERT_TRUE(first && second);
    std::vector<std::vector<std::string>> delivered;
    int withdrawn = 0;
    bool room = true;
    SingleInstance::Receiver receiver;
    receiver.admit = [&](const std::vector<std::string>&) { return room; };
    receiver.deliver = [&](std::vector<std::string> urls) { delivered.push_back(urls); };
    receiver.withdraw = [&](const std::vector<std::string>&) { ++withdrawn; };
    ASSERT_TRUE((*first)->listen(std::move(receiver)));
    const std::vector<std::string> command{"tesvano://set-app-rule?bundle=a&mode=ignore"};

    // The running program is busy until the sender gave up: the command never runs.
    auto handed = (*second)->handOver(command, std::chrono::milliseconds(300));
    EXPECT_FALSE(handed);
    ASSERT_TRUE(pumpUntil([&] { return withdrawn == 1; }));
    QEventLoop settle;
    QTimer::singleShot(100, &settle, &QEventLoop::quit);
    settle.exec();
    EXPECT_TRUE(delivered.empty()) << "a sender that reported failure left nothing behind";

    // Its retry, answered in time, runs once.
    std::thread retry([&] { handed = (*second)->handOver(command); });
    const bool ran = pumpUntil([&] { return !delivered.empty(); });
    retry.join();
    ASSERT_TRUE(ran);
    EXPECT_TRUE(handed) << handed.error();
    EXPECT_EQ(delivered, std::vector<std::vector<std::string>>{command});

    // A program with too much waiting refuses, and the sender says so.
    room = false;
    std::atomic<bool> answered = false;
    std::thread refused([&] {
        handed = (*second)->handOver(command);
        answered = true;
    });
    pumpUntil([&] { return answered.load(); });
    refused.join();
    ASSERT_FALSE(handed);
    EXPECT_NE(handed.error().find("too many commands waiting"), std::string::npos);
    EXPECT_EQ(delivered.size(), 1u);
}

TEST(SingleInstance, ALaunchMeetingTheLocksOfACopyThatJustEndedRunsInItsPlace) {
    test::TempDir dir;
    auto killed = SingleInstance::claim(dir / "tesvano");
    ASSERT_TRUE(killed && (*killed)->isPrimary());
    // What a killed copy leaves: its socket, which nobody answers, and (for a moment) its lock.
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (*killed)->socketPath().string();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(stale);

    auto next = SingleInstance::claim(dir / "tesvano");
    ASSERT_TRUE(next);
    ASSERT_FALSE((*next)->isPrimary());
    std::expected<SingleInstance::HandOver, std::string> handed = std::unexpected("not yet");
    std::thread launch(
        [&] { handed = (*next)->handOver({"tesvano://ping"}, std::chrono::seconds(30)); });
    // Not for the outcome, only so that the lock goes while the launch retries.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    killed->reset();
    launch.join();
    ASSERT_TRUE(handed) << handed.error();
    EXPECT_EQ(*handed, SingleInstance::HandOver::becamePrimary);
    ASSERT_TRUE((*next)->isPrimary());

    // It is the running copy now: it listens in place of the stale socket, and a later launch
    // hands over to it.
    std::vector<std::vector<std::string>> received;
    ASSERT_TRUE((*next)->listen([&](std::vector<std::string> urls) { received.push_back(urls); }));
    auto later = SingleInstance::claim(dir / "tesvano");
    ASSERT_TRUE(later);
    EXPECT_FALSE((*later)->isPrimary());
    std::thread reopen([&] { handed = (*later)->handOver({}); });
    const bool delivered = pumpUntil([&] { return !received.empty(); });
    reopen.join();
    ASSERT_TRUE(delivered);
    ASSERT_TRUE(handed) << handed.error();
    EXPECT_EQ(*handed, SingleInstance::HandOver::delivered);
}

// Sets environment variables for one test and puts them back.
class ScopedEnvironment {
public:
    void set(const char* name, const std::optional<std::string>& value) {
        if (!saved_.contains(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(SingleInstance, TheFolderIsTheUsersOwnAndNeverAShared) {
    test::TempDir dir;
    const auto own = dir / "run";
    const auto open = dir / "open";
    const auto foreign = dir / "foreign";
    for (const auto& [folder, mode] :
         {std::pair{own, 0700}, std::pair{open, 0777}, std::pair{foreign, 0700}}) {
        std::filesystem::create_directory(folder);
        ::chmod(folder.c_str(), static_cast<mode_t>(mode));
    }
    const bool canGiveAway = ::chown(foreign.c_str(), 65534, 65534) == 0;
    const auto cache = dir / "cache";

    struct Case {
        std::optional<std::string> runtime;
        std::filesystem::path expected;
    };
    std::vector<Case> cases{
        {own.string(), own / "tesvano"},
        {std::nullopt, cache / "tesvano/instance"},
        {"relative/run", cache / "tesvano/instance"},
        {(dir / "missing").string(), cache / "tesvano/instance"},
        {open.string(), cache / "tesvano/instance"},
    };
    if (canGiveAway) {
        cases.push_back({foreign.string(), cache / "tesvano/instance"});
    }
    for (const auto& c : cases) {
        ScopedEnvironment environment;
        environment.set("XDG_RUNTIME_DIR", c.runtime);
        environment.set("XDG_CACHE_HOME", cache.string());
        EXPECT_EQ(SingleInstance::defaultFolder(), c.expected) << c.runtime.value_or("(unset)");
    }
}

TEST(SingleInstance, WhatOthersPlantInTheOldSharedFallbackCannotStopAStart) {
    // The program once fell back to /tmp/tesvano-<uid>, where anybody can take the name.
    const std::filesystem::path shared = "/tmp/tesvano-" + std::to_string(::getuid());
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(shared, ec))) {
        GTEST_SKIP() << shared << " exists already";
    }
    test::TempDir home;
    for (const std::string planted : {"folder", "link", "file"}) {
        if (planted == "folder") {
            std::filesystem::create_directory(shared);
            ::chmod(shared.c_str(), 0777);
        } else if (planted == "link") {
            std::filesystem::create_symlink("/", shared);
        } else {
            test::writeFile(shared, "x");
        }
        // Owned by somebody else where we are allowed to say so.
        [[maybe_unused]] const int given = ::lchown(shared.c_str(), 65534, 65534);
        {
            ScopedEnvironment environment;
            environment.set("XDG_RUNTIME_DIR", std::nullopt);
            environment.set("XDG_CACHE_HOME", std::nullopt);
            environment.set("HOME", home.path().string());
            auto claimed = SingleInstance::claim(SingleInstance::defaultFolder());
            ASSERT_TRUE(claimed) << planted << ": " << claimed.error();
            EXPECT_TRUE((*claimed)->isPrimary()) << planted;
            EXPECT_EQ((*claimed)->socketPath().string().rfind(home.path().string(), 0), 0u);
        }
        std::filesystem::remove_all(shared, ec);
    }
}

TEST(DataLock, OneHolderAtATimeAndALinkIsNotFollowed) {
    test::TempDir dir;
    const auto lockFile = DataLock::pathFor(dir / "tesvano/settings.json");
    EXPECT_EQ(lockFile, dir / "tesvano/instance.lock");

    auto first = DataLock::acquire(lockFile);
    ASSERT_TRUE(first) << first.error();
    ASSERT_NE(*first, nullptr);
    auto second = DataLock::acquire(lockFile);
    ASSERT_TRUE(second) << second.error();
    EXPECT_EQ(*second, nullptr) << "held by the first";

    first->reset();
    auto third = DataLock::acquire(lockFile);
    ASSERT_TRUE(third);
    EXPECT_NE(*third, nullptr) << "free once the first is gone";

    const auto planted = dir / "planted/instance.lock";
    std::filesystem::create_directories(planted.parent_path());
    std::filesystem::create_symlink(dir / "elsewhere", planted);
    EXPECT_FALSE(DataLock::acquire(planted));
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

TEST(QtRuntime, ActionsRunInDueOrderCancelledOnesNeverAndWatchesStopWhenCancelled) {
    QtRuntime runtime;
    std::vector<int> order;
    // Far enough ahead that a loaded machine cannot let the later posts fall due after it.
    auto a = runtime.after(Seconds(0.2), [&] { order.push_back(2); });
    auto b = runtime.after(Seconds(0), [&] { order.push_back(1); });
    auto c = runtime.after(Seconds(0), [&] { order.push_back(11); });
    auto cancelled = runtime.after(Seconds(0.1), [&] { order.push_back(99); });
    cancelled.cancel();
    runtime.post(Seconds(-1), [&] { order.push_back(12); });
    ASSERT_TRUE(pumpUntil([&] { return order.size() >= 4; }));
    EXPECT_EQ(order, (std::vector<int>{1, 11, 12, 2}));
    EXPECT_GE(runtime.uptime().count(), 0.2);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int reads = 0;
    auto watch = runtime.watchReadable(fds[0], [&] {
        char byte;
        if (::read(fds[0], &byte, 1) == 1) {
            ++reads;
        }
    });
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_TRUE(pumpUntil([&] { return reads == 1; }));
    watch.cancel();
    ASSERT_EQ(::write(fds[1], "y", 1), 1);
    bool later = false;
    runtime.post(Seconds(0.01), [&] { later = true; });
    ASSERT_TRUE(pumpUntil([&] { return later; }));
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(runtime.watchCount(), 0u) << "dropped before the loop slept again";
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(QuitSignals, SIGTERMSIGINTAndSIGHUPArriveOnTheMainLoop) {
    QtRuntime runtime;
    std::vector<int> received;
    {
        QuitSignals quit(runtime, [&](int signal) { received.push_back(signal); });
        ASSERT_TRUE(quit.installed());
        ::raise(SIGTERM);
        ::raise(SIGINT);
        ::raise(SIGHUP);
        ASSERT_TRUE(pumpUntil([&] { return received.size() == 3; }));
    }
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
    for (const int signal : {SIGTERM, SIGHUP}) {
        struct sigaction current {};
        ::sigaction(signal, nullptr, &current);
        EXPECT_EQ(current.sa_handler, SIG_DFL) << "handed back";
    }
}

}  // namespace
}  // namespace tesvano
