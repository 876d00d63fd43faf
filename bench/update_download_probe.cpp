// Memory and interface-thread stalls while the updater fetches a 255 MiB archive over
// loopback with the real Qt transport: from the click on Install until it is unpacked and ready
// (download, signature check, unpacking). Prints the added peak memory and the longest time the
// thread's event loop did not turn. With --cancel, how long Cancel and Quit take to answer
// while the archive is unpacked: the random one, and one whose folder declares 1000 MiB the
// reader only skips. --busy N keeps N processes spinning meanwhile (a loaded machine).
//   update_download_probe [MiB] [--busy N] [--cancel]
//   (default 255 MiB; the archive is random, so it does not shrink)
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Platform/Defaults/Defaults.h"
#include "Platform/Updater/AppcastUpdater.h"
#include "Tesvano/App/QtRuntime.h"
#include "Tesvano/Updates/QtHttpTransport.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TarBuilder.h"
#include "tests/support/TempDir.h"

namespace {

using namespace tesvano;
using namespace tesvano::platform;
namespace fs = std::filesystem;

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::string(field).size() + 1));
        }
    }
    return -1;
}

// Accepts the update and stops once it is ready to install (or has failed).
class Events final : public UpdateEvents {
public:
    void checkStarted(std::function<void()>) override {}
    void updateFound(const AppcastItem&, bool, std::function<void(UpdateChoice)> reply) override {
        install = [reply] { reply(UpdateChoice::install); };
        QCoreApplication::exit(0);
    }
    void noUpdateFound(std::function<void()> ack) override {
        std::fprintf(stderr, "no update found\n");
        ack();
        QCoreApplication::exit(1);
    }
    void failed(const UpdaterError& error, std::function<void()> ack) override {
        std::fprintf(stderr, "update failed: %s\n", error.description.c_str());
        ack();
        QCoreApplication::exit(1);
    }
    void downloadStarted(std::function<void()> cancelling) override {
        cancel = std::move(cancelling);
    }
    void downloadSizeKnown(std::uint64_t) override {}
    void downloadReceived(std::uint64_t length) override { received += length; }
    void unpacking(double fraction) override {
        if (fraction == 0.0) {
            downloaded = timer.elapsed();
            if (onUnpacking) {
                onUnpacking();
            }
        }
    }
    void readyToInstall(std::function<void(UpdateChoice)>) override { QCoreApplication::exit(0); }
    void installing() override {}
    void sessionEnded() override {
        if (onEnded) {
            onEnded();
        }
    }

    std::function<void()> install;
    std::function<void()> cancel;
    std::function<void()> onUnpacking;
    std::function<void()> onEnded;
    std::uint64_t received = 0;
    QElapsedTimer timer;
    qint64 downloaded = 0;
};

class Feed final : public UpdaterDelegate {
public:
    std::set<std::string> allowedChannels() const override { return {}; }
    std::string feedURLString() const override { return url; }
    std::string url;
};

}  // namespace

// Processes that only spin, ended with the probe.
class BusyLoops {
public:
    explicit BusyLoops(int count) {
        for (int i = 0; i < count; ++i) {
            const pid_t child = ::fork();
            if (child == 0) {
                for (;;) {
                    asm volatile("");
                }
            }
            children_.push_back(child);
        }
    }
    ~BusyLoops() {
        for (pid_t child : children_) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }

private:
    std::vector<pid_t> children_;
};

enum class Run { toReady, cancel, quit };

