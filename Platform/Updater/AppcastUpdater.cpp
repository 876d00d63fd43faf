#include "Platform/Updater/AppcastUpdater.h"

#include <algorithm>
#include <system_error>

#include "Platform/Log/Log.h"

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

const Logger& log() {
    static const Logger logger("Updater");
    return logger;
}

}  // namespace

AppcastUpdater::AppcastUpdater(Runtime& runtime, Defaults& defaults, HttpTransport& transport,
                               UserDriver& driver, UpdaterDelegate& delegate, Options options)
    : runtime_(runtime),
      defaults_(defaults),
      transport_(transport),
      driver_(driver),
      delegate_(delegate),
      options_(std::move(options)) {}

AppcastUpdater::~AppcastUpdater() {
    request_.reset();
    unpacker_.reset();
    cleanUp();
}

UpdaterError AppcastUpdater::error(int code, std::string description) const {
    return UpdaterError{UpdaterError::updaterDomain, code, std::move(description)};
}

std::expected<void, UpdaterError> AppcastUpdater::startUpdater() {
    if (delegate_.feedURLString().empty()) {
        return std::unexpected(error(UpdaterError::noFeedAddress, "this build names no feed"));
    }
    if (!options_.publicKey) {
        return std::unexpected(
            error(UpdaterError::noPublicKey, "this build carries no key to check updates with"));
    }
    if (!options_.installation) {
        return std::unexpected(error(UpdaterError::notSelfUpdating,
                                     "this copy was not installed per user and does not "
                                     "update itself"));
    }
    started_ = true;
    if (!defaults_.boolean(automaticChecksKey)) {
        std::weak_ptr<int> alive = lifetime_;
        driver_.showUpdatePermissionRequest([this, alive](UpdatePermissionResponse response) {
            if (alive.expired()) {
                return;
            }
            setAutomaticallyChecksForUpdates(response.automaticUpdateChecks);
        });
    }
    scheduleNextCheck();
    return {};
}

bool AppcastUpdater::automaticallyChecksForUpdates() const {
    return defaults_.boolean(automaticChecksKey).value_or(false);
}

void AppcastUpdater::setAutomaticallyChecksForUpdates(bool checks) {
    defaults_.set(automaticChecksKey, checks);
    scheduleNextCheck();
}

std::optional<WallTime> AppcastUpdater::lastUpdateCheckDate() const {
    if (auto seconds = defaults_.real(lastCheckKey)) {
        return WallTime(Seconds(*seconds));
    }
    return std::nullopt;
}

void AppcastUpdater::resetUpdateCycle() {
    scheduleNextCheck();
}

void AppcastUpdater::scheduleNextCheck() {
    scheduled_.cancel();
    if (!started_ || !automaticallyChecksForUpdates()) {
        return;
    }
    Seconds delay = options_.firstCheckDelay;
    if (auto last = lastUpdateCheckDate()) {
        delay = std::max(Seconds(0), *last + options_.checkInterval - runtime_.now());
        // A clock set back far would otherwise postpone checks for good.
        delay = std::min(delay, options_.checkInterval);
    }
    std::weak_ptr<int> alive = lifetime_;
    scheduled_ = runtime_.after(delay, [this, alive] {
        if (alive.expired()) {
            return;
        }
        if (stage_ == Stage::none) {
            beginCheck(false);
        } else {
            scheduleNextCheck();
        }
    });
}

void AppcastUpdater::checkForUpdates() {
    if (!started_) {
        return;
    }
    if (stage_ != Stage::none) {
        driver_.showUpdateInFocus();
        return;
    }
    beginCheck(true);
}

void AppcastUpdater::armStallTimer() {
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    stallTimer_ = runtime_.after(options_.stallTimeout, [this, alive, generation] {
        if (alive.expired() || generation != generation_) {
            return;
        }
        request_.reset();
        fail(stage_ == Stage::checking ? UpdaterError::feedUnreachable
                                       : UpdaterError::downloadStalled,
             "the server sent nothing for " + std::to_string(options_.stallTimeout.count()) + " s");
    });
}

