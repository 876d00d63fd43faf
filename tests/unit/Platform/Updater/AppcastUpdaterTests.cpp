#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/Defaults/Defaults.h"
#include "Platform/Log/Log.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/Updater/AppcastUpdater.h"
#include "Platform/Updater/FakeHttpTransport.h"
#include "tests/support/TempDir.h"

namespace tesvano::platform {
namespace {

namespace fs = std::filesystem;

// Writes down every event as a word and keeps the replies for the test to answer.
class RecordingEvents final : public UpdateEvents {
public:
    void checkStarted(std::function<void()> cancellation) override {
        calls.push_back("checking");
        cancel = std::move(cancellation);
    }
    void updateFound(const AppcastItem& item, bool userInitiated,
                     std::function<void(UpdateChoice)> r) override {
        calls.push_back(std::string(userInitiated ? "found-by-user " : "found ") + item.version);
        reply = std::move(r);
    }
    void noUpdateFound(std::function<void()> ack) override {
        calls.push_back("not-found");
        ack();
    }
    void failed(const UpdaterError& error, std::function<void()> ack) override {
        calls.push_back("error " + std::to_string(error.code));
        ack();
    }
    void downloadStarted(std::function<void()> cancellation) override {
        calls.push_back("download");
        cancel = std::move(cancellation);
    }
    void downloadSizeKnown(std::uint64_t length) override {
        calls.push_back("length " + std::to_string(length));
    }
    void downloadReceived(std::uint64_t length) override { received += length; }
    void unpacking(double fraction) override {
        if (fraction == 0.0) {
            calls.push_back("extracting");
        }
    }
    void readyToInstall(std::function<void(UpdateChoice)> r) override {
        calls.push_back("ready");
        reply = std::move(r);
    }
    void installing() override { calls.push_back("installing"); }
    void sessionEnded() override { calls.push_back("dismissed"); }

    std::vector<std::string> calls;
    std::function<void(UpdateChoice)> reply;
    std::function<void()> cancel;
    std::uint64_t received = 0;
};

class Channels final : public UpdaterDelegate {
public:
    std::set<std::string> allowedChannels() const override { return channels; }
    std::string feedURLString() const override { return feed; }
    std::set<std::string> channels;
    std::string feed = "http://127.0.0.1/Tesvano/appcast-x86_64.xml";
};

class AppcastUpdaterTest : public ::testing::Test {
protected:
    AppcastUpdaterTest() {
        fs::create_directories(root / "1.0" / "bin");
        std::ofstream(root / "1.0" / "bin" / "tesvano") << "old";
        fs::create_directory_symlink("1.0", root / "current");
        // The new version, packed as a release is.
        fs::create_directories(dir / "pack" / "tesvano-1.2.0" / "bin");
        std::ofstream(dir / "pack" / "tesvano-1.2.0" / "bin" / "tesvano") << "new";
        const std::string command = "tar -czf '" + (dir / "new.tar.gz").string() + "' -C '" +
                                    (dir / "pack").string() + "' tesvano-1.2.0";
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::ifstream in(dir / "new.tar.gz", std::ios::binary);
        archive.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        goodSignature = signFile(dir / "new.tar.gz", keys.secretKey).value();
    }

    std::unique_ptr<AppcastUpdater> make(bool selfUpdating = true) {
        AppcastUpdater::Options options;
        options.currentVersion = "1.0";
        options.publicKey = keys.publicKey;
        if (selfUpdating) {
            options.installation = Installation(root);
        }
        options.downloadFolder = dir / "downloads";
        options.relaunch =
            [this](const Installation& installation) -> std::expected<void, std::string> {
            relaunched = installation.currentExecutable();
            return {};
        };
        options.terminate = [this] { ++terminations; };
        return std::make_unique<AppcastUpdater>(loop, defaults, transport, events, delegate,
                                                options);
    }

    // A feed as published: for this machine, signed with the release key.
    std::string signedFeed(const std::string& items,
                           std::string_view architecture = thisArchitecture()) const {
        return signFeed(
            "<appcast architecture=\"" + std::string(architecture) + "\">" + items + "</appcast>",
            keys.secretKey);
    }

    std::string feedWith(const std::string& signature, std::uint64_t length) const {
        return signedFeed(
            "<item><version>1.2.0</version><enclosure url=\"http://127.0.0.1/new\" "
            "length=\"" +
            std::to_string(length) + "\" edSignature=\"" + signature +
            "\"/></item><item><version>1.3.0-beta.1</version><channel>beta</channel>"
            "<enclosure url=\"http://127.0.0.1/beta\" length=\"5\" edSignature=\"" +
            signature + "\"/></item>");
    }

