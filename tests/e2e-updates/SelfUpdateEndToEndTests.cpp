// The whole update road on real parts: the appcast updater over Qt Network against a server
// on the loopback interface, the update window under a private Xvfb (its buttons clicked),
// a per-user installation in a temporary folder, and small builds that the updater
// installs and relaunches and that report their version.
#include "tests/e2e-updates/UpdateFixture.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>
#include <tuple>

#include "Platform/Updater/StartJudgement.h"
#include "Tesvano/App/Resources.h"
#include "Tesvano/App/SingleInstance.h"
#include "tests/support/XvfbServer.h"

namespace tesvano::test {
namespace {

// One Xvfb and one QApplication on it for the whole run.
class XvfbApplication final : public ::testing::Environment {
public:
    void SetUp() override {
        auto server = XvfbServer::start();
        if (!server) {
            GTEST_SKIP() << server.error();
        }
        server_ = std::move(*server);
        qputenv("DISPLAY", QByteArray::fromStdString(server_->display()));
        qputenv("QT_QPA_PLATFORM", "xcb");
        static int argc = 1;
        static char name[] = "tesvano_update_e2e_tests";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
        initResources();
    }
    void TearDown() override {
        application_.reset();
        server_.reset();
    }

private:
    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new XvfbApplication);

TEST_F(SelfUpdateTest, EachChannelInstallsItsReleaseAndRelaunchesIntoIt) {
    for (bool beta : {false, true}) {
        SCOPED_TRACE(beta ? "beta" : "stable");
        const std::string version = beta ? "1.3.0-beta.1" : "1.2.0";
        defaults.set("usesBetaChannel", beta);
        makeState();
        checkFinds(version);
        EXPECT_EQ(state->updateController().model().isBetaChannel(), beta);

        std::vector<double> fractions;
        auto watch = state->updateController().model().observe([&] {
            if (phase() == Kind::downloading) {
                fractions.push_back(state->updateController().model().phase().fraction);
            }
        });
        button("install")->click();
        ASSERT_TRUE(
            waitFor([&] { return phase() == Kind::readyToInstall; }, std::chrono::seconds(20)))
            << "phase " << static_cast<int>(phase());
        ASSERT_FALSE(fractions.empty());
        EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
        EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
        // The byte count is published at most once a second: the first chunk at least.
        EXPECT_GT(state->updateController().model().downloadedBytes(), 0u);
        EXPECT_LE(state->updateController().model().downloadedBytes(), archives[version].size());
        EXPECT_EQ(state->updateController().model().expectedBytes(), archives[version].size());
        EXPECT_EQ(platform::Installation(root).currentVersion(), "1.0");

        button("install")->click();  // "Install and Relaunch"
        EXPECT_EQ(terminations, 1);
        EXPECT_EQ(phase(), Kind::installing) << "the program may quit at once";
        ASSERT_TRUE(waitFor([&] { return !reported().empty(); }, std::chrono::seconds(20)));
        EXPECT_EQ(reported(), "{\"version\":\"" + version + "\",\"verdict\":\"confirmed\"}\n");
        EXPECT_EQ(platform::Installation(root).currentVersion(), version);
        EXPECT_FALSE(fs::exists(root / "1.0")) << "the previous version goes once confirmed";

        // Back to the start for the other channel.
        watch.cancel();
        state.reset();
        fs::remove(report);
        fs::remove(root / "current");
        fs::remove_all(root / version);
        installVersionOne();
        terminations = 0;
        startStandIn();
    }
}

TEST_F(SelfUpdateTest, BadDownloadsAreRefusedAndTheRunningVersionStays) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* message;
    };
    const Case cases[] = {
        {"wrong signature",
         [&] {
             std::string forged = archives["1.2.0"];
             forged[forged.size() / 2] ^= 1;
             server.answer("/1.2.0", {forged});
         },
         "The update couldn't be verified. Please try again later."},
        {"truncated download",
         [&] {
             server.answer("/1.2.0", {archives["1.2.0"], LoopbackServer::Mode::truncate});
         },
         "The update couldn't be downloaded. Please check your internet connection and try "
         "again."},
        {"wrong length",
         [&] {
             server.answer("/1.2.0", {archives["1.2.0"], LoopbackServer::Mode::longer});
         },
         "The update couldn't be verified. Please try again later."},
        {"stalling server",
         [&] {
             server.answer("/1.2.0", {archives["1.2.0"], LoopbackServer::Mode::stall});
         },
         "The update couldn't be downloaded. Please check your internet connection and try "
         "again."},
    };
    makeState();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.answer("/Tesvano/appcast-x86_64.xml", {feed});
        server.answer("/1.2.0", {archives["1.2.0"]});
        c.arrange();
        checkFinds("1.2.0");
        button("install")->click();
        ASSERT_TRUE(waitFor([&] { return phase() == Kind::error; }, std::chrono::seconds(15)))
            << "phase " << static_cast<int>(phase());
        EXPECT_EQ(windowText("failureMessage"), QString::fromUtf8(c.message));
        EXPECT_NE(button("close"), nullptr);
        EXPECT_EQ(platform::Installation(root).currentVersion(), "1.0");
        EXPECT_FALSE(fs::exists(root / "1.2.0"));
        EXPECT_TRUE(!fs::exists(dir / "downloads") || fs::is_empty(dir / "downloads"));
        EXPECT_EQ(terminations, 0);
        button("close")->click();
    }
    EXPECT_TRUE(alerts.empty()) << "failures after the offer show in the window only";
}

