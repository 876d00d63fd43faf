#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Defaults/Defaults.h"
#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/BackgroundTask.h"
#include "Platform/Updater/DownloadWriter.h"
#include "Platform/Updater/HttpTransport.h"
#include "Platform/Updater/Installation.h"
#include "Platform/Updater/Signature.h"
#include "Platform/Updater/Updater.h"

namespace tesvano::platform {

// Our updater: reads the signed appcast feed on a schedule or when asked (its signature and
// architecture checked before anything in it is believed), offers the best item of the
// allowed channels through its events, downloads it with progress into a file only it
// holds (written on a thread of its own), checks its length and Ed25519 signature on a worker
// thread, unpacks that same file
// beside the running version of a per-user installation, switches the `current` link and
// hands over to the relaunch step. The rest runs on the main thread's loop; the network goes
// through an HttpTransport.
class AppcastUpdater final : public Updater {
public:
    struct Options {
        std::string currentVersion;
        std::optional<Ed25519PublicKey> publicKey;
        // None: this copy was not installed per user and does not update itself.
        std::optional<Installation> installation;
        std::filesystem::path downloadFolder;
        Seconds checkInterval{86400};
        // Before the first check ever, so that a first start is not slowed by it.
        Seconds firstCheckDelay{60};
        // A transfer that receives nothing for this long fails.
        Seconds stallTimeout{30};
        // The whole feed must arrive within this; a download within a time allowing for
        // `minimumRate` bytes a second (and never less than two minutes).
        Seconds feedDeadline{60};
        double minimumRate = 16 * 1024;
        std::size_t maxFeedBytes = 4 * 1024 * 1024;
        // Archives announced larger than this are not downloaded.
        std::uint64_t maxDownloadBytes = 256ull * 1024 * 1024;
        // What the archive may unpack to.
        ArchiveLimits unpackLimits;
        // The architecture feeds must be made for.
        std::string architecture = std::string(thisArchitecture());
        // Starts the relaunch step of `installation` (which starts the new version once this
        // process has ended); an error when it could not.
        std::function<std::expected<void, std::string>(const Installation& installation)> relaunch;
        // Asks the program to quit (after a successful relaunch).
        std::function<void()> terminate;
    };

    // Keys of the defaults it keeps.
    static constexpr const char* automaticChecksKey = "automaticallyChecksForUpdates";
    static constexpr const char* lastCheckKey = "lastUpdateCheckDate";
    static constexpr const char* skippedVersionKey = "skippedUpdateVersion";
    // The publication time of the newest feed read (seconds since 1970): an older one is
    // refused.
    static constexpr const char* newestFeedKey = "newestUpdateFeedPublished";

    AppcastUpdater(Runtime& runtime, Defaults& defaults, HttpTransport& transport,
                   UpdateEvents& events, UpdaterDelegate& delegate, Options options);
    ~AppcastUpdater() override;

    std::expected<void, UpdaterError> startUpdater() override;
    void checkForUpdates() override;
    void resetUpdateCycle() override;
    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool checks) override;
    std::optional<WallTime> lastUpdateCheckDate() const override;

    // Whether an update session (a check, an offer, a download…) is under way.
    bool sessionActive() const { return stage_ != Stage::none; }

private:
    enum class Stage { none, checking, offering, downloading, extracting, ready, installing };

    void scheduleNextCheck();
    void beginCheck(bool userInitiated);
    void feedArrived();
    bool freshFeed(const Appcast& appcast);
    HttpRules rules() const;
    void offer(const AppcastItem& item);
    void beginDownload();
    void downloadFinished(const std::optional<std::string>& error);
    void downloadStored(const std::optional<std::string>& error);
    void verified(bool good);
    void beginExtraction();
    void extractionFinished(const std::expected<void, std::string>& result);
    void install();
    void fail(int code, std::string description);
    void abortSession();
    void endSession();
    void cleanUp();
    void armStallTimer();
    void armDeadline(Seconds deadline);
    bool roomFor(std::uint64_t length, std::string& why) const;
    UpdaterError error(int code, std::string description) const;
    template <typename T>
    void dropAfterReturn(std::unique_ptr<T>& holder);

    Runtime& runtime_;
    Defaults& defaults_;
    HttpTransport& transport_;
    UpdateEvents& events_;
    UpdaterDelegate& delegate_;
    Options options_;

    bool started_ = false;
    Stage stage_ = Stage::none;
    bool userInitiated_ = false;
    unsigned generation_ = 0;
    Registration scheduled_;
    Registration stallTimer_;
    Registration deadline_;
    std::unique_ptr<HttpRequest> request_;
    std::string feedBody_;
    std::optional<AppcastItem> item_;
    // The download: a file without a name, so that what was checked is what gets unpacked.
    int archiveFd_ = -1;
    std::unique_ptr<DownloadWriter> writer_;
    std::unique_ptr<BackgroundTask<bool>> verification_;
    std::filesystem::path stagingPath_;
    bool adopted_ = false;
    std::uint64_t received_ = 0;
    std::optional<std::uint64_t> announced_;  // the server's Content-Length
    std::unique_ptr<ArchiveUnpacker> unpacker_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano::platform
