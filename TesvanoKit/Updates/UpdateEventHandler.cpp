#include "TesvanoKit/Updates/UpdateEventHandler.h"

#include <algorithm>

#include "Platform/Log/Log.h"

namespace tesvano {

using platform::UserUpdateChoice;

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("Updater");
    return logger;
}

}  // namespace

TesvanoUserDriver::TesvanoUserDriver(UpdateViewModel& model, platform::Runtime& runtime)
    : model_(model), runtime_(runtime) {}

void TesvanoUserDriver::later(std::function<void()> work) {
    std::weak_ptr<int> alive = lifetime_;
    runtime_.post(platform::Seconds(0), [alive, work = std::move(work)] {
        if (!alive.expired()) {
            work();
        }
    });
}

void TesvanoUserDriver::showUpdatePermissionRequest(
    std::function<void(platform::UpdatePermissionResponse)> reply) {
    reply(platform::UpdatePermissionResponse{true, false});
}

void TesvanoUserDriver::showUserInitiatedUpdateCheck(std::function<void()> cancellation) {
    userInitiated_ = true;
    model_.setPhase(UpdatePhase::of(UpdatePhase::Kind::checking));
    // Cancelling ends the user's check: a later background result must not pop an alert.
    model_.dismissAction = [this, alive = std::weak_ptr<int>(lifetime_),
                            cancel = std::move(cancellation)] {
        if (!alive.expired()) {
            userInitiated_ = false;
        }
        cancel();
    };
}

void TesvanoUserDriver::showUpdateFound(const platform::AppcastItem& item,
                                        platform::UserUpdateState state,
                                        std::function<void(UserUpdateChoice)> reply) {
    model_.dismiss();
    userInitiated_ = false;
    model_.setAvailableVersion(item.displayVersion);
    model_.setPublishedDate(item.date);
    model_.setIsBetaChannel(item.channel == std::optional<std::string>("beta"));
    // An item without notes shows none, not those of the item offered before.
    model_.setReleaseNotesMarkdown(item.releaseNotes);
    // The replies go in before the phase announces the offer: the window draws "Skip This
    // Version" by whether a skip reply is there.
    auto shared = std::make_shared<std::function<void(UserUpdateChoice)>>(std::move(reply));
    model_.installAction = [shared] { (*shared)(UserUpdateChoice::install); };
    model_.skipAction = [shared] { (*shared)(UserUpdateChoice::skip); };
    model_.dismissAction = [shared] { (*shared)(UserUpdateChoice::dismiss); };
    model_.setPhase(UpdatePhase::found(item.displayVersion));
    if (state.userInitiated) {
        if (onUpdateAvailable) {
            onUpdateAvailable();
        }
    } else if (onGentleUpdateAvailable) {
        onGentleUpdateAvailable(item.displayVersion);
    }
}

void TesvanoUserDriver::showUpdateReleaseNotes(const std::string& data) {
    if (!data.empty()) {
        model_.setReleaseNotesMarkdown(data);
    }
}

void TesvanoUserDriver::showUpdateReleaseNotesFailedToDownload(const platform::UpdaterError&) {}

void TesvanoUserDriver::showUpdateNotFound(const platform::UpdaterError&,
                                           std::function<void()> acknowledgement) {
    later([this, ack = std::move(acknowledgement)] {
        model_.setPhase(UpdatePhase::of(UpdatePhase::Kind::upToDate));
        if (userInitiated_ && onUserCheckFinished) {
            onUserCheckFinished(UpdateCheckOutcome::isUpToDate());
        }
        userInitiated_ = false;
        ack();
    });
}

void TesvanoUserDriver::showUpdaterError(const platform::UpdaterError& error,
                                         std::function<void()> acknowledgement) {
    later([this, error, ack = std::move(acknowledgement)] {
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

void TesvanoUserDriver::showDownloadInitiated(std::function<void()> cancellation) {
    expectedLength_ = 0;
    receivedLength_ = 0;
    downloadStart_.reset();
    lastReadoutAt_.reset();
    model_.setDownloadedBytes(0);
    model_.setExpectedBytes(0);
    model_.setDownloadSpeed(0);
    model_.setPhase(UpdatePhase::downloading(0));
    model_.dismissAction = std::move(cancellation);
}

void TesvanoUserDriver::showDownloadDidReceiveExpectedContentLength(std::uint64_t length) {
    expectedLength_ = length;
    model_.setExpectedBytes(length);
}

void TesvanoUserDriver::showDownloadDidReceiveDataOfLength(std::uint64_t length) {
    const platform::Seconds now = runtime_.uptime();
    if (!downloadStart_) {
        downloadStart_ = now;
    }
    receivedLength_ += length;
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

void TesvanoUserDriver::showDownloadDidStartExtractingUpdate() {
    model_.setPhase(UpdatePhase::extracting(0));
}

void TesvanoUserDriver::showExtractionReceivedProgress(double progress) {
    model_.setPhase(UpdatePhase::extracting(progress));
}

void TesvanoUserDriver::showReadyToInstallAndRelaunch(std::function<void(UserUpdateChoice)> reply) {
    auto shared = std::make_shared<std::function<void(UserUpdateChoice)>>(std::move(reply));
    model_.installAction = [shared] { (*shared)(UserUpdateChoice::install); };
    model_.dismissAction = [shared] { (*shared)(UserUpdateChoice::dismiss); };
    model_.setPhase(UpdatePhase::of(UpdatePhase::Kind::readyToInstall));
}

void TesvanoUserDriver::showInstallingUpdate(bool, std::function<void()>) {
    model_.setPhase(UpdatePhase::of(UpdatePhase::Kind::installing));
}

void TesvanoUserDriver::showUpdateInstalledAndRelaunched(bool,
                                                         std::function<void()> acknowledgement) {
    later([this, ack = std::move(acknowledgement)] {
        model_.reset();
        if (onUpdateSessionEnded) {
            onUpdateSessionEnded();
        }
        ack();
    });
}

void TesvanoUserDriver::dismissUpdateInstallation() {
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

void TesvanoUserDriver::showUpdateInFocus() {}

}  // namespace tesvano