TEST_F(SelfUpdateTest, RedirectsAreFollowedUpToTenAndOnlyTheLastAnswerCounts) {
    const std::string feedPath = "/Tesvano/appcast-x86_64.xml";
    struct Case {
        std::string path;
        int hops;
        bool arrives;
    };
    const Case cases[] = {{"/1.2.0", 1, true},
                          {"/1.2.0", 5, true},
                          {"/1.2.0", 11, false},
                          {feedPath, 4, true},
                          {feedPath, 16, false}};
    makeState();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " behind " + std::to_string(c.hops) + " redirects");
        server.answer(feedPath, {feed});
        server.answer("/1.2.0", {archives["1.2.0"]});
        server.redirect(c.path, c.hops);
        alerts.clear();
        if (c.path == feedPath && !c.arrives) {
            const int reached = server.hits("/moved" + feedPath);
            state->updateController().checkForUpdates();
            ASSERT_TRUE(waitFor([&] { return !alerts.empty(); }, std::chrono::seconds(10)));
            EXPECT_EQ(alerts[0].informativeText,
                      QStringLiteral("Couldn't check for updates. Please check your internet "
                                     "connection and try again later."));
            EXPECT_EQ(server.hits("/moved" + feedPath), reached);
            continue;
        }
        checkFinds("1.2.0");
        button("install")->click();
        ASSERT_TRUE(
            waitFor([&] { return phase() == Kind::readyToInstall || phase() == Kind::error; },
                    std::chrono::seconds(20)));
        EXPECT_EQ(phase() == Kind::readyToInstall, c.arrives)
            << windowText("failureMessage").toStdString();
        EXPECT_EQ(fs::exists(root / "1.2.0"), c.arrives);
        button(c.arrives ? "later" : "close")->click();
        EXPECT_FALSE(fs::exists(root / "1.2.0"));
    }
}