// One update of `archive` through the real transport; `run` says where it ends.
int measure(const fs::path& archive, Run run, const char* what) {
    test::TempDir dir;
    const auto keys = generateKeyPair();
    Appcast appcast;
    appcast.architecture = std::string(thisArchitecture());
    AppcastItem item;
    item.version = item.displayVersion = "1.2.0";
    test::LoopbackServer server;
    server.answer("/archive", {.body = archive.string(), .mode = test::LoopbackServer::Mode::file});
    item.enclosure = {server.url("/archive"), fs::file_size(archive),
                      signFile(archive, keys.secretKey).value()};
    appcast.items.push_back(item);
    const std::string feed = signFeed(writeAppcast(appcast), keys.secretKey);
    const fs::path root = dir / "opt";
    fs::create_directories(root / "1.0" / "bin");
    fs::create_directory_symlink("1.0", root / "current");
    QtRuntime runtime;
    MemoryDefaults defaults;
    // One check, the probe's own: no daily ones.
    defaults.set(AppcastUpdater::automaticChecksKey, false);
    QtHttpTransport transport;
    Events events;
    Feed delegate;
    // The feed itself comes from a data address the transport never sees: a stand-in that
    // answers the feed request directly.
    class FeedFirst final : public HttpTransport {
    public:
        FeedFirst(HttpTransport& real, std::string feed) : real_(real), feed_(std::move(feed)) {}
        std::unique_ptr<HttpRequest> get(const std::string& url, const HttpRules& rules,
                                         HttpHandlers handlers) override {
            if (url.ends_with("/appcast")) {
                QTimer::singleShot(0, [this, handlers] {
                    handlers.onResponse(feed_.size());
                    handlers.onData(std::span(reinterpret_cast<const std::uint8_t*>(feed_.data()),
                                              feed_.size()));
                    handlers.onFinished(std::nullopt);
                });
                return std::make_unique<HttpRequest>();
            }
            return real_.get(url, rules, std::move(handlers));
        }

    private:
        HttpTransport& real_;
        std::string feed_;
    } feedFirst(transport, feed);
    delegate.url = "http://127.0.0.1:1/appcast";
    AppcastUpdater::Options options;
    options.currentVersion = "1.0";
    options.publicKey = keys.publicKey;
    options.installation = Installation(root);
    options.downloadFolder = dir / "downloads";
    auto updater =
        std::make_unique<AppcastUpdater>(runtime, defaults, feedFirst, events, delegate, options);
    if (!updater->startUpdater()) {
        std::fprintf(stderr, "the updater did not start\n");
        return 1;
    }
    updater->checkForUpdates();
    if (QCoreApplication::exec() != 0 || !events.install) {
        return 1;
    }
    if (run != Run::toReady) {
        // Cancel (the window's button) or Quit (the updater goes with the program) a little
        // after the unpacking began; the time the interface thread spends in that call, and
        // until the session has ended.
        double call = -1;
        QElapsedTimer sinceCancel;
        events.onUnpacking = [&] {
            QTimer::singleShot(100, [&] {
                sinceCancel.start();
                if (run == Run::cancel) {
                    events.cancel();
                } else {
                    updater.reset();
                }
                call = static_cast<double>(sinceCancel.nsecsElapsed()) / 1e6;
                if (run == Run::quit) {
                    QCoreApplication::exit(0);
                }
            });
        };
        events.onEnded = [] { QCoreApplication::exit(0); };
        events.install();
        QCoreApplication::exec();
        if (call < 0) {
            std::printf("%s: unpacked within 100 ms, nothing to cancel\n", what);
            return 0;
        }
        std::printf("%s, %s 100 ms into unpacking: answered in %.2f ms\n", what,
                    run == Run::cancel ? "Cancel" : "Quit", call);
        return 0;
    }
    // From here on: how long the loop goes without turning, and the peak memory.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKiB("VmHWM");
    qint64 longest = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longest = std::max(longest, sinceTick.restart() - 5); });
    tick.start();
    sinceTick.start();
    events.timer.start();
    events.install();
    const int status = QCoreApplication::exec();
    updater.reset();
    std::printf("archive: %.1f MiB; received %.1f MiB in %.2f s, ready after %.2f s\n",
                static_cast<double>(fs::file_size(archive)) / (1 << 20),
                static_cast<double>(events.received) / (1 << 20), events.downloaded / 1000.0,
                events.timer.elapsed() / 1000.0);
    std::printf("added peak memory: %.1f MiB (VmHWM %ld -> %ld KiB)\n",
                static_cast<double>(statusKiB("VmHWM") - before) / 1024, before,
                statusKiB("VmHWM"));
    std::printf("longest interface-thread stall: %lld ms\n", static_cast<long long>(longest));
    return status;
}

int main(int argc, char** argv) {
    long mebibytes = 255;
    int busy = 0;
    bool cancelling = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--busy" && i + 1 < argc) {
            busy = std::atoi(argv[++i]);
        } else if (word == "--cancel") {
            cancelling = true;
        } else {
            mebibytes = std::atol(argv[i]);
        }
    }
    QCoreApplication application(argc, argv);
    test::TempDir dir;
    // A release whose archive is mostly random bytes.
    const fs::path stage = dir / "stage" / "tesvano-1.2.0";
    fs::create_directories(stage / "bin");
    std::ofstream(stage / "bin" / "tesvano") << "#!/bin/sh\n";
    fs::permissions(stage / "bin" / "tesvano", fs::perms::owner_all);
    const fs::path archive = dir / "archive.tar.gz";
    const std::string pack = "head -c " + std::to_string(mebibytes * 1024 * 1024 - 64 * 1024) +
                             " /dev/urandom > '" + (stage / "payload").string() + "' && tar -C '" +
                             (dir / "stage").string() + "' -cf - tesvano-1.2.0 | gzip -1 > '" +
                             archive.string() + "'";
    if (std::system(pack.c_str()) != 0) {
        std::fprintf(stderr, "cannot pack the archive\n");
        return 1;
    }
    fs::remove_all(dir / "stage");
    BusyLoops loops(busy);
    if (busy > 0) {
        std::printf("with %d busy loops\n", busy);
    }
    if (!cancelling) {
        return measure(archive, Run::toReady, "random archive");
    }
    // A folder that declares almost all an archive may hold: the reader only decompresses it.
    const fs::path bomb = dir / "skip-bomb.tar.gz";
    test::TarBuilder skip;
    skip.folder("tesvano-1.2.0/")
        .folder("tesvano-1.2.0/bin/")
        .file("tesvano-1.2.0/bin/tesvano", "#!/bin/sh\n")
        .folder("tesvano-1.2.0/skipped/", 1000ull << 20)
        .end();
    test::writeFile(bomb, skip.gzip());
    int status = 0;
    for (const auto& [file, what] :
         {std::pair(archive, "random archive"), std::pair(bomb, "skip bomb")}) {
        for (Run run : {Run::cancel, Run::quit}) {
            status |= measure(file, run, what);
        }
    }
    return status;
}