void AppcastUpdater::beginCheck(bool userInitiated) {
    ++generation_;
    stage_ = Stage::checking;
    userInitiated_ = userInitiated;
    feedBody_.clear();
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    auto current = [this, alive, generation] {
        return !alive.expired() && generation == generation_;
    };
    if (userInitiated) {
        // A cancellation that comes once the check is over (the driver answers an offer's
        // predecessor this way) changes nothing.
        driver_.showUserInitiatedUpdateCheck([this, current] {
            if (current() && stage_ == Stage::checking) {
                abortSession();
            }
        });
    }
    const std::string url = delegate_.feedURLString();
    log().info("Checking %{public}s", url);
    armStallTimer();
    HttpHandlers handlers;
    handlers.onResponse = [](std::optional<std::uint64_t>) {};
    handlers.onData = [this, current](std::span<const std::uint8_t> chunk) {
        if (!current()) {
            return;
        }
        armStallTimer();
        if (feedBody_.size() + chunk.size() > options_.maxFeedBytes) {
            request_.reset();
            fail(UpdaterError::feedInvalid, "the feed is larger than allowed");
            return;
        }
        feedBody_.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    };
    handlers.onFinished = [this, current](std::optional<std::string> failure) {
        if (!current()) {
            return;
        }
        stallTimer_.cancel();
        request_.reset();
        if (failure) {
            fail(UpdaterError::feedUnreachable, "cannot read the feed: " + *failure);
            return;
        }
        feedArrived();
    };
    request_ = transport_.get(url, std::move(handlers));
}

void AppcastUpdater::feedArrived() {
    defaults_.set(lastCheckKey, runtime_.now().time_since_epoch().count());
    scheduleNextCheck();
    auto appcast = parseAppcast(feedBody_);
    feedBody_.clear();
    if (!appcast) {
        fail(UpdaterError::feedInvalid, appcast.error());
        return;
    }
    if (appcast->rejectedItems > 0) {
        log().warning("The feed has %{public}d items that were left out", appcast->rejectedItems);
    }
    const auto skipped = defaults_.string(skippedVersionKey);
    auto item = bestAppcastItem(*appcast, delegate_.allowedChannels(), options_.currentVersion,
                                skipped ? std::optional<std::string_view>(*skipped) : std::nullopt);
    if (!item) {
        if (!userInitiated_) {
            endSession();
            return;
        }
        std::weak_ptr<int> alive = lifetime_;
        const unsigned generation = generation_;
        stage_ = Stage::checking;
        driver_.showUpdateNotFound(error(1005, "no newer version on this channel"),
                                   [this, alive, generation] {
                                       if (!alive.expired() && generation == generation_) {
                                           endSession();
                                       }
                                   });
        return;
    }
    offer(*item);
}

void AppcastUpdater::offer(const AppcastItem& item) {
    item_ = item;
    stage_ = Stage::offering;
    log().info("Version %{public}s is available", item.version);
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    driver_.showUpdateFound(item, UserUpdateState{userInitiated_},
                            [this, alive, generation](UserUpdateChoice choice) {
                                if (alive.expired() || generation != generation_) {
                                    return;
                                }
                                switch (choice) {
                                    case UserUpdateChoice::install:
                                        beginDownload();
                                        break;
                                    case UserUpdateChoice::skip:
                                        defaults_.set(skippedVersionKey, item_->version);
                                        abortSession();
                                        break;
                                    case UserUpdateChoice::dismiss:
                                        abortSession();
                                        break;
                                }
                            });
}

