// Memory and interface-thread stalls while the updater fetches a 255 MiB archive over
// loopback with the real Qt transport: from the click on Install until it is unpacked and ready
// (download, signature check, unpacking). Prints the added peak memory and the longest time the
// thread's event loop did not turn.
// With --cancel, Cancel and Quit in each phase of an update: the download (of the random
// archive), the decompression (a folder declaring 1000 MiB the reader only skips; 12.5 million
// empty gzip members), the unpacking (the random archive's content; 9997 files of 1 KiB) and the
// link check (1024 links, each naming 4087 bytes): how long the call takes, and when the worker
// has stopped and its staging folder is gone (the aim: within 200 ms).
// With --worst, the hostile archives above and more (a gigabyte of tiny pax records, folders
// of names opened again and again) read to their end by the unpacking worker's own code: how
// long each keeps it busy (the aim: no archive under the 256 MiB download cap beyond 30 s).
// --busy N keeps N processes spinning meanwhile (a loaded machine).
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "Platform/Defaults/Defaults.h"
#include "Platform/Updater/AppcastUpdater.h"
#include "Platform/Updater/Archive.h"
#include "Tesvano/App/QtRuntime.h"
#include "Tesvano/Updates/QtHttpTransport.h"
#include "bench/BusyLoops.h"
#include "bench/ProbeArguments.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TarBuilder.h"
#include "tests/support/TempDir.h"

namespace {

using namespace tesvano;
using namespace tesvano::platform;
namespace fs = std::filesystem;

constexpr const char* usage =
    "usage: update_download_probe [MiB] [--busy N] [--cancel | --worst]\n"
    "  MiB        the random archive's size, 1 to 255 (under the 256 MiB download cap); default "
    "255\n"
    "  --busy N   keeps N processes spinning meanwhile, 0 to 64\n"
    "  --cancel   Cancel and Quit in each phase: download, decompression, unpacking, link check\n"
    "  --worst    how long each hostile archive keeps the unpacking worker busy\n";

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
        if (onDownload) {
            onDownload();
        }
    }
    void downloadSizeKnown(std::uint64_t) override {}
    void downloadReceived(std::uint64_t length) override {
        received += length;
        if (onReceived) {
            onReceived();
        }
    }
    void unpacking(double fraction) override {
        if (fraction == 0.0) {
            downloaded = timer.elapsed();
            if (onUnpacking) {
                onUnpacking();
            }
        }
    }
    void readyToInstall(std::function<void(UpdateChoice)>) override {
        ready = true;
        QCoreApplication::exit(0);
    }
    void installing() override {}
    void sessionEnded() override {
        if (onEnded) {
            onEnded();
        }
    }

    std::function<void()> install;
    std::function<void()> cancel;
    std::function<void()> onDownload;
    std::function<void()> onReceived;
    std::function<void()> onUnpacking;
    std::function<void()> onEnded;
    bool ready = false;
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

enum class Run { toReady, cancel, quit };
// When Cancel or Quit comes: a little after the download or the unpacking began, or once the
// staging folder holds the archive's last link, when only the link check is left.
enum class At { download, unpacking, lastLink };

struct Attack {
    const char* what;
    fs::path archive;
    At at = At::unpacking;
};

// The ids of this process's threads.
std::set<std::string> threads() {
    std::error_code ec;
    std::set<std::string> ids;
    for (auto it = fs::directory_iterator("/proc/self/task", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        ids.insert(it->path().filename().string());
    }
    return ids;
}

// Whether a staging folder is in the installation, and whether it holds `name`.
bool staged(const fs::path& root, const fs::path& name = {}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        if (entry.path().filename().string().starts_with(".staging-") &&
            (name.empty() ||
             fs::symlink_status(entry.path() / name, ec).type() != fs::file_type::not_found)) {
            return true;
        }
    }
    return false;
}

