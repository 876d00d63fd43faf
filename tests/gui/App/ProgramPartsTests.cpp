#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

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
        "tesvano://status", "--",  "x-y:z"};
    auto parsed = LaunchArguments::parse(words);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->urls,
              (std::vector<std::string>{"tesvano://ping", "tesvano://status", "x-y:z"}));
    EXPECT_FALSE(parsed->isDefaultLaunch());
    EXPECT_TRUE(LaunchArguments::parse(std::vector<std::string>{})->isDefaultLaunch());

    for (const char* bad : {"ping", "://x", "1tesvano://x", "", "-"}) {
        const std::vector<std::string> one{"--", bad};
        auto refused = LaunchArguments::parse(one);
        ASSERT_FALSE(refused) << bad;
        EXPECT_NE(refused.error().find("not a URL"), std::string::npos);
    }
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
    std::expected<void, std::string> handed = std::unexpected("not yet");
    std::thread launch([&] { handed = (*second)->handOver({"tesvano://ping", "tesvano://two"}); });
    const bool done = pumpUntil([&] { return !received.empty(); });
    launch.join();
    ASSERT_TRUE(done);
    EXPECT_TRUE(handed) << handed.error();
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

TEST(QtRuntime, ActionsRunInDueOrderCancelledOnesNeverAndWatchesStopWhenCancelled) {
    QtRuntime runtime;
    std::vector<int> order;
    auto a = runtime.after(Seconds(0.002), [&] { order.push_back(2); });
    auto b = runtime.after(Seconds(0), [&] { order.push_back(1); });
    auto c = runtime.after(Seconds(0), [&] { order.push_back(11); });
    auto cancelled = runtime.after(Seconds(0.001), [&] { order.push_back(99); });
    cancelled.cancel();
    runtime.post(Seconds(-1), [&] { order.push_back(12); });
    ASSERT_TRUE(pumpUntil([&] { return order.size() >= 4; }));
    EXPECT_EQ(order, (std::vector<int>{1, 11, 12, 2}));
    EXPECT_GE(runtime.uptime().count(), 0.002);

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

TEST(QuitSignals, SIGTERMAndSIGINTArriveOnTheMainLoop) {
    QtRuntime runtime;
    std::vector<int> received;
    {
        QuitSignals quit(runtime, [&](int signal) { received.push_back(signal); });
        ASSERT_TRUE(quit.installed());
        ::raise(SIGTERM);
        ::raise(SIGINT);
        ASSERT_TRUE(pumpUntil([&] { return received.size() == 2; }));
    }
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
    struct sigaction current {};
    ::sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL) << "handed back";
}

}  // namespace
}  // namespace tesvano
