// What the end-to-end tests of updates share: a server on the loopback interface, a signed
// feed of two releases (small builds that report their version), a per-user installation in a
// temporary folder, and the program's state with its update window on a private Xvfb.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSslKey>
#include <QSslServer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "Platform/Updater/AppcastUpdater.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/QtRuntime.h"
#include "Tesvano/Updates/QtHttpTransport.h"
#include "Tesvano/Updates/UpdateWindowView.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeAppServices.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace tesvano::test {

namespace fs = std::filesystem;
using Kind = UpdatePhase::Kind;

// An https site on 127.0.0.2, standing for a remote one: its certificate is trusted by this
// process. It answers on the main thread's loop, which the tests run while they wait.
class RemoteSite {
public:
    RemoteSite() {
        QFile file(QStringLiteral(TESVANO_REMOTE_SITE_PEM));
        file.open(QIODevice::ReadOnly);
        const QByteArray pem = file.readAll();
        const auto certificates = QSslCertificate::fromData(pem);
        QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
        trusted.addCaCertificates(certificates);
        QSslConfiguration::setDefaultConfiguration(trusted);
        QSslConfiguration own = QSslConfiguration::defaultConfiguration();
        own.setLocalCertificate(certificates.value(0));
        own.setPrivateKey(QSslKey(pem.mid(pem.indexOf("-----BEGIN EC")), QSsl::Ec));
        server_.setSslConfiguration(own);
        server_.listen(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, [this] {
            while (auto* socket = server_.nextPendingConnection()) {
                auto request = std::make_shared<QByteArray>();
                QObject::connect(socket, &QIODevice::readyRead, socket, [this, socket, request] {
                    *request += socket->readAll();
                    if (request->contains("\r\n\r\n")) {
                        socket->write(response(request->split(' ').value(1).toStdString()));
                        socket->disconnectFromHost();
                    }
                });
                QObject::connect(socket, &QAbstractSocket::disconnected, socket,
                                 &QObject::deleteLater);
            }
        });
    }
    std::string url(const std::string& path) const {
        return "https://127.0.0.2:" + std::to_string(server_.serverPort()) + path;
    }
    // `path` answers with `body`, or with a redirect when that is an address.
    void answer(const std::string& path, const std::string& body) { answers_[path] = body; }

private:
    QByteArray response(const std::string& path) const {
        const std::string body = answers_.contains(path) ? answers_.at(path) : "";
        const std::string head = !answers_.contains(path) ? "404 Not Found\r\n"
                                 : body.starts_with("http")
                                     ? "302 Found\r\nLocation: " + body + "\r\n"
                                     : "200 OK\r\n";
        return QByteArray::fromStdString("HTTP/1.1 " + head +
                                         "Content-Length: " + std::to_string(body.size()) +
                                         "\r\nConnection: close\r\n\r\n" + body);
    }

    QSslServer server_;
    std::map<std::string, std::string> answers_;
};