    // Runs a user check up to the offer of 1.2.0 and accepts it.
    std::shared_ptr<FakeHttpTransport::Pending> acceptOffer(AppcastUpdater& updater,
                                                            const std::string& signature,
                                                            std::uint64_t length) {
        updater.checkForUpdates();
        transport.last()->serve(feedWith(signature, length));
        events.reply(UpdateChoice::install);
        return transport.last();
    }

    // Until the signature check and the unpacking (real work on real files) are over.
    void unpack() {
        for (int i = 0; i < 200 && !events.reply; ++i) {
            loop.pumpFds(std::chrono::milliseconds(20));
            loop.runDue();
        }
    }
    void settle(std::size_t calls) {
        for (int i = 0; i < 200 && events.calls.size() < calls; ++i) {
            loop.pumpFds(std::chrono::milliseconds(20));
            loop.runDue();
        }
    }

    test::TempDir dir;
    fs::path root = dir.path() / "opt";
    ManualRunLoop loop;
    MemoryDefaults defaults;
    FakeHttpTransport transport;
    RecordingEvents events;
    Channels delegate;
    Ed25519KeyPair keys = generateKeyPair();
    std::string archive;
    std::string goodSignature;
    std::optional<fs::path> relaunched;
    int terminations = 0;
};

TEST_F(AppcastUpdaterTest, RefusesToStartWithoutFeedKeyOrPerUserInstallation) {
    EXPECT_EQ(make(false)->startUpdater().error().code, UpdaterError::notSelfUpdating);
    delegate.feed.clear();
    EXPECT_EQ(make()->startUpdater().error().code, UpdaterError::noFeedAddress);
}

TEST_F(AppcastUpdaterTest, ChecksOnItsScheduleAndKeepsTheLastCheckDate) {
    auto updater = make();
    ASSERT_TRUE(updater->startUpdater());
    EXPECT_TRUE(events.calls.empty()) << "nothing to ask at the first start";
    EXPECT_TRUE(updater->automaticallyChecksForUpdates());
    EXPECT_FALSE(updater->lastUpdateCheckDate());
    loop.advance(Seconds(59));
    EXPECT_TRUE(transport.requests.empty());
    loop.advance(Seconds(1));
    ASSERT_EQ(transport.requests.size(), 1u);
    transport.last()->serve(signedFeed(""));
    EXPECT_EQ(updater->lastUpdateCheckDate(), loop.now());
    EXPECT_FALSE(updater->sessionActive()) << "a background check that finds nothing is quiet";
    loop.advance(Seconds(86399));
    EXPECT_EQ(transport.requests.size(), 1u);
    loop.advance(Seconds(1));
    EXPECT_EQ(transport.requests.size(), 2u);

    updater->setAutomaticallyChecksForUpdates(false);
    transport.last()->serve(signedFeed(""));
    loop.advance(Seconds(10 * 86400));
    EXPECT_EQ(transport.requests.size(), 2u);
}

TEST_F(AppcastUpdaterTest, OffersTheItemOfTheChosenChannel) {
    struct Case {
        std::set<std::string> channels;
        const char* expected;
    };
    for (const Case& c :
         {Case{{}, "found-by-user 1.2.0"}, Case{{"beta"}, "found-by-user 1.3.0-beta.1"}}) {
        events.calls.clear();
        delegate.channels = c.channels;
        auto updater = make();
        ASSERT_TRUE(updater->startUpdater());
        updater->checkForUpdates();
        transport.last()->serve(feedWith(goodSignature, archive.size()));
        ASSERT_FALSE(events.calls.empty());
        EXPECT_EQ(events.calls.back(), c.expected);
        events.reply(UpdateChoice::dismiss);
        EXPECT_FALSE(updater->sessionActive());
    }
}

TEST_F(AppcastUpdaterTest, SkippedVersionIsNotOfferedAgain) {
    auto updater = make();
    ASSERT_TRUE(updater->startUpdater());
    updater->checkForUpdates();
    transport.last()->serve(feedWith(goodSignature, archive.size()));
    events.reply(UpdateChoice::skip);
    events.calls.clear();
    updater->checkForUpdates();
    transport.last()->serve(feedWith(goodSignature, archive.size()));
    EXPECT_EQ(events.calls, (std::vector<std::string>{"checking", "not-found"}));
}

TEST_F(AppcastUpdaterTest, InstallsAVerifiedDownloadAndRelaunches) {
    auto updater = make();
    ASSERT_TRUE(updater->startUpdater());
    auto download = acceptOffer(*updater, goodSignature, archive.size());
    ASSERT_TRUE(download);
    EXPECT_EQ(download->url, "http://127.0.0.1/new");
    download->respond(archive.size());
    download->send(std::string_view(archive).substr(0, 10));
    download->send(std::string_view(archive).substr(10));
    download->finish();
    events.reply = nullptr;
    unpack();
    ASSERT_TRUE(events.reply) << "never became ready";
    EXPECT_EQ(events.received, archive.size());
    EXPECT_TRUE(fs::exists(root / "1.2.0" / "bin" / "tesvano"));
    EXPECT_EQ(Installation(root).currentVersion(), "1.0") << "nothing switches before Install";
    events.reply(UpdateChoice::install);
    EXPECT_EQ(Installation(root).currentVersion(), "1.2.0");
    EXPECT_TRUE(fs::exists(root / "1.0")) << "the previous version stays until confirmed";
    EXPECT_EQ(relaunched, Installation(root).currentExecutable());
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(fs::exists(dir / "downloads" / "tesvano-1.2.0.tar.gz"));
}

TEST_F(AppcastUpdaterTest, RefusesBadDownloadsAndKeepsTheRunningVersion) {
    std::string forged = archive;
    forged[forged.size() / 2] ^= 1;
    struct Case {
        const char* name;
        std::function<void(FakeHttpTransport::Pending&, ManualRunLoop&)> serve;
        std::uint64_t feedLength;
        int code;
    };
    const std::string body = archive;
    const Case cases[] = {
        {"wrong signature", [&](auto& p, auto&) { p.serve(forged); }, body.size(),
         UpdaterError::signatureInvalid},
        {"truncated",
         [&](auto& p, auto&) {
             p.respond(body.size());
             p.send(std::string_view(body).substr(0, 20));
             p.finish("remote host closed the connection");
         },
         body.size(), UpdaterError::downloadTruncated},
        {"truncated, cleanly ended",
         [&](auto& p, auto&) {
             p.respond(body.size());
             p.send(std::string_view(body).substr(0, 20));
             p.finish();
         },
         body.size(), UpdaterError::downloadTruncated},
        {"longer than the feed says", [&](auto& p, auto&) { p.serve(body); }, body.size() - 1,
         UpdaterError::lengthMismatch},
        {"shorter than the feed says, cleanly ended",
         [&](auto& p, auto&) {
             p.respond(std::nullopt);
             p.send(std::string_view(body).substr(0, 20));
             p.finish();
         },
         body.size(), UpdaterError::lengthMismatch},
        {"stalls",
         [&](auto& p, auto& runLoop) {
             p.respond(body.size());
             p.send(std::string_view(body).substr(0, 20));
             runLoop.advance(Seconds(29));
             p.send(std::string_view(body).substr(20, 20));
             runLoop.advance(Seconds(30));
         },
         body.size(), UpdaterError::downloadStalled},
    };
    for (const auto& c : cases) {
        events.calls.clear();
        auto updater = make();
        ASSERT_TRUE(updater->startUpdater());
        auto download = acceptOffer(*updater, goodSignature, c.feedLength);
        ASSERT_TRUE(download) << c.name;
        const std::size_t before = events.calls.size();
        c.serve(*download, loop);
        settle(before + 2);
        ASSERT_GE(events.calls.size(), 2u) << c.name;
        EXPECT_EQ(events.calls[events.calls.size() - 2], "error " + std::to_string(c.code))
            << c.name;
        EXPECT_EQ(events.calls.back(), "dismissed") << c.name;
        EXPECT_FALSE(updater->sessionActive()) << c.name;
        EXPECT_EQ(Installation(root).currentVersion(), "1.0") << c.name;
        EXPECT_FALSE(fs::exists(root / "1.2.0")) << c.name;
        EXPECT_TRUE(fs::is_empty(dir / "downloads")) << c.name;
        EXPECT_EQ(terminations, 0) << c.name;
    }
}

TEST_F(AppcastUpdaterTest, CancellingACheckOrDownloadEndsTheSession) {
    auto updater = make();
    ASSERT_TRUE(updater->startUpdater());
    updater->checkForUpdates();
    auto feed = transport.last();
    events.cancel();
    EXPECT_TRUE(feed->cancelled);
    EXPECT_FALSE(updater->sessionActive());

    // The check's cancellation, answered once the offer is there, leaves the offer standing.
    updater->checkForUpdates();
    transport.last()->serve(feedWith(goodSignature, archive.size()));
    events.cancel();
    EXPECT_TRUE(updater->sessionActive());
    events.reply(UpdateChoice::install);
    auto download = transport.last();
    ASSERT_TRUE(download);
    download->respond(archive.size());
    events.cancel();
    EXPECT_TRUE(download->cancelled);
    EXPECT_EQ(events.calls.back(), "dismissed");
    EXPECT_FALSE(updater->sessionActive());
    EXPECT_TRUE(fs::is_empty(dir / "downloads"));
}

TEST_F(AppcastUpdaterTest, UnreadableFeedFailsOnlyAUserCheckAloud) {
    auto updater = make();
    ASSERT_TRUE(updater->startUpdater());
    events.calls.clear();
    updater->checkForUpdates();
    transport.last()->serve("<html>Not found</html>");
    EXPECT_EQ(events.calls, (std::vector<std::string>{"checking", "error 3004", "dismissed"}));
    events.calls.clear();
    loop.advance(Seconds(86400));
    ASSERT_TRUE(transport.last());
    transport.last()->finish("Connection refused");
    EXPECT_TRUE(events.calls.empty());
    EXPECT_FALSE(updater->sessionActive());
}

TEST_F(AppcastUpdaterTest, RefusesFeedsAndDownloadsItCannotTrust) {
    const std::string item =
        "<item><version>1.2.0</version><enclosure "
        "url=\"http://127.0.0.1/new\" length=\"" +
        std::to_string(archive.size()) + "\" edSignature=\"" + goodSignature + "\"/></item>";
    const std::string huge =
        "<item><version>1.2.0</version><enclosure "
        "url=\"http://127.0.0.1/new\" length=\"1073741824\" edSignature=\"" +
        goodSignature + "\"/></item>";
    std::string relabelled = signedFeed(item);
    relabelled.replace(relabelled.find("1.2.0"), 5, "9.0.0");
    struct Case {
        const char* name;
        std::string feed;
        bool install;  // the offer is accepted before the failure
        int code;
    };
    const Case cases[] = {
        {"unsigned", "<appcast architecture=\"x86_64\">" + item + "</appcast>", false,
         UpdaterError::feedSignatureInvalid},
        {"relabelled", relabelled, false, UpdaterError::feedSignatureInvalid},
        {"another machine's", signedFeed(item, "some-other-cpu"), false,
         UpdaterError::feedForOtherArchitecture},
        {"a gigabyte announced", signedFeed(huge), true, UpdaterError::downloadTooLarge},
    };
    for (const auto& c : cases) {
        events.calls.clear();
        transport.requests.clear();
        auto updater = make();
        ASSERT_TRUE(updater->startUpdater());
        updater->checkForUpdates();
        transport.last()->serve(c.feed);
        if (c.install) {
            ASSERT_TRUE(events.reply) << c.name;
            events.reply(UpdateChoice::install);
        }
        ASSERT_GE(events.calls.size(), 2u) << c.name;
        EXPECT_EQ(events.calls[events.calls.size() - 2], "error " + std::to_string(c.code))
            << c.name;
        EXPECT_EQ(transport.requests.size(), 1u) << c.name << ": only the feed was fetched";
        EXPECT_FALSE(updater->sessionActive()) << c.name;
    }
}

TEST_F(AppcastUpdaterTest, AFeedDatedAheadOfTheClockIsRefusedAndShutsOutNothing) {
    const std::string item =
        "<item><version>1.2.0</version><enclosure url=\"http://127.0.0.1/new\" length=\"" +
        std::to_string(archive.size()) + "\" edSignature=\"" + goodSignature + "\"/></item>";
    auto dated = [&](Seconds ahead) {
        const std::string published = formatRFC3339(loop.now() + ahead);
        return signFeed("<appcast architecture=\"" + std::string(thisArchitecture()) +
                            "\" published=\"" + published + "\">" + item + "</appcast>",
                        keys.secretKey);
    };
    const double now = loop.now().time_since_epoch().count();
    struct Case {
        const char* name;
        std::optional<double> kept;  // the newest feed time stored before the check
        Seconds ahead;               // of the feed's time over the clock
        bool read;
        std::optional<double> keptAfter;
    };
    const Case cases[] = {
        {"a year ahead", std::nullopt, Seconds(365 * 86400.0), false, std::nullopt},
        {"a day and a minute ahead, after a feed of today", now, Seconds(86460), false, now},
        {"clocks a few hours apart", std::nullopt, Seconds(5 * 3600), true, now + 5 * 3600},
        {"today, after a feed kept from years ahead", now + 10 * 365 * 86400.0, Seconds(0), true,
         now},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.remove(AppcastUpdater::newestFeedKey);
        if (c.kept) {
            defaults.set(AppcastUpdater::newestFeedKey, *c.kept);
        }
        events.calls.clear();
        auto sink = std::make_shared<CaptureLogSink>();
        auto previous = setLogSink(sink);
        auto updater = make();
        ASSERT_TRUE(updater->startUpdater());
        updater->checkForUpdates();
        transport.last()->serve(dated(c.ahead));
        setLogSink(previous);
        ASSERT_GE(events.calls.size(), 2u);
        if (c.read) {
            EXPECT_EQ(events.calls[1], "found-by-user 1.2.0");
            events.reply(UpdateChoice::dismiss);
        } else {
            EXPECT_EQ(events.calls[1], "error " + std::to_string(UpdaterError::feedFromTheFuture));
            EXPECT_TRUE(sink->contains("more than a day after this computer's clock"));
        }
        EXPECT_EQ(defaults.real(AppcastUpdater::newestFeedKey), c.keptAfter);
        EXPECT_FALSE(updater->sessionActive());
    }
    // The refused feed left nothing behind: today's feed is read.
    events.calls.clear();
    defaults.remove(AppcastUpdater::newestFeedKey);
    auto updater = make();
    ASSERT_TRUE(updater->startUpdater());
    updater->checkForUpdates();
    transport.last()->serve(dated(Seconds(2 * 86400)));
    updater->checkForUpdates();
    transport.last()->serve(dated(Seconds(-60)));
    EXPECT_EQ(events.calls.back(), "found-by-user 1.2.0");
}

TEST_F(AppcastUpdaterTest, ADownloadTricklingInFailsAtItsDeadline) {
    auto updater = make();
    ASSERT_TRUE(updater->startUpdater());
    auto download = acceptOffer(*updater, goodSignature, archive.size());
    ASSERT_TRUE(download);
    download->respond(archive.size());
    // One byte every 20 s never trips the stall timer; the whole download has 120 s.
    for (int i = 0; i < 7 && !download->cancelled; ++i) {
        download->send(std::string_view(archive).substr(static_cast<std::size_t>(i), 1));
        loop.advance(Seconds(20));
    }
    EXPECT_TRUE(download->cancelled);
    ASSERT_GE(events.calls.size(), 2u);
    EXPECT_EQ(events.calls[events.calls.size() - 2],
              "error " + std::to_string(UpdaterError::downloadStalled));
}

TEST_F(AppcastUpdaterTest, StartsCleanAndOffersABuildThatFailedOnlyWhenAskedOrRebuilt) {
    fs::create_directories(root / ".staging-abc123" / "tesvano-1.2.0");
    fs::create_directories(dir / "downloads");
    {
        auto updater = make();
        ASSERT_TRUE(updater->startUpdater());
        EXPECT_FALSE(fs::exists(root / ".staging-abc123")) << "left by an interrupted update";
    }
    std::ofstream(root / "failed-versions") << "1.2.0 " << goodSignature << "\n";
    auto updater = make();
    ASSERT_TRUE(updater->startUpdater());
    events.calls.clear();
    loop.advance(Seconds(60));
    transport.last()->serve(feedWith(goodSignature, archive.size()));
    EXPECT_TRUE(events.calls.empty()) << "a background check passes over the failed build";
    loop.advance(Seconds(86400));
    std::string rebuilt = goodSignature;
    rebuilt[0] = rebuilt[0] == 'A' ? 'B' : 'A';
    transport.last()->serve(feedWith(rebuilt, archive.size()));
    ASSERT_EQ(events.calls.size(), 1u);
    EXPECT_TRUE(events.calls[0].starts_with("found 1.2.0")) << events.calls[0];
    events.reply(UpdateChoice::dismiss);
    events.calls.clear();
    updater->checkForUpdates();
    transport.last()->serve(feedWith(goodSignature, archive.size()));
    ASSERT_EQ(events.calls.size(), 2u);
    EXPECT_TRUE(events.calls[1].starts_with("found-by-user 1.2.0")) << events.calls[1];

    AppcastUpdater::Options options;
    options.currentVersion = "1.0";
    options.publicKey = keys.publicKey;
    options.installation = Installation(root);  // no download folder: HOME was unset
    EXPECT_EQ(AppcastUpdater(loop, defaults, transport, events, delegate, options)
                  .startUpdater()
                  .error()
                  .code,
              UpdaterError::notSelfUpdating);
    delegate.feed = "http://updates.example.org/Tesvano/appcast-x86_64.xml";
    EXPECT_EQ(make()->startUpdater().error().code, UpdaterError::insecureFeedAddress);
}

}  // namespace
}  // namespace tesvano::platform
