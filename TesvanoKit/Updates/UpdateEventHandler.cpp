#include "TesvanoKit/Updates/UpdateEventHandler.h"

#include <algorithm>

#include "Platform/Log/Log.h"

namespace tesvano {

using platform::UpdateChoice;

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("Updater");
    return logger;
}

}  // namespace

UpdateEventHandler::UpdateEventHandler(UpdateViewModel& model, platform::Runtime& runtime)
    : model_(model), runtime_(runtime) {}

void UpdateEventHandler::later(std::function<void()> work) {
    std::weak_ptr<int> alive = lifetime_;
    runtime_.post(platform::Seconds(0), [alive, work = std::move(work)] {
        if (!alive.expired()) {
            work();
        }
    });
}

void UpdateEventHandler::checkStarted(std::function<void()> cancel) {
    userInitiated_ = true;
    model_.setPhase(UpdatePhase::of(UpdatePhase::Kind::checking));
    // Cancelling ends the user's check: a later background result must not pop an alert.
    model_.dismissAction = [this, alive = std::weak_ptr<int>(lifetime_),
                            cancelCheck = std::move(cancel)] {
        if (!alive.expired()) {
            userInitiated_ = false;
        }
        cancelCheck();
    };
}

void UpdateEventHandler::updateFound(const platform::AppcastItem& item, bool userInitiated,
                                     std::function<void(UpdateChoice)> reply) {
    model_.dismiss();
    userInitiated_ = false;
    model_.setAvailableVersion(item.displayVersion);
    model_.setPublishedDate(item.date);
    model_.setIsBetaChannel(item.channel == std::optional<std::string>("beta"));
    // An item without notes shows none, not those of the item offered before.
    model_.setReleaseNotesMarkdown(item.releaseNotes);
    // The replies go in before the phase announces the offer: the window draws "Skip This
    // Version" by whether a skip reply is there.
    auto shared = std::make_shared<std::function<void(UpdateChoice)>>(std::move(reply));
    model_.installAction = [shared] { (*shared)(UpdateChoice::install); };
    model_.skipAction = [shared] { (*shared)(UpdateChoice::skip); };
    model_.dismissAction = [shared] { (*shared)(UpdateChoice::dismiss); };
    model_.setPhase(UpdatePhase::found(item.displayVersion));
    if (userInitiated) {
        if (onUpdateAvailable) {
            onUpdateAvailable();
        }
    } else if (onGentleUpdateAvailable) {
        onGentleUpdateAvailable(item.displayVersion);
    }
}

void UpdateEventHandler::noUpdateFound(std::function<void()> acknowledge) {
    later([this, ack = std::move(acknowledge)] {
        model_.setPhase(UpdatePhase::of(UpdatePhase::Kind::upToDate));
        if (userInitiated_ && onUserCheckFinished) {
            onUserCheckFinished(UpdateCheckOutcome::isUpToDate());
        }
        userInitiated_ = false;
        ack();
    });
}

void UpdateEventHandler::failed(const platform::UpdaterError& error,
                                std::function<void()> acknowledge) {
    later([this, error, ack = std::move(acknowledge)] {
        log().error("Updater error: %{public}s (%{public}s %{public}d)", error.description,
                    error.domain, error.code);
        const UpdateFailure failure = updateFailure(error);
        model_.setPhase(UpdatePhase::error(failure));
        if (userInitiated_ && onUserCheckFinished) {
            onUserCheckFinished(UpdateCheckOutcome::failed(failure));
        }
        userInitiated_ = false;
        ack();
    });
}

void UpdateEventHandler::downloadStarted(std::function<void()> cancel) {
    expectedLength_ = 0;
    receivedLength_ = 0;
    downloadStart_.reset();
    lastReadoutAt_.reset();
    model_.setDownloadedBytes(0);
    model_.setExpectedBytes(0);
    model_.setDownloadSpeed(0);
    model_.setPhase(UpdatePhase::downloading(0));
    model_.dismissAction = std::move(cancel);
}

void UpdateEventHandler::downloadSizeKnown(std::uint64_t bytes) {
    expectedLength_ = bytes;
    model_.setExpectedBytes(bytes);
}

void UpdateEventHandler::downloadReceived(std::uint64_t bytes) {
    const platform::Seconds now = runtime_.uptime();
    if (!downloadStart_) {
        downloadStart_ = now;
    }
    receivedLength_ += bytes;
    if (!lastReadoutAt_ || now - *lastReadoutAt_ >= platform::Seconds(1)) {
        lastReadoutAt_ = now;
        model_.setDownloadedBytes(receivedLength_);
        const double elapsed = (now - *downloadStart_).count();
        if (elapsed > 0.5) {
            model_.setDownloadSpeed(static_cast<double>(receivedLength_) / elapsed);
        }
    }
    double fraction = expectedLength_ != 0 ? static_cast<double>(receivedLength_) /
                                                 static_cast<double>(expectedLength_)
                                           : 0.0;
    model_.setPhase(UpdatePhase::downloading(std::min(fraction, 1.0)));
}

void UpdateEventHandler::unpacking(double fraction) {
    model_.setPhase(UpdatePhase::extracting(fraction));
}

void UpdateEventHandler::readyToInstall(std::function<void(UpdateChoice)> reply) {
    auto shared = std::make_shared<std::function<void(UpdateChoice)>>(std::move(reply));
    model_.installAction = [shared] { (*shared)(UpdateChoice::install); };
    model_.dismissAction = [shared] { (*shared)(UpdateChoice::dismiss); };
    model_.setPhase(UpdatePhase::of(UpdatePhase::Kind::readyToInstall));
}

void UpdateEventHandler::installing() {
    model_.setPhase(UpdatePhase::of(UpdatePhase::Kind::installing));
}

void UpdateEventHandler::sessionEnded() {
    // Whatever ended the update also ended any check the user was waiting on.
    userInitiated_ = false;
    if (model_.phase().kind == UpdatePhase::Kind::error) {
        model_.installAction = nullptr;
        model_.skipAction = nullptr;
        model_.dismissAction = nullptr;
    } else {
        model_.reset();
    }
    if (onUpdateSessionEnded) {
        onUpdateSessionEnded();
    }
}

}  // namespace tesvano