void AppcastUpdater::beginDownload() {
    stage_ = Stage::downloading;
    received_ = 0;
    announced_.reset();
    std::error_code ec;
    fs::create_directories(options_.downloadFolder, ec);
    const std::string name = "tesvano-" + item_->version + ".tar.gz";
    partPath_ = options_.downloadFolder / (name + ".part");
    archivePath_ = options_.downloadFolder / name;
    file_ = std::fopen(partPath_.c_str(), "wb");
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    auto current = [this, alive, generation] {
        return !alive.expired() && generation == generation_;
    };
    driver_.showDownloadInitiated([this, current] {
        if (current() && (stage_ == Stage::downloading || stage_ == Stage::extracting)) {
            abortSession();
        }
    });
    if (file_ == nullptr) {
        fail(UpdaterError::downloadNotStored, "cannot write " + partPath_.string());
        return;
    }
    const std::uint64_t expected = item_->enclosure.length;
    driver_.showDownloadDidReceiveExpectedContentLength(expected);
    armStallTimer();
    HttpHandlers handlers;
    handlers.onResponse = [this, current, expected](std::optional<std::uint64_t> length) {
        if (current()) {
            announced_ = length;
        }
        if (current() && length && *length != expected) {
            request_.reset();
            fail(UpdaterError::lengthMismatch, "the server announces " + std::to_string(*length) +
                                                   " bytes, the feed " + std::to_string(expected));
        }
    };
    handlers.onData = [this, current, expected](std::span<const std::uint8_t> chunk) {
        if (!current()) {
            return;
        }
        armStallTimer();
        if (received_ + chunk.size() > expected) {
            request_.reset();
            fail(UpdaterError::lengthMismatch, "the download is longer than the feed says");
            return;
        }
        if (std::fwrite(chunk.data(), 1, chunk.size(), file_) != chunk.size()) {
            request_.reset();
            fail(UpdaterError::downloadNotStored, "cannot write " + partPath_.string());
            return;
        }
        received_ += chunk.size();
        driver_.showDownloadDidReceiveDataOfLength(chunk.size());
    };
    handlers.onFinished = [this, current](std::optional<std::string> failure) {
        if (current()) {
            downloadFinished(failure);
        }
    };
    log().info("Downloading %{public}s", item_->enclosure.url);
    request_ = transport_.get(item_->enclosure.url, std::move(handlers));
}

void AppcastUpdater::downloadFinished(const std::optional<std::string>& failure) {
    stallTimer_.cancel();
    request_.reset();
    const bool written = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failure) {
        fail(received_ < item_->enclosure.length ? UpdaterError::downloadTruncated
                                                 : UpdaterError::downloadFailed,
             "the download failed: " + *failure);
        return;
    }
    if (!written) {
        fail(UpdaterError::downloadNotStored, "cannot write " + partPath_.string());
        return;
    }
    if (announced_ && received_ < *announced_) {
        fail(UpdaterError::downloadTruncated, "the connection ended after " +
                                                  std::to_string(received_) + " of " +
                                                  std::to_string(*announced_) + " bytes");
        return;
    }
    if (received_ != item_->enclosure.length) {
        fail(UpdaterError::lengthMismatch, "received " + std::to_string(received_) +
                                               " bytes, the feed says " +
                                               std::to_string(item_->enclosure.length));
        return;
    }
    if (!verifyFileSignature(partPath_, item_->enclosure.edSignature, *options_.publicKey)) {
        fail(UpdaterError::signatureInvalid, "the signature of the download does not match");
        return;
    }
    std::error_code ec;
    fs::rename(partPath_, archivePath_, ec);
    if (ec) {
        fail(UpdaterError::downloadNotStored, "cannot keep the download: " + ec.message());
        return;
    }
    partPath_.clear();
    beginExtraction();
}

void AppcastUpdater::beginExtraction() {
    stage_ = Stage::extracting;
    driver_.showDownloadDidStartExtractingUpdate();
    stagingPath_ = options_.installation->root() /
                   (".staging-" + item_->version + "-" + std::to_string(generation_));
    std::error_code ec;
    fs::remove_all(stagingPath_, ec);
    fs::create_directories(stagingPath_, ec);
    if (ec) {
        fail(UpdaterError::unpackFailed, "cannot make " + stagingPath_.string());
        return;
    }
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    unpacker_ =
        ArchiveUnpacker::start(runtime_, archivePath_, stagingPath_,
                               [this, alive, generation](std::expected<void, std::string> result) {
                                   if (alive.expired() || generation != generation_) {
                                       return;
                                   }
                                   // The unpacker is done; it goes once its callback has returned.
                                   runtime_.post(Seconds(0), [this, alive, done = unpacker_.get()] {
                                       if (!alive.expired() && unpacker_.get() == done) {
                                           unpacker_.reset();
                                       }
                                   });
                                   extractionFinished(result);
                               });
    if (!unpacker_) {
        fail(UpdaterError::unpackFailed, "cannot run tar");
    }
}