double msSince(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Cancel (the window's button) or Quit (the updater goes with the program, by `quit`) in the
// attack's phase; prints how long the call took and when the worker had stopped (its thread
// gone) and its staging folder with it.
int cancelDuring(const Attack& attack, Run run, Events& events, const fs::path& root,
                 const std::function<void()>& quit) {
    QElapsedTimer sinceCancel;
    double call = -1, folderGone = -1, workerGone = -1, lastData = -1;
    std::set<std::string> beforeWorker, workers;  // the threads before the unpacking, and after
    bool staging = false;
    QTimer watch;  // every millisecond, after the Cancel
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (folderGone < 0 && !staged(root)) {
            folderGone = msSince(sinceCancel);
        }
        if (workerGone < 0) {
            const auto now = threads();
            if (std::none_of(workers.begin(), workers.end(),
                             [&](const std::string& id) { return now.contains(id); })) {
                workerGone = msSince(sinceCancel);
            }
        }
        const bool stopped = folderGone >= 0 && (!staging || workerGone >= 0);
        if ((stopped && msSince(sinceCancel) > 300) || msSince(sinceCancel) > 60'000) {
            QCoreApplication::exit(0);
        }
    });
    auto cancel = [&] {
        if (call >= 0 || events.ready) {
            return;
        }
        staging = staged(root);
        if (staging) {
            std::ranges::set_difference(threads(), beforeWorker,
                                        std::inserter(workers, workers.end()));
        }
        sinceCancel.start();
        if (run == Run::cancel) {
            events.cancel();
        } else {
            quit();
        }
        call = msSince(sinceCancel);
        watch.start();
    };
    QTimer poll;  // for the last link
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (staged(root, "tesvano-1.2.0/bin/l" + std::to_string(ArchiveLimits().maxLinks - 1))) {
            poll.stop();
            cancel();
        }
    });
    events.onDownload = [&] {
        if (attack.at == At::download) {
            QTimer::singleShot(50, cancel);
        }
    };
    events.onReceived = [&] {
        if (call >= 0) {
            lastData = msSince(sinceCancel);
        }
    };
    events.onUnpacking = [&] {
        beforeWorker = threads();  // the worker starts right after this
        if (attack.at == At::unpacking) {
            QTimer::singleShot(100, cancel);
        } else if (attack.at == At::lastLink) {
            poll.start();
        }
    };
    events.install();
    QCoreApplication::exec();
    const char* how = run == Run::cancel ? "Cancel" : "Quit";
    if (call < 0) {
        std::printf("%-26s %-6s over before it could be cancelled\n", attack.what, how);
        return 0;
    }
    const double stopped = std::max(folderGone, staging ? workerGone : 0.0);
    std::printf("%-26s %-6s answered in %6.2f ms; ", attack.what, how, call);
    if (staging) {
        std::printf("worker stopped %7.1f ms, folder gone %7.1f ms", workerGone, folderGone);
    } else {
        if (lastData < 0) {
            std::printf("nothing staged yet; no data after it");
        } else {
            std::printf("nothing staged yet; data until %7.1f ms after it", lastData);
        }
    }
    const bool within = stopped >= 0 && stopped <= 200 && lastData <= 200;
    std::printf("  %s\n", within ? "within 200 ms" : "OVER 200 ms");
    return within ? 0 : 1;
}