inline std::string run(const std::string& command) {
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

inline std::string quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

class SelfUpdateTest : public ::testing::Test, protected FakeAppServicesWithShortcuts {
protected:
    SelfUpdateTest() {
        ::setenv("TESVANO_PROBE_REPORT", report.c_str(), 1);
        installVersionOne();
        const std::string sign = TESVANO_SIGN_TOOL;
        publicKey = run(sign + " generate-key " + quoted(dir / "release.key"));
        run(sign + " generate-key " + quoted(dir / "other.key"));
        // The two releases, packed and put into the feed as scripts/release does.
        addRelease(dir / "feed.xml", "1.2.0", TESVANO_PROBE_STABLE, true);
        addRelease(dir / "feed.xml", "1.3.0-beta.1", TESVANO_PROBE_BETA, true, "--channel beta");
        feed = readAll(dir / "feed.xml");
        server.answer("/Tesvano/appcast-x86_64.xml", {feed});
        feedAddress = server.url("/Tesvano/appcast-x86_64.xml");
        startStandIn();
    }

    // The installation as the installer leaves it: version 1.0 current, and recorded.
    void installVersionOne() {
        fs::create_directories(root / "1.0" / "bin");
        fs::copy_file(TESVANO_PROBE_STABLE, root / "1.0" / "bin" / "tesvano");
        fs::create_directory_symlink("1.0", root / "current");
        std::ofstream(root / platform::Installation::recordName) << "1.0\n";
    }

    void startStandIn() {
        standIn = ::fork();
        if (standIn == 0) {
            ::execl("/bin/sleep", "sleep", "120", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    // `binary` put in as `version` and `current` switched to it, as an update leaves things
    // before it relaunches.
    void switchToNew(const std::string& version, const fs::path& binary) {
        const fs::path unpacked = dir / "unpacked" / version;
        fs::create_directories(unpacked / "bin");
        fs::copy_file(binary, unpacked / "bin" / "tesvano");
        ASSERT_TRUE(platform::Installation(root).adopt(unpacked, version));
        ASSERT_TRUE(platform::Installation(root).switchTo(version, "1.0"));
    }
    // Starts `words` with `environment` ("NAME=value") added to ours.
    static pid_t spawn(std::vector<std::string> words,
                       const std::vector<std::string>& environment) {
        auto variables = mergedEnvironment(environment);
        pid_t pid = -1;
        ::posix_spawn(&pid, words[0].c_str(), nullptr, nullptr, pointers(words).data(),
                      pointers(variables).data());
        return pid;
    }
    // The relaunch step as an update starts it, once `waitFor` has ended.
    pid_t startRelaunch(pid_t waitFor, const std::vector<std::string>& environment = {}) const {
        return spawn({TESVANO_RELAUNCH_HELPER, root.string(), std::to_string(waitFor), "20", "--"},
                     environment);
    }
    // How `pid` ended: its status, or 128 and the signal.
    static int ending(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // A release of `binary` (a file to copy, or the program's content itself when `isPath`
    // is false) packed and added to `feedFile` as scripts/release does; `options` are more
    // words for the signing tool; `extra` may add members to the tar file before it is
    // compressed, and `compressed` change the compressed file before it is signed.
    void addRelease(const fs::path& feedFile, const std::string& version, const std::string& binary,
                    bool isPath, const std::string& options = "",
                    const std::function<void(const fs::path& tar)>& extra = {},
                    const std::function<void(const fs::path& archive)>& compressed = {}) {
        const fs::path stage = dir / "stage" / version / ("tesvano-" + version);
        fs::remove_all(stage);
        fs::create_directories(stage / "bin");
        if (isPath) {
            fs::copy_file(binary, stage / "bin" / "tesvano");
        } else {
            std::ofstream(stage / "bin" / "tesvano") << binary;
            fs::permissions(stage / "bin" / "tesvano",
                            fs::perms::owner_all | fs::perms::group_read);
        }
        // A link inside the version, as releases with shared libraries have.
        fs::create_symlink("tesvano", stage / "bin" / "tesvano-link");
        const fs::path tar = dir / ("tesvano-" + version + ".tar");
        const fs::path archive = tar.string() + ".gz";
        run("tar -cf " + quoted(tar) + " -C " + quoted(stage.parent_path()) + " tesvano-" +
            version);
        if (extra) {
            extra(tar);
        }
        run("gzip -nf " + quoted(tar));
        if (compressed) {
            compressed(archive);
        }
        std::ifstream in(archive, std::ios::binary);
        archives[version].assign(std::istreambuf_iterator<char>(in), {});
        run(std::string(TESVANO_SIGN_TOOL) + " add-to-feed " + quoted(feedFile) + " " +
            quoted(dir / "release.key") + " " + quoted(archive) + " " + version + " " +
            server.url("/" + version) + " --date 2026-12-01T10:00:00Z " + options);
        server.answer("/" + version, {archives[version]});
    }
    // The signed part of the release feed, signed again with `key` (a file of the signing tool).
    std::string resigned(const std::string& body, const std::string& key) {
        const auto secret = platform::decodeSecretKey(run("head -n1 " + quoted(dir / key)));
        EXPECT_TRUE(secret);
        return platform::signFeed(body, *secret);
    }
    std::string feedBody() {
        return std::string(feed.substr(0, feed.rfind(platform::feedSignaturePrefix)));
    }
    static std::string readAll(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
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
        s.updateFeedURL = feedAddress;
        s.makeUpdater =
            [this](platform::UpdateEvents& events,
                   platform::UpdaterDelegate& delegate) -> std::unique_ptr<platform::Updater> {
            platform::AppcastUpdater::Options options;
            options.currentVersion = "1.0";
            options.publicKey = platform::decodePublicKey(publicKey);
            options.installation = platform::Installation::containing(executable);
            options.downloadFolder = dir / "downloads";
            options.stallTimeout = platform::Seconds(2);
            options.unpackLimits = unpackLimits;
            options.relaunch = [this](const platform::Installation& installation) {
                platform::RelaunchRequest request;
                request.helper = TESVANO_RELAUNCH_HELPER;
                request.root = installation.root();
                request.waitFor = standIn;
                request.probation = platform::Seconds(20);
                return platform::spawnRelaunch(request);
            };
            options.terminate = [this] {
                ++terminations;
                endStandIn();
            };
            return std::make_unique<platform::AppcastUpdater>(runtime, defaults, transport, events,
                                                              delegate, options);
        };
        state = std::make_unique<AppState>(std::move(s));
        state->makeUpdateContent = [this](std::function<void()> close) -> QWidget* {
            view = new UpdateWindowView(*state, std::move(close));
            return view;
        };
        state->presentAlert = [this](const AppState::Alert& alert) { alerts.push_back(alert); };
        state->start();
        return *state;
    }

    bool waitFor(const std::function<bool()>& done, std::chrono::seconds timeout) {
        const auto pause = every(std::chrono::milliseconds(5));
        const auto pump = [&pause] {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            pause();
        };
        return waitUntil(pump, done, timeout);
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
    // The running program's own file, from which the updater finds its installation.
    fs::path executable = root / "current" / "bin" / "tesvano";
    fs::path report = dir.path() / "report.jsonl";
    LoopbackServer server;
    std::string feedAddress;  // the feed this build checks
    std::string publicKey;
    std::map<std::string, std::string> archives;
    std::string feed;
    pid_t standIn = -1;
    int terminations = 0;
    platform::ArchiveLimits unpackLimits;
    std::vector<AppState::Alert> alerts;

    QtRuntime runtime;
    QtHttpTransport transport;
    std::unique_ptr<AppState> state;
    QPointer<UpdateWindowView> view;
};

}  // namespace tesvano::test
