// The whole update road on real parts: the appcast updater over Qt Network against a server
// on the loopback interface, the update window under a private Xvfb (its buttons clicked),
// a per-user installation in a temporary folder, and small builds that the updater
// installs and relaunches and that report their version.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "Platform/Updater/AppcastUpdater.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/QtRuntime.h"
#include "Tesvano/App/Resources.h"
#include "Tesvano/Updates/QtHttpTransport.h"
#include "Tesvano/Updates/UpdateWindowView.h"
#include "tests/support/FakeAppServices.h"
#include "tests/support/TempDir.h"
#include "tests/support/XvfbServer.h"

namespace tesvano::test {
namespace {

namespace fs = std::filesystem;
using Kind = UpdatePhase::Kind;
using Clock = std::chrono::steady_clock;

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

// HTTP/1.1 on 127.0.0.1, one thread per connection, each path answered as the test says.
class LoopbackServer {
public:
    enum class Mode { whole, truncate, longer, stall };
    struct Answer {
        std::string body;
        Mode mode = Mode::whole;
    };

    LoopbackServer() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 16);
        socklen_t length = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        ::pipe2(stop_, O_CLOEXEC);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~LoopbackServer() {
        ::write(stop_[1], "x", 1);
        acceptor_.join();
        for (auto& t : connections_) {
            t.join();
        }
        ::close(listen_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    void answer(const std::string& path, Answer a) {
        std::lock_guard lock(mutex_);
        answers_[path] = std::move(a);
    }

private:
    void acceptLoop() {
        for (;;) {
            pollfd fds[2] = {{listen_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            ::poll(fds, 2, -1);
            if (fds[1].revents != 0) {
                return;
            }
            const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                connections_.emplace_back([this, client] { serve(client); });
            }
        }
    }

    void serve(int client) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(client);
                return;
            }
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const auto start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        Answer a;
        bool found = false;
        {
            std::lock_guard lock(mutex_);
            if (auto it = answers_.find(path); it != answers_.end()) {
                a = it->second;
                found = true;
            }
        }
        if (!found) {
            send(client,
                 "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            ::close(client);
            return;
        }
        std::string body = a.body;
        if (a.mode == Mode::longer) {
            body += std::string(64, 'x');
        }
        send(client,
             "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n");
        if (a.mode == Mode::truncate) {
            send(client, body.substr(0, body.size() / 2));
        } else if (a.mode == Mode::stall) {
            send(client, body.substr(0, 100));
            pollfd fd{stop_[0], POLLIN, 0};
            ::poll(&fd, 1, 60'000);  // until the test ends
        } else {
            send(client, body);
        }
        ::close(client);
    }

    static void send(int fd, const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
    }

    int listen_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> connections_;
    std::mutex mutex_;
    std::map<std::string, Answer> answers_;
};

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) {
            out += buffer;
        }
        if (::pclose(pipe) != 0) {
            ADD_FAILURE() << "failed: " << command << "\n" << out;
        }
    }
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

std::string quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

class SelfUpdateTest : public ::testing::Test, protected FakeAppServicesWithShortcuts {
protected:
    SelfUpdateTest() {
        ::setenv("TESVANO_PROBE_REPORT", report.c_str(), 1);
        fs::create_directories(root / "1.0" / "bin");
        fs::copy_file(TESVANO_PROBE_STABLE, root / "1.0" / "bin" / "tesvano");
        fs::create_directory_symlink("1.0", root / "current");
        const std::string sign = TESVANO_SIGN_TOOL;
        publicKey = run(sign + " generate-key " + quoted(dir / "release.key"));
        run(sign + " generate-key " + quoted(dir / "other.key"));
        // The two releases, packed and put into the feed as scripts/release does.
        for (const auto& [version, probe, channel] :
             {std::tuple{"1.2.0", TESVANO_PROBE_STABLE, ""},
              std::tuple{"1.3.0-beta.1", TESVANO_PROBE_BETA, "beta"}}) {
            const fs::path stage = dir / "stage" / ("tesvano-" + std::string(version));
            fs::create_directories(stage / "bin");
            fs::copy_file(probe, stage / "bin" / "tesvano");
            const fs::path archive = dir / ("tesvano-" + std::string(version) + ".tar.gz");
            run("tar -czf " + quoted(archive) + " -C " + quoted(dir / "stage") + " tesvano-" +
                version);
            std::ifstream in(archive, std::ios::binary);
            archives[version].assign(std::istreambuf_iterator<char>(in), {});
            std::string options = " --date 2026-12-01T10:00:00Z";
            if (*channel) {
                options += " --channel " + std::string(channel);
            }
            run(sign + " add-to-feed " + quoted(dir / "feed.xml") + " " +
                quoted(dir / "release.key") + " " + quoted(archive) + " " + version + " " +
                server.url("/" + std::string(version)) + options);
            run(sign + " add-to-feed " + quoted(dir / "forged.xml") + " " +
                quoted(dir / "other.key") + " " + quoted(archive) + " " + version + " " +
                server.url("/" + std::string(version)) + options);
        }
        std::ifstream feedIn(dir / "feed.xml");
        feed.assign(std::istreambuf_iterator<char>(feedIn), {});
        server.answer("/Tesvano/appcast-x86_64.xml", {feed});
        for (const auto& [version, bytes] : archives) {
            server.answer("/" + version, {bytes});
        }
        standIn = ::fork();
        if (standIn == 0) {
            ::execlp("sleep", "sleep", "120", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    ~SelfUpdateTest() override {
        state.reset();
        endStandIn();
    }

    // The running program stands for itself by a process that the relaunch waits for.
    void endStandIn() {
        if (standIn > 0) {
            ::kill(standIn, SIGKILL);
            ::waitpid(standIn, nullptr, 0);
            standIn = -1;
        }
    }

    AppState& makeState() {
        AppServices s = appServices(runtime);
        s.updateFeedURL = server.url("/Tesvano/appcast-x86_64.xml");
        s.makeUpdater =
            [this](platform::UserDriver& driver,
                   platform::UpdaterDelegate& delegate) -> std::unique_ptr<platform::Updater> {
            platform::AppcastUpdater::Options options;
            options.currentVersion = "1.0";
            options.publicKey = platform::decodePublicKey(publicKey);
            options.installation =
                platform::Installation::containing(root / "current" / "bin" / "tesvano");
            options.downloadFolder = dir / "downloads";
            options.stallTimeout = platform::Seconds(2);
            options.relaunch = [this](const fs::path& executable) {
                return platform::spawnRelaunch(executable, standIn);
            };
            options.terminate = [this] {
                ++terminations;
                endStandIn();
            };
            return std::make_unique<platform::AppcastUpdater>(runtime, defaults, transport, driver,
                                                              delegate, options);
        };
        state = std::make_unique<AppState>(std::move(s));
        state->makeUpdateContent = [this](std::function<void()> close) -> QWidget* {
            return new UpdateWindowView(*state, std::move(close));
        };
        state->presentAlert = [this](const AppState::Alert& alert) { alerts.push_back(alert); };
        state->start();
        return *state;
    }

    bool waitFor(const std::function<bool()>& done, std::chrono::seconds timeout) {
        const auto until = Clock::now() + timeout;
        while (!done()) {
            if (Clock::now() > until) {
                return false;
            }
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    Kind phase() { return state->updateController().model().phase().kind; }
    QPushButton* button(const char* name) {
        QWidget* window = state->updateWindow().window();
        return window ? window->findChild<QPushButton*>(QString::fromLatin1(name)) : nullptr;
    }
    QString windowText(const char* name) {
        auto* label = state->updateWindow().window()->findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QString();
    }
    // A check by hand that finds `version` and opens the window on it.
    void checkFinds(const std::string& version) {
        state->updateController().checkForUpdates();
        ASSERT_TRUE(waitFor([&] { return phase() == Kind::found; }, std::chrono::seconds(10)))
            << "phase " << static_cast<int>(phase());
        EXPECT_EQ(state->updateController().model().availableVersion(), version);
        ASSERT_NE(state->updateWindow().window(), nullptr);
        EXPECT_TRUE(state->updateWindow().window()->isVisible());
    }
    std::string reported() {
        std::ifstream in(report);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempDir dir;
    fs::path root = dir.path() / "opt" / "tesvano";
    fs::path report = dir.path() / "report.jsonl";
    LoopbackServer server;
    std::string publicKey;
    std::map<std::string, std::string> archives;
    std::string feed;
    pid_t standIn = -1;
    int terminations = 0;
    std::vector<AppState::Alert> alerts;

    QtRuntime runtime;
    QtHttpTransport transport;
    std::unique_ptr<AppState> state;
};

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
        fs::create_directories(root / "1.0" / "bin");
        fs::copy_file(TESVANO_PROBE_STABLE, root / "1.0" / "bin" / "tesvano");
        fs::create_directory_symlink("1.0", root / "current");
        terminations = 0;
        standIn = ::fork();
        if (standIn == 0) {
            ::execlp("sleep", "sleep", "120", static_cast<char*>(nullptr));
            ::_exit(127);
        }
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
             std::ifstream in(dir / "forged.xml");
             server.answer("/Tesvano/appcast-x86_64.xml",
                           {std::string(std::istreambuf_iterator<char>(in), {})});
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

}  // namespace
}  // namespace tesvano::test
