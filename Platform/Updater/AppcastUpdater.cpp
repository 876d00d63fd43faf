#include "Platform/Updater/AppcastUpdater.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "Platform/Log/Log.h"
#include "Platform/Updater/TreeRemoval.h"

namespace tesvano::platform {

namespace fs = std::filesystem;

namespace {

const Logger& log() {
    static const Logger logger("Updater");
    return logger;
}

std::uint64_t freeBytes(const fs::path& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace

AppcastUpdater::AppcastUpdater(Runtime& runtime, Defaults& defaults, HttpTransport& transport,
                               UpdateEvents& events, UpdaterDelegate& delegate, Options options)
    : runtime_(runtime),
      defaults_(defaults),
      transport_(transport),
      events_(events),
      delegate_(delegate),
      options_(std::move(options)) {}

AppcastUpdater::~AppcastUpdater() {
    request_.reset();
    writer_.reset();
    verification_.reset();
    cleanUp();  // an unpacking still running is left to clear its folder itself
}

template <typename T>
void AppcastUpdater::dropAfterReturn(std::unique_ptr<T>& holder) {
    // The object is calling us back; it goes once that call has returned.
    std::weak_ptr<int> alive = lifetime_;
    runtime_.post(Seconds(0), [&holder, alive, done = holder.get()] {
        if (!alive.expired() && holder.get() == done) {
            holder.reset();
        }
    });
}

HttpRules AppcastUpdater::rules() const {
    // Plain http to this machine only for a feed that is itself there (a local test server):
    // a remote feed cannot send the updater to a server on this machine.
    return HttpRules{isLoopbackHttpAddress(delegate_.feedURLString())};
}

UpdaterError AppcastUpdater::error(int code, std::string description) const {
    return UpdaterError{UpdaterError::updaterDomain, code, std::move(description)};
}

std::expected<void, UpdaterError> AppcastUpdater::startUpdater() {
    if (delegate_.feedURLString().empty()) {
        return std::unexpected(error(UpdaterError::noFeedAddress, "this build names no feed"));
    }
    if (!isSecureAddress(delegate_.feedURLString())) {
        return std::unexpected(
            error(UpdaterError::insecureFeedAddress,
                  "the feed address is not https: " + delegate_.feedURLString()));
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
    if (options_.downloadFolder.empty() || !options_.downloadFolder.is_absolute()) {
        return std::unexpected(error(UpdaterError::notSelfUpdating,
                                     "there is no folder to download updates into (is HOME set?)"));
    }
    // What an interrupted update left behind.
    options_.installation->sweep();
    started_ = true;
    // Daily checks are on until the user turns them off.
    if (!defaults_.boolean(automaticChecksKey)) {
        setAutomaticallyChecksForUpdates(true);
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

void AppcastUpdater::armDeadline(Seconds deadline) {
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    deadline_ = runtime_.after(deadline, [this, alive, generation, deadline] {
        if (alive.expired() || generation != generation_) {
            return;
        }
        request_.reset();
        fail(stage_ == Stage::checking ? UpdaterError::feedUnreachable
                                       : UpdaterError::downloadStalled,
             "the transfer did not end within " + std::to_string(deadline.count()) + " s");
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
        // A cancellation that comes once the check is over (the handler answers an offer's
        // predecessor this way) changes nothing.
        events_.checkStarted([this, current] {
            if (current() && stage_ == Stage::checking) {
                abortSession();
            }
        });
    }
    const std::string url = delegate_.feedURLString();
    log().info("Checking %{public}s", url);
    armStallTimer();
    armDeadline(options_.feedDeadline);
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
        deadline_.cancel();
        request_.reset();
        if (failure) {
            fail(UpdaterError::feedUnreachable, "cannot read the feed: " + *failure);
            return;
        }
        feedArrived();
    };
    request_ = transport_.get(url, rules(), std::move(handlers));
}

void AppcastUpdater::feedArrived() {
    defaults_.set(lastCheckKey, runtime_.now().time_since_epoch().count());
    scheduleNextCheck();
    // Nothing in the feed is believed before its signature is checked.
    const auto body = verifiedFeedBody(feedBody_, *options_.publicKey);
    if (!body) {
        feedBody_.clear();
        fail(UpdaterError::feedSignatureInvalid, body.error());
        return;
    }
    auto appcast = parseAppcast(*body);
    feedBody_.clear();
    if (!appcast) {
        fail(UpdaterError::feedInvalid, appcast.error());
        return;
    }
    if (appcast->architecture != options_.architecture) {
        fail(UpdaterError::feedForOtherArchitecture,
             "the feed is for " +
                 (appcast->architecture.empty() ? std::string("no named architecture")
                                                : appcast->architecture) +
                 ", this is " + options_.architecture);
        return;
    }
    if (!freshFeed(*appcast)) {
        return;
    }
    // Archives only where this feed's requests may go.
    const auto refused = std::erase_if(appcast->items, [&](const AppcastItem& item) {
        return !mayFetch(item.enclosure.url, rules());
    });
    appcast->rejectedItems += static_cast<int>(refused);
    // A build that did not start before is offered again only when the user asks.
    if (!userInitiated_) {
        std::erase_if(appcast->items, [&](const AppcastItem& item) {
            return options_.installation->failedBefore(item.version, item.enclosure.edSignature);
        });
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
        events_.noUpdateFound([this, alive, generation] {
            if (!alive.expired() && generation == generation_) {
                endSession();
            }
        });
        return;
    }
    offer(*item);
}

bool AppcastUpdater::freshFeed(const Appcast& appcast) {
    // A signed feed stays signed: replayed once a newer one is out, it would offer again what
    // that one withdrew. So no feed older than one already read is believed. A feed without a
    // time (made before feeds carried one) counts as older than every feed that has one: it is
    // read only until the first such feed has been.
    // How far ahead of this computer's clock a feed may be dated: clocks differ a little, but
    // a time kept from a feed dated years ahead would shut out every feed until then.
    const Seconds allowedAhead(86400);
    const WallTime latest = runtime_.now() + allowedAhead;
    const std::optional<double> newest = [&]() -> std::optional<double> {
        const auto kept = defaults_.real(newestFeedKey);
        if (!kept || WallTime(Seconds(*kept)) <= latest) {
            return kept;
        }
        // Kept before feeds dated ahead were refused; it would refuse every genuine feed.
        log().notice(
            "The newest feed time kept here (%{public}s) is more than a day ahead of "
            "this computer's clock (%{public}s); it is forgotten",
            formatRFC3339(WallTime(Seconds(*kept))), formatRFC3339(runtime_.now()));
        defaults_.remove(newestFeedKey);
        return std::nullopt;
    }();
    if (appcast.published && *appcast.published > latest) {
        fail(UpdaterError::feedFromTheFuture,
             "the feed says it was published at " + formatRFC3339(*appcast.published) +
                 ", more than a day after this computer's clock (" + formatRFC3339(runtime_.now()) +
                 "); it is refused and its time not kept");
        return false;
    }
    if (!appcast.published) {
        if (newest) {
            fail(UpdaterError::feedOlderThanSeen,
                 "the feed carries no publication time, but a feed published at " +
                     formatRFC3339(WallTime(Seconds(*newest))) + " was read before");
            return false;
        }
        return true;
    }
    const double published = appcast.published->time_since_epoch().count();
    if (newest && published < *newest) {
        fail(UpdaterError::feedOlderThanSeen,
             "the feed was published at " + formatRFC3339(*appcast.published) +
                 ", before the newest one read here (" + formatRFC3339(WallTime(Seconds(*newest))) +
                 "): an old feed sent again");
        return false;
    }
    if (!newest || published > *newest) {
        defaults_.set(newestFeedKey, published);
    }
    return true;
}

void AppcastUpdater::offer(const AppcastItem& item) {
    item_ = item;
    stage_ = Stage::offering;
    log().info("Version %{public}s is available", item.version);
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    events_.updateFound(item, userInitiated_, [this, alive, generation](UpdateChoice choice) {
        if (alive.expired() || generation != generation_) {
            return;
        }
        switch (choice) {
            case UpdateChoice::install:
                beginDownload();
                break;
            case UpdateChoice::skip:
                defaults_.set(skippedVersionKey, item_->version);
                abortSession();
                break;
            case UpdateChoice::dismiss:
                abortSession();
                break;
        }
    });
}

bool AppcastUpdater::roomFor(std::uint64_t length, std::string& why) const {
    // The archive, then its unpacked content beside the running version.
    const std::uint64_t margin = 16ull * 1024 * 1024;
    if (freeBytes(options_.downloadFolder) < length + margin) {
        why = "not enough free space in " + options_.downloadFolder.string();
        return false;
    }
    if (freeBytes(options_.installation->root()) < 3 * length + margin) {
        why = "not enough free space in " + options_.installation->root().string();
        return false;
    }
    return true;
}

void AppcastUpdater::beginDownload() {
    stage_ = Stage::downloading;
    received_ = 0;
    announced_.reset();
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    auto current = [this, alive, generation] {
        return !alive.expired() && generation == generation_;
    };
    events_.downloadStarted([this, current] {
        if (current() && (stage_ == Stage::downloading || stage_ == Stage::extracting)) {
            abortSession();
        }
    });
    const std::uint64_t expected = item_->enclosure.length;
    if (expected > options_.maxDownloadBytes) {
        fail(UpdaterError::downloadTooLarge,
             "the feed announces " + std::to_string(expected) + " bytes; at most " +
                 std::to_string(options_.maxDownloadBytes) + " are accepted");
        return;
    }
    std::error_code ec;
    fs::create_directories(options_.downloadFolder, ec);
    fs::permissions(options_.downloadFolder, fs::perms::owner_all, fs::perm_options::replace, ec);
    std::string why;
    if (!roomFor(expected, why)) {
        fail(UpdaterError::downloadNotStored, why);
        return;
    }
    // Named only for the moment it takes to unlink it: nobody else can open it afterwards,
    // and a kill leaves nothing behind.
    std::string pattern = (options_.downloadFolder / "tesvano-update-XXXXXX").string();
    archiveFd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (archiveFd_ < 0) {
        fail(UpdaterError::downloadNotStored,
             "cannot write in " + options_.downloadFolder.string() + ": " + std::strerror(errno));
        return;
    }
    ::unlink(pattern.c_str());
    writer_ = std::make_unique<DownloadWriter>(
        runtime_, archiveFd_,
        DownloadWriter::Handlers{[this, current] {
                                     if (current() && request_) {
                                         request_->resume();
                                     }
                                 },
                                 [this, current](std::optional<std::string> failure) {
                                     if (current()) {
                                         dropAfterReturn(writer_);
                                         downloadStored(failure);
                                     }
                                 }});
    if (!writer_->started()) {
        writer_.reset();
        fail(UpdaterError::downloadNotStored, "cannot start writing the download");
        return;
    }
    events_.downloadSizeKnown(expected);
    armStallTimer();
    armDeadline(std::max(Seconds(120), Seconds(static_cast<double>(expected) /
                                               std::max(1.0, options_.minimumRate))));
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
        // The disk is the writer's; while it lags, the server waits.
        if (!writer_->write(chunk) && request_) {
            request_->pause();
        }
        received_ += chunk.size();
        events_.downloadReceived(chunk.size());
    };
    handlers.onFinished = [this, current](std::optional<std::string> failure) {
        if (current()) {
            downloadFinished(failure);
        }
    };
    log().info("Downloading %{public}s", item_->enclosure.url);
    request_ = transport_.get(item_->enclosure.url, rules(), std::move(handlers));
}

void AppcastUpdater::downloadFinished(const std::optional<std::string>& failure) {
    stallTimer_.cancel();
    deadline_.cancel();
    request_.reset();
    if (failure) {
        fail(received_ < item_->enclosure.length ? UpdaterError::downloadTruncated
                                                 : UpdaterError::downloadFailed,
             "the download failed: " + *failure);
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
    // The rest goes to the disk on the writer's thread; the check starts once it is there.
    writer_->finish();
}

void AppcastUpdater::downloadStored(const std::optional<std::string>& failure) {
    if (failure) {
        fail(UpdaterError::downloadNotStored, *failure);
        return;
    }
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    // The signature is checked streaming the file on a thread of its own; going away cancels
    // the check, which stops within one piece.
    verification_ = std::make_unique<BackgroundTask<bool>>(
        runtime_,
        [fd = sharedDescriptor(archiveFd_), signature = item_->enclosure.edSignature,
         key = *options_.publicKey](const std::atomic<bool>* cancelled) {
            return verifyStreamSignature(*fd, signature, key, cancelled);
        },
        [this, alive, generation](bool good) {
            if (alive.expired() || generation != generation_) {
                return;
            }
            dropAfterReturn(verification_);
            verified(good);
        });
    if (!verification_->started()) {
        verification_.reset();
        fail(UpdaterError::signatureInvalid, "cannot start checking the signature");
    }
}

void AppcastUpdater::verified(bool good) {
    if (!good) {
        fail(UpdaterError::signatureInvalid, "the signature of the download does not match");
        return;
    }
    beginExtraction();
}

void AppcastUpdater::beginExtraction() {
    stage_ = Stage::extracting;
    events_.unpacking(0.0);
    auto staging = options_.installation->makeStaging();
    if (!staging) {
        fail(UpdaterError::unpackFailed, staging.error());
        return;
    }
    stagingPath_ = *staging;
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    unpacker_ = ArchiveUnpacker::start(
        runtime_, archiveFd_, stagingPath_,
        [this, alive, generation](std::expected<void, std::string> result) {
            if (alive.expired() || generation != generation_) {
                return;
            }
            dropAfterReturn(unpacker_);
            extractionFinished(result);
        },
        options_.unpackLimits);
    if (!unpacker_) {
        fail(UpdaterError::unpackFailed, "cannot start unpacking");
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
    static_cast<void>(removeTree(stagingPath_));
    stagingPath_.clear();
    events_.unpacking(1.0);
    stage_ = Stage::ready;
    std::weak_ptr<int> alive = lifetime_;
    const unsigned generation = generation_;
    events_.readyToInstall([this, alive, generation](UpdateChoice choice) {
        if (alive.expired() || generation != generation_) {
            return;
        }
        if (choice == UpdateChoice::install) {
            install();
        } else {
            abortSession();
        }
    });
}

void AppcastUpdater::install() {
    stage_ = Stage::installing;
    events_.installing();
    Installation& installation = *options_.installation;
    const std::string previous = installation.currentVersion().value_or(options_.currentVersion);
    if (auto switched =
            installation.switchTo(item_->version, previous, item_->enclosure.edSignature);
        !switched) {
        fail(UpdaterError::linkSwitchFailed, switched.error());
        return;
    }
    adopted_ = false;  // it is the current version now
    const auto relaunched =
        options_.relaunch
            ? options_.relaunch(installation)
            : std::expected<void, std::string>(std::unexpected(std::string("no way to relaunch")));
    if (!relaunched) {
        // Leave the version that runs in place.
        if (installation.switchTo(previous, item_->version)) {
            installation.confirmStart(previous);
        }
        adopted_ = true;
        fail(UpdaterError::relaunchFailed, "cannot start the new version: " + relaunched.error());
        return;
    }
    log().notice("Installed version %{public}s; relaunching", item_->version);
    cleanUp();
    if (options_.terminate) {
        options_.terminate();
    }
}

void AppcastUpdater::fail(int code, std::string description) {
    stallTimer_.cancel();
    deadline_.cancel();
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
    events_.failed(error(code, std::move(description)), [this, alive, generation] {
        if (!alive.expired() && generation == generation_) {
            events_.sessionEnded();
            endSession();
        }
    });
}

void AppcastUpdater::abortSession() {
    stallTimer_.cancel();
    deadline_.cancel();
    request_.reset();
    verification_.reset();
    cleanUp();
    if (stage_ == Stage::extracting) {
        unpacker_.reset();  // cancelled, not waited for
    }
    events_.sessionEnded();
    endSession();
}

void AppcastUpdater::endSession() {
    ++generation_;
    stage_ = Stage::none;
    userInitiated_ = false;
    stallTimer_.cancel();
    deadline_.cancel();
    request_.reset();
}

void AppcastUpdater::cleanUp() {
    writer_.reset();  // its thread writes the file
    if (verification_ && archiveFd_ >= 0) {
        verification_.reset();  // its thread reads the file
    }
    if (archiveFd_ >= 0) {
        ::close(archiveFd_);
        archiveFd_ = -1;
    }
    if (!stagingPath_.empty()) {
        // An unpacking that still runs clears its folder itself once it has stopped: nothing
        // here waits for it.
        if (!(unpacker_ && unpacker_->abandon())) {
            static_cast<void>(removeTree(stagingPath_));
        }
        stagingPath_.clear();
    }
    if (adopted_ && item_ && options_.installation) {
        options_.installation->discard(item_->version);
    }
    adopted_ = false;
}

}  // namespace tesvano::platform