void AppcastUpdater::extractionFinished(const std::expected<void, std::string>& result) {
    if (!result) {
        fail(UpdaterError::unpackFailed, "cannot unpack the update: " + result.error());
        return;
    }
    // The archive holds one folder (tesvano-<version>/) or the prefix itself.
    fs::path unpacked = stagingPath_;
    std::error_code ec;
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(stagingPath_, ec)) {
        entries.push_back(entry.path());
    }
    if (entries.size() == 1 && fs::is_directory(entries.front(), ec) &&
        !fs::is_symlink(entries.front(), ec)) {
        unpacked = entries.front();
    }
    if (auto adopted = options_.installation->adopt(unpacked, item_->version); !adopted) {
        fail(UpdaterError::archiveMalformed, adopted.error());
        return;
    }
    adopted_ = true;
    fs::remove_all(stagingPath_, ec);
    stagingPath_.clear();
    driver_.showExtractionReceivedProgress(1.0);
    stage_ = Stage::ready;
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    driver_.showReadyToInstallAndRelaunch([this, alive, generation](UserUpdateChoice choice) {
        if (alive.expired() || generation != generation_) {
            return;
        }
        if (choice == UserUpdateChoice::install) {
            install();
        } else {
            abortSession();
        }
    });
}

void AppcastUpdater::install() {
    stage_ = Stage::installing;
    driver_.showInstallingUpdate(false, [] {});
    Installation& installation = *options_.installation;
    const std::string previous = installation.currentVersion().value_or(options_.currentVersion);
    if (auto switched = installation.switchTo(item_->version, previous); !switched) {
        fail(UpdaterError::linkSwitchFailed, switched.error());
        return;
    }
    adopted_ = false;  // it is the current version now
    const bool relaunched =
        options_.relaunch && options_.relaunch(installation.currentExecutable());
    if (!relaunched) {
        // Leave the version that runs in place.
        if (installation.switchTo(previous, item_->version)) {
            installation.confirmStart(previous);
        }
        adopted_ = true;
        fail(UpdaterError::relaunchFailed, "cannot start the new version");
        return;
    }
    log().notice("Installed version %{public}s; relaunching", item_->version);
    std::error_code ec;
    fs::remove(archivePath_, ec);
    if (options_.terminate) {
        options_.terminate();
    }
}

void AppcastUpdater::fail(int code, std::string description) {
    stallTimer_.cancel();
    request_.reset();
    log().error("Update failed (%{public}d): %{public}s", code, description);
    cleanUp();
    const bool shown = userInitiated_ || stage_ != Stage::checking;
    if (!shown) {
        endSession();
        return;
    }
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    driver_.showUpdaterError(error(code, std::move(description)), [this, alive, generation] {
        if (!alive.expired() && generation == generation_) {
            driver_.dismissUpdateInstallation();
            endSession();
        }
    });
}

void AppcastUpdater::abortSession() {
    stallTimer_.cancel();
    request_.reset();
    if (stage_ == Stage::extracting) {
        unpacker_.reset();
    }
    cleanUp();
    driver_.dismissUpdateInstallation();
    endSession();
}

void AppcastUpdater::endSession() {
    ++generation_;
    stage_ = Stage::none;
    userInitiated_ = false;
    stallTimer_.cancel();
    request_.reset();
}

void AppcastUpdater::cleanUp() {
    std::error_code ec;
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!partPath_.empty()) {
        fs::remove(partPath_, ec);
        partPath_.clear();
    }
    if (!archivePath_.empty()) {
        fs::remove(archivePath_, ec);
        archivePath_.clear();
    }
    if (!stagingPath_.empty()) {
        fs::remove_all(stagingPath_, ec);
        stagingPath_.clear();
    }
    if (adopted_ && item_ && options_.installation &&
        options_.installation->currentVersion() != item_->version) {
        fs::remove_all(options_.installation->versionFolder(item_->version), ec);
    }
    adopted_ = false;
}

}  // namespace tesvano::platform