// One update of `archive` through the real transport; `run` says where it ends.
int measure(const Attack& attack, Run run) {
    const fs::path& archive = attack.archive;
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
        return cancelDuring(attack, run, events, root, [&] { updater.reset(); });
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

// The archives a release never is. Each written piece by piece, so that none is held whole.
class HostileArchives {
public:
    explicit HostileArchives(const fs::path& dir) : dir_(dir) {}

    // A folder that declares almost all an archive may hold: the reader only decompresses it.
    fs::path skipBomb() {
        test::TarBuilder tar = release();
        tar.folder("tesvano-1.2.0/skipped/", 1000ull << 20).end();
        return write("skip-bomb.tar.gz", tar.gzip());
    }
    // 12.5 million empty gzip members (250 MB) after the first members.
    fs::path emptyMembers() {
        const std::string tar = release().end().tar();
        const fs::path path = dir_ / "empty-members.tar.gz";
        std::ofstream out(path, std::ios::binary);
        out << test::TarBuilder::compress(tar.substr(0, 1536));
        const std::string empty = test::TarBuilder::compress("");
        std::string run;
        for (int i = 0; i < 100'000; ++i) {
            run += empty;
        }
        for (int i = 0; i < 125; ++i) {
            out << run;
        }
        out << test::TarBuilder::compress(tar.substr(1536));
        return path;
    }
    // As many links as are taken, each naming as much as is taken, all inside the version.
    fs::path longLinks() {
        test::TarBuilder tar = release();
        std::string target;
        while (target.size() < limits_.maxLinkLength - 16) {
            target += "./";
        }
        target += "tesvano";
        for (std::uint64_t i = 0; i < limits_.maxLinks; ++i) {
            tar.pax("linkpath", target).link("tesvano-1.2.0/bin/l" + std::to_string(i), "x");
        }
        return write("long-links.tar.gz", tar.end().gzip());
    }
    // As many files of a kilobyte as are taken: each a block of the disk to give back.
    fs::path smallFiles() {
        test::TarBuilder tar = release();
        const std::string kilobyte(1024, 'x');
        for (std::uint64_t i = 3; i < limits_.maxEntries; ++i) {
            tar.file("tesvano-1.2.0/f" + std::to_string(i), kilobyte);
        }
        return write("small-files.tar.gz", tar.end().gzip());
    }
    // Extended headers of the largest size taken, of the shortest records, up to the end of
    // what may be decompressed.
    fs::path paxRecords() {
        std::string records;
        while (records.size() + 6 <= 64 * 1024) {
            records += "6 a=b\n";
        }
        test::TarBuilder one;
        one.member("PaxHeaders/x", 'x', records.size(), records);
        const std::string piece = one.tar();
        return stream("pax-records.tar.gz", release().tar(), piece,
                      (limits_.maxBytes + archiveHeaderAllowance) / piece.size() + 1);
    }
    // Folders named again and again, 250 deep each, two by turns.
    fs::path folderRevisits() {
        std::string a = "tesvano-1.2.0/a", b = "tesvano-1.2.0/b";
        for (int i = 0; i < 249; ++i) {
            a += "/d";
            b += "/d";
        }
        test::TarBuilder pair;
        pair.pax("path", a + "/").folder("x/").pax("path", b + "/").folder("x/");
        return stream("folder-revisits.tar.gz", release().tar(), pair.tar(), 200'000);
    }

private:
    static test::TarBuilder release() {
        test::TarBuilder tar;
        tar.folder("tesvano-1.2.0/")
            .folder("tesvano-1.2.0/bin/")
            .file("tesvano-1.2.0/bin/tesvano", "#!/bin/sh\n");
        return tar;
    }
    fs::path write(const char* name, const std::string& bytes) {
        test::writeFile(dir_ / name, bytes);
        return dir_ / name;
    }
    // `head`, then `piece` `count` times, then the end, gzipped as it goes.
    fs::path stream(const char* name, const std::string& head, const std::string& piece,
                    std::uint64_t count) {
        const fs::path path = dir_ / name;
        gzFile out = gzopen(path.c_str(), "wb6");
        gzwrite(out, head.data(), static_cast<unsigned>(head.size()));
        for (std::uint64_t i = 0; i < count; ++i) {
            gzwrite(out, piece.data(), static_cast<unsigned>(piece.size()));
        }
        const std::string end(1024, '\0');
        gzwrite(out, end.data(), static_cast<unsigned>(end.size()));
        gzclose(out);
        return path;
    }

    fs::path dir_;
    ArchiveLimits limits_;
};

// What the unpacking worker does with each archive when nobody cancels: how long it is busy.
int worst(const std::vector<Attack>& attacks) {
    int status = 0;
    for (const auto& attack : attacks) {
        test::TempDir into;
        const int fd = ::open(attack.archive.c_str(), O_RDONLY | O_CLOEXEC);
        QElapsedTimer timer;
        timer.start();
        const auto result = unpackArchive(fd, into.path(), ArchiveLimits());
        const double seconds = msSince(timer) / 1000;
        ::close(fd);
        std::string outcome = result ? "unpacked" : "refused: " + result.error();
        if (outcome.size() > 70) {
            outcome = outcome.substr(0, 70) + "...";
        }
        const bool within = seconds <= 30;
        std::printf("%-26s %6.1f MiB  busy %7.2f s  %s  (%s)\n", attack.what,
                    static_cast<double>(fs::file_size(attack.archive)) / (1 << 20), seconds,
                    within ? "within 30 s" : "OVER 30 s", outcome.c_str());
        status |= within ? 0 : 1;
    }
    return status;
}

int main(int argc, char** argv) {
    long mebibytes = 255;
    long busy = 0;
    bool cancelling = false;
    bool worstCases = false;
    if (const auto ended = tesvano::bench::ProbeArguments(usage)
                               .word("the size in MiB", mebibytes, 1, 255)
                               .number("--busy", busy, 0, 64)
                               .flag("--cancel", cancelling)
                               .flag("--worst", worstCases)
                               .parse(argc, argv)) {
        return *ended;
    }
    if (cancelling && worstCases) {
        std::fprintf(stderr, "--cancel or --worst, not both\n%s", usage);
        return 2;
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
    const tesvano::bench::BusyLoops loops(busy);
    if (busy > 0) {
        std::printf("with %ld busy loops\n", busy);
    }
    if (!cancelling && !worstCases) {
        return measure({"random archive", archive}, Run::toReady);
    }
    HostileArchives hostile(dir.path());
    if (worstCases) {
        return worst({{"random archive", archive},
                      {"skip bomb", hostile.skipBomb()},
                      {"empty gzip members", hostile.emptyMembers()},
                      {"long links", hostile.longLinks()},
                      {"small files", hostile.smallFiles()},
                      {"pax records", hostile.paxRecords()},
                      {"folders named again", hostile.folderRevisits()}});
    }
    int status = 0;
    for (const Attack& attack :
         {Attack{"download", archive, At::download},
          Attack{"decompression: skip bomb", hostile.skipBomb()},
          Attack{"decompression: members", hostile.emptyMembers()},
          Attack{"unpacking: random archive", archive},
          Attack{"unpacking: small files", hostile.smallFiles()},
          Attack{"link check: long links", hostile.longLinks(), At::lastLink}}) {
        for (Run run : {Run::cancel, Run::quit}) {
            status |= measure(attack, run);
        }
    }
    return status;
}