TEST_F(SelfUpdateTest, LaterOffersAgainAndSkipOffersThatVersionNoMore) {
    makeState();
    checkFinds("1.2.0");
    button("later")->click();
    EXPECT_FALSE(state->updateWindow().window()->isVisible());
    EXPECT_EQ(phase(), Kind::idle);
    checkFinds("1.2.0");
    ASSERT_NE(button("skip"), nullptr);
    button("skip")->click();
    EXPECT_FALSE(state->updateWindow().window()->isVisible());
    state->updateController().checkForUpdates();
    ASSERT_TRUE(waitFor([&] { return !alerts.empty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(alerts[0].message, QStringLiteral("You're up to date."));
    EXPECT_EQ(phase(), Kind::upToDate);
    // A check cancelled by the user reports nothing afterwards.
    alerts.clear();
    server.answer("/Tesvano/appcast-x86_64.xml", {feed, LoopbackServer::Mode::stall});
    state->updateController().checkForUpdates();
    ASSERT_TRUE(waitFor([&] { return phase() == Kind::checking; }, std::chrono::seconds(5)));
    state->updateController().model().dismiss();
    waitFor([] { return false; }, std::chrono::seconds(3));
    EXPECT_TRUE(alerts.empty());
}

TEST_F(SelfUpdateTest, AVersionThatNeverConfirmsIsRolledBackByALaterStartWithoutTheRelaunchStep) {
    switchToNew("1.3.0-beta.1", TESVANO_PROBE_BETA);
    const pid_t step = startRelaunch(standIn);  // it waits for the stand-in
    ::kill(step, SIGKILL);
    EXPECT_EQ(ending(step), 128 + SIGKILL);
    // Started from `current` as the desktop entry does: counted, and it ends unconfirmed.
    const std::string program = (root / "current" / "bin" / "tesvano").string();
    EXPECT_EQ(ending(spawn({program}, {"TESVANO_PROBE_EXIT=1"})), 1);
    EXPECT_EQ(platform::Installation(root).currentVersion(), "1.3.0-beta.1");
    // The next start goes back and hands its launch to the previous version.
    EXPECT_EQ(ending(spawn({program}, {"TESVANO_PROBE_EXIT=1"})), 0);
    EXPECT_EQ(reported(),
              "{\"version\":\"1.3.0-beta.1\",\"verdict\":\"unconfirmed\"}\n"
              "{\"version\":\"1.2.0\",\"verdict\":\"nothing pending\"}\n");
    EXPECT_EQ(platform::Installation(root).currentVersion(), "1.0");
    EXPECT_EQ(platform::Installation(root).failedVersions(), std::set<std::string>{"1.3.0-beta.1"});
    EXPECT_FALSE(fs::exists(root / "1.3.0-beta.1"));
}

TEST_F(SelfUpdateTest, TwoRelaunchStepsAtOnceKeepAGoodVersion) {
    switchToNew("1.3.0-beta.1", TESVANO_PROBE_BETA);
    const pid_t first = startRelaunch(standIn);
    const pid_t second = startRelaunch(standIn);
    endStandIn();
    EXPECT_EQ(ending(first), 0);
    EXPECT_EQ(ending(second), 0);
    // The versions the steps started run on after them: their reports come when they do.
    waitFor(
        [&] {
            const auto lines = reported();
            return std::ranges::count(lines, '\n') >= 2;
        },
        std::chrono::seconds(20));
    // One started it and it confirmed; the other, after it, found nothing pending.
    EXPECT_NE(reported().find("\"confirmed\""), std::string::npos) << reported();
    EXPECT_NE(reported().find("\"nothing pending\""), std::string::npos) << reported();
    EXPECT_EQ(platform::Installation(root).currentVersion(), "1.3.0-beta.1");
    EXPECT_TRUE(platform::Installation(root).failedVersions().empty());
}

TEST_F(SelfUpdateTest, TheProgramHandingOverToARunningCopyIsNoFailure) {
    // The new version is the program itself, and a copy of it already runs from `current`.
    const std::string version = run(std::string(TESVANO_PROGRAM) + " --version").substr(8);
    switchToNew(version, TESVANO_PROGRAM);
    const fs::path home = dir / "home";
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    const std::vector<std::string> session = {
        "HOME=" + home.string(), "XDG_CONFIG_HOME=", "XDG_DATA_HOME=", "XDG_CACHE_HOME=",
        "XDG_RUNTIME_DIR=" + (home / "run").string()};
    const pid_t running = spawn({(root / "current" / "bin" / "tesvano").string()}, session);
    ASSERT_TRUE(waitFor([&] { return fs::exists(home / "run" / "tesvano" / "instance"); },
                        std::chrono::seconds(60)));
    EXPECT_EQ(platform::Installation(root).unconfirmedStarts(), 1) << "it counted its start";

    // The relaunch step's start hands over and ends with status 0 before confirming.
    EXPECT_EQ(ending(startRelaunch(0, session)), 0);
    EXPECT_EQ(platform::Installation(root).currentVersion(), version);
    EXPECT_TRUE(platform::Installation(root).failedVersions().empty());
    EXPECT_TRUE(fs::exists(root / version / "bin" / "tesvano"));
    EXPECT_EQ(::kill(running, 0), 0) << "the running copy runs on";

    // Even rolled back, the folder of a version that runs stays until it has ended.
    ASSERT_TRUE(platform::Installation(root).rollBack("a test"));
    EXPECT_TRUE(fs::exists(root / version / "bin" / "tesvano"));
    ::kill(running, SIGTERM);
    EXPECT_EQ(ending(running), 0) << "it quits normally";
    platform::Installation(root).sweep();
    EXPECT_FALSE(fs::exists(root / version));
}

// How a start of the new version ends before it confirmed, and whether that counts against it.
struct StartEnding {
    const char* name;
    std::string environment;  // for the probe: how it ends
    int signal;               // sent to it once it is on probation; 0: none
    bool rolledBack;
};

class StartEndingTest : public SelfUpdateTest,
                        public ::testing::WithParamInterface<std::tuple<StartEnding, bool>> {};

TEST_P(StartEndingTest, IsJudgedTheSameWithOrWithoutTheRelaunchStep) {
    const auto& [c, watched] = GetParam();
    switchToNew("1.3.0-beta.1", TESVANO_PROBE_BETA);
    const fs::path pidFile = dir / "probe.pid";
    const std::string how = c.signal != 0 ? c.environment + pidFile.string() : c.environment;
    const std::string program = (root / "current" / "bin" / "tesvano").string();
    pid_t started = -1;
    if (watched) {
        started = startRelaunch(standIn, {how});
        endStandIn();
    } else {
        started = spawn({program}, {how});
    }
    if (c.signal != 0) {
        ASSERT_TRUE(waitFor([&] { return !readAll(pidFile).empty(); }, std::chrono::seconds(20)));
        ::kill(static_cast<pid_t>(std::stol(readAll(pidFile))), c.signal);
    }
    // The relaunch step ends once it has decided (and started the previous version for a fault).
    const int status = ending(started);
    if (!watched && c.signal != 0) {
        EXPECT_EQ(status, 128 + c.signal);
    }
    // Then a start from the desktop entry, as at the next login.
    EXPECT_EQ(ending(spawn({program}, {})), 0);
    const std::string lines = reported();
    const std::string last = lines.substr(lines.rfind('{', lines.size() - 2));
    EXPECT_EQ(platform::Installation(root).currentVersion(), c.rolledBack ? "1.0" : "1.3.0-beta.1");
    EXPECT_EQ(last, c.rolledBack ? "{\"version\":\"1.2.0\",\"verdict\":\"nothing pending\"}\n"
                                 : "{\"version\":\"1.3.0-beta.1\",\"verdict\":\"confirmed\"}\n")
        << lines;
    EXPECT_EQ(platform::Installation(root).failedVersions().contains("1.3.0-beta.1"), c.rolledBack);
    EXPECT_EQ(fs::exists(root / "1.3.0-beta.1" / "bin" / "tesvano"), !c.rolledBack)
        << "a version ended from outside is never lost";
}

INSTANTIATE_TEST_SUITE_P(
    Endings, StartEndingTest,
    ::testing::Combine(
        ::testing::Values(StartEnding{"killed", "TESVANO_PROBE_HOLD=", SIGKILL, false},
                          StartEnding{"terminated", "TESVANO_PROBE_HOLD=", SIGTERM, false},
                          StartEnding{"hung_up", "TESVANO_PROBE_HOLD=", SIGHUP, false},
                          StartEnding{"aborts", "TESVANO_PROBE_ABORT=1", 0, true},
                          StartEnding{"fails", "TESVANO_PROBE_EXIT=3", 0, true}),
        ::testing::Bool()),
    [](const auto& instance) {
        return std::string(std::get<0>(instance.param).name) +
               (std::get<1>(instance.param) ? "_underTheRelaunchStep" : "_alone");
    });

// The autostart entry in `home` as an older version wrote it, naming its own folder, with a line
// of the user's.
void writeOldAutostartEntry(const fs::path& home, const fs::path& program) {
    fs::create_directories(home / ".config" / "autostart");
    std::ofstream(home / ".config" / "autostart" / "tesvano.desktop")
        << "[Desktop Entry]\nType=Application\nName=Tesvano\nExec=\"" << program.string()
        << "\"\nX-GNOME-Autostart-Delay=5\n";
}

// Processes running `program` (its real file).
std::vector<pid_t> running(const fs::path& program) {
    std::vector<pid_t> pids;
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(program, ec);
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::error_code ignored;
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            fs::read_symlink(entry.path() / "exe", ignored) == real) {
            pids.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return pids;
}

// Whether `pid`, not our child, has ended with all its threads (and so closed its files): gone,
// or a zombie with no thread left but the first.
bool ended(pid_t pid) {
    const fs::path proc = "/proc/" + std::to_string(pid);
    std::ifstream stat(proc / "stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    const auto state = line.rfind(") ");
    std::error_code ec;
    const auto threads = std::distance(fs::directory_iterator(proc / "task", ec), {});
    return state != std::string::npos && line.substr(state + 2, 1) == "Z" && threads <= 1;
}

class ProgramStartTest : public SelfUpdateTest {
protected:
    ProgramStartTest() {
        version = run(std::string(TESVANO_PROGRAM) + " --version").substr(8);
        switchToNew(version, TESVANO_PROGRAM);
        fs::create_directories(home / "run");
        fs::permissions(home / "run", fs::perms::owner_all);
    }
    std::string entry() { return readAll(home / ".config" / "autostart" / "tesvano.desktop"); }
    // Until the program has passed its start-up check: it then rewrites the entry.
    bool followed() {
        return waitFor(
            [&] {
                const fs::path stable = fs::weakly_canonical(root) / "current/bin/tesvano";
                return entry().find("Exec=\"" + stable.string() + "\"\n") != std::string::npos;
            },
            std::chrono::seconds(60));
    }

    std::string version;
    fs::path home = dir / "home";
    std::vector<std::string> session = {"HOME=" + home.string(),
                                        "XDG_CONFIG_HOME=", "XDG_DATA_HOME=", "XDG_CACHE_HOME=",
                                        "XDG_RUNTIME_DIR=" + (home / "run").string()};
};

TEST_F(ProgramStartTest, TheLoginItemNamesTheCurrentLinkAfterAnUpdateAndAStartFromAVersionFolder) {
    // Written by 1.0, whose folder goes once the update is confirmed.
    writeOldAutostartEntry(home, root / "1.0" / "bin" / "tesvano");
    const pid_t step = startRelaunch(0, session);
    ASSERT_TRUE(followed()) << entry();
    EXPECT_NE(entry().find("\nX-GNOME-Autostart-Delay=5\n"), std::string::npos) << "the rest stays";
    // Confirmed: the relaunch step is done and the previous version goes, with the folder the
    // old entry named.
    EXPECT_EQ(ending(step), 0);
    EXPECT_FALSE(platform::Installation(root).pendingVersion());
    EXPECT_TRUE(waitFor([&] { return !fs::exists(root / "1.0"); }, std::chrono::seconds(10)));
    const auto pids = running(root / version / "bin/tesvano");
    for (const pid_t pid : pids) {
        ::kill(pid, SIGKILL);
    }
    // Until its files (the instance lock) are closed: a zombie, or reaped.
    ASSERT_TRUE(
        waitFor([&] { return std::ranges::all_of(pids, ended); }, std::chrono::seconds(20)));

    // Started from its own folder, with an entry naming a version gone long ago: it follows
    // again.
    writeOldAutostartEntry(home, root / "0.9" / "bin" / "tesvano");
    const pid_t direct = spawn({(root / version / "bin" / "tesvano").string()}, session);
    ASSERT_TRUE(followed()) << entry();
    ::kill(direct, SIGKILL);
    ending(direct);
}

TEST_F(ProgramStartTest, AStartKilledDuringItsCheckDoesNotCostTheVersionWithoutTheRelaunchStep) {
    const std::string program = (root / "current" / "bin" / "tesvano").string();
    writeOldAutostartEntry(home, root / "1.0" / "bin" / "tesvano");
    const pid_t first = spawn({program}, session);
    ASSERT_TRUE(followed()) << entry();
    EXPECT_EQ(platform::Installation(root).pendingVersion(), version) << "still on probation";
    ::kill(first, SIGKILL);
    EXPECT_EQ(ending(first), 128 + SIGKILL);

    // The next start is on probation again, not rolled back, and confirms.
    writeOldAutostartEntry(home, root / "1.0" / "bin" / "tesvano");
    const pid_t second = spawn({program}, session);
    ASSERT_TRUE(followed()) << entry();
    EXPECT_EQ(platform::Installation(root).currentVersion(), version);
    EXPECT_TRUE(waitFor([&] { return !platform::Installation(root).pendingVersion(); },
                        std::chrono::seconds(30)));
    ::kill(second, SIGKILL);
    ending(second);
    EXPECT_EQ(platform::Installation(root).currentVersion(), version);
    EXPECT_TRUE(platform::Installation(root).failedVersions().empty());
    EXPECT_TRUE(fs::exists(root / version / "bin" / "tesvano"));
}

TEST_F(ProgramStartTest, AStartRightAfterAKillRunsAsTheFirstCopy) {
    const std::string program = (root / "current" / "bin" / "tesvano").string();
    const fs::path socket = home / "run" / "tesvano" / "instance";
    const pid_t killed = spawn({program}, session);
    ASSERT_TRUE(waitFor([&] { return fs::exists(socket); }, std::chrono::seconds(60)));
    // Started at once: it may meet the locks of the killed copy, which go a moment later.
    ::kill(killed, SIGKILL);
    const pid_t next = spawn({program}, session);
    EXPECT_EQ(ending(killed), 128 + SIGKILL);
    // It runs and answers later launches (a reopen), where it gave up after 5 s. Until it holds
    // the lock, the launch here takes it for a moment: one more lock that goes while it waits.
    std::unique_ptr<SingleInstance> later;
    ASSERT_TRUE(waitFor(
        [&] {
            auto claimed = SingleInstance::claim(socket.parent_path());
            if (claimed && !(*claimed)->isPrimary()) {
                later = std::move(*claimed);
            }
            return later != nullptr;
        },
        std::chrono::seconds(60)));
    const auto handed = later->handOver({}, std::chrono::seconds(60));
    ASSERT_TRUE(handed) << handed.error();
    EXPECT_EQ(*handed, SingleInstance::HandOver::delivered);
    EXPECT_EQ(::kill(next, 0), 0);
    ::kill(next, SIGTERM);
    EXPECT_EQ(ending(next), 0);
}

// A display on 127.0.0.1 in front of an X server: each connection to it is carried to the
// server and ended when the server ends its side, while the display itself takes connections
// until the test is done. So its server's shutdown is as slow as a real server's may be: only
// the connections tell that it went, never a connect.
class DisplayInFront {
public:
    explicit DisplayInFront(const std::string& serverDisplay)
        : server_("/tmp/.X11-unix/X" + serverDisplay.substr(1)) {
        for (int number = 60; number < 100 && name_.empty(); ++number) {
            listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(6000 + number));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(listener_, 64) == 0) {
                name_ = "127.0.0.1:" + std::to_string(number);
            } else {
                ::close(listener_);
                listener_ = -1;
            }
        }
        if (!name_.empty() && ::pipe2(stop_, O_CLOEXEC) == 0) {
            carrier_ = std::thread([this] { carry(); });
        }
    }
    ~DisplayInFront() {
        if (carrier_.joinable()) {
            [[maybe_unused]] const auto written = ::write(stop_[1], "x", 1);
            carrier_.join();
        }
        for (const int fd : {listener_, stop_[0], stop_[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    // For DISPLAY; empty when no port was free.
    const std::string& name() const { return name_; }

private:
    void carry() {
        std::vector<std::array<int, 2>> pairs;  // a client's end, the server's end
        for (;;) {
            std::vector<pollfd> fds{{stop_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            for (const auto& pair : pairs) {
                fds.push_back({pair[0], POLLIN, 0});
                fds.push_back({pair[1], POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                continue;
            }
            if (fds[0].revents != 0) {
                break;
            }
            std::vector<bool> ended(pairs.size(), false);
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                for (const int side : {0, 1}) {
                    if (ended[i] || fds[2 + 2 * i + side].revents == 0) {
                        continue;
                    }
                    char buffer[65536];
                    const ssize_t n = ::read(pairs[i][side], buffer, sizeof buffer);
                    ended[i] = n <= 0 || ::send(pairs[i][1 - side], buffer,
                                                static_cast<std::size_t>(n), MSG_NOSIGNAL) != n;
                }
            }
            for (std::size_t i = pairs.size(); i-- > 0;) {
                if (ended[i]) {
                    ::close(pairs[i][0]);
                    ::close(pairs[i][1]);
                    pairs.erase(pairs.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
            if ((fds[1].revents & POLLIN) != 0) {
                const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                std::memcpy(address.sun_path, server_.c_str(), server_.size() + 1);
                if (client >= 0 &&
                    ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                    pairs.push_back({client, server});
                } else {
                    ::close(client);
                    ::close(server);
                }
            }
        }
        for (const auto& pair : pairs) {
            ::close(pair[0]);
            ::close(pair[1]);
        }
    }

    std::string server_;
    std::string name_;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    std::thread carrier_;
};

// The session ends during the start-up check: its X server is stopped with SIGTERM, as at a
// log-out, and its display still takes connections while the program ends over its broken
// connection.
class SessionEndTest : public ProgramStartTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SessionEndTest, AnXServerEndedDuringTheStartUpCheckKeepsTheVersion) {
    const bool watched = GetParam();
    auto sessionServer = XvfbServer::start();
    ASSERT_TRUE(sessionServer) << sessionServer.error();
    DisplayInFront display((*sessionServer)->display());
    ASSERT_FALSE(display.name().empty());
    auto own = session;
    own.push_back("DISPLAY=" + display.name());
    writeOldAutostartEntry(home, root / "1.0" / "bin" / "tesvano");
    const pid_t started =
        watched ? startRelaunch(0, own) : spawn({(root / "current/bin/tesvano").string()}, own);
    ASSERT_TRUE(followed()) << entry();
    // Running: it listens for later launches.
    ASSERT_TRUE(waitFor([&] { return fs::exists(home / "run" / "tesvano" / "instance"); },
                        std::chrono::seconds(60)));
    ASSERT_EQ(platform::Installation(root).pendingVersion(), version) << "still on probation";
    ::kill((*sessionServer)->pid(), SIGTERM);
    // The program ends with status 1, as Qt ends it; the relaunch step once it has judged.
    EXPECT_EQ(ending(started), watched ? 0 : 1);

    platform::Installation installation(root);
    EXPECT_FALSE(platform::readFaultNote(root / "update-pending.fault"))
        << "nothing noted against it";
    EXPECT_FALSE(installation.recordedFault());
    // The next session's starts, the first of them killed: the version stays.
    EXPECT_EQ(installation.checkStartup(version),
              platform::Installation::StartupVerdict::probation);
    EXPECT_EQ(installation.checkStartup(version),
              platform::Installation::StartupVerdict::probation);
    EXPECT_EQ(installation.currentVersion(), version);
    EXPECT_TRUE(installation.failedVersions().empty());
    EXPECT_TRUE(fs::exists(root / version / "bin" / "tesvano"));
}

INSTANTIATE_TEST_SUITE_P(Starts, SessionEndTest, ::testing::Bool(), [](const auto& instance) {
    return instance.param ? "underTheRelaunchStep" : "alone";
});

}  // namespace
}  // namespace tesvano::test
