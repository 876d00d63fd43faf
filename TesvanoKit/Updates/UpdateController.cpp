#include "TesvanoKit/Updates/UpdateController.h"

#include "Platform/Log/Log.h"

namespace tesvano {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("Updater");
    return logger;
}

}  // namespace

UpdateController::UpdateController(platform::Runtime& runtime, const platform::Defaults& defaults,
                                   std::string feedURL, MakeUpdater makeUpdater)
    : events_(model_, runtime),
      delegate_(defaults, feedURL),
      feed_(std::move(feedURL)),
      makeUpdater_(std::move(makeUpdater)) {
    std::weak_ptr<int> alive = lifetime_;
    events_.onUpdateAvailable = [this, alive] {
        if (alive.expired()) {
            return;
        }
        setPending(std::nullopt);
        if (onPresentUpdateWindow) {
            onPresentUpdateWindow();
        }
    };
    events_.onGentleUpdateAvailable = [this, alive](const std::string& version) {
        if (!alive.expired()) {
            setPending(version);
        }
    };
    events_.onUserCheckFinished = [this, alive](const UpdateCheckOutcome& outcome) {
        if (!alive.expired() && onCheckOutcome) {
            onCheckOutcome(outcome);
        }
    };
    events_.onUpdateSessionEnded = [this, alive] {
        if (!alive.expired()) {
            setPending(std::nullopt);
        }
    };
}

void UpdateController::start() {
    if (started_) {
        return;
    }
    started_ = true;
    std::unique_ptr<platform::Updater> updater =
        makeUpdater_ ? makeUpdater_(events_, delegate_) : nullptr;
    if (!updater) {
        startError_ = platform::UpdaterError{platform::UpdaterError::updaterDomain,
                                             platform::UpdaterError::noFeedAddress,
                                             "this build has no updater"};
        setCanCheck(false);
        return;
    }
    if (auto started = updater->startUpdater(); !started) {
        // Nothing retries; the Updates pane says why checking is unavailable.
        startError_ = started.error();
        log().error("The updater did not start: %{public}s (%{public}d)",
                    started.error().description, started.error().code);
        setCanCheck(false);
        return;
    }
    updater_ = std::move(updater);
    setCanCheck(true);
}

void UpdateController::checkForUpdates() {
    if (pending_) {
        if (onPresentUpdateWindow) {
            onPresentUpdateWindow();
        }
        return;
    }
    if (updater_) {
        updater_->checkForUpdates();
    }
}

void UpdateController::resetUpdateCycle() {
    model_.dismiss();
    setPending(std::nullopt);
    if (updater_) {
        updater_->resetUpdateCycle();
    }
}

void UpdateController::setPending(std::optional<std::string> version) {
    if (pending_ == version) {
        return;
    }
    pending_ = std::move(version);
    if (onStateChange) {
        onStateChange();
    }
}

void UpdateController::setCanCheck(bool canCheck) {
    if (canCheck_ == canCheck) {
        return;
    }
    canCheck_ = canCheck;
    if (onStateChange) {
        onStateChange();
    }
}

}  // namespace tesvano
