#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Defaults/Defaults.h"
#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/Updater.h"
#include "TesvanoKit/Updates/UpdateChannel.h"
#include "TesvanoKit/Updates/UpdateEventHandler.h"
#include "TesvanoKit/Updates/UpdateViewModel.h"

namespace tesvano {

// Answers the updater's questions: the channels allowed by "usesBetaChannel" (read afresh
// each time, so a change applies from the next check) and the feed address of this build.
class UpdaterDelegate final : public platform::UpdaterDelegate {
public:
    UpdaterDelegate(const platform::Defaults& defaults, std::string feedURL)
        : defaults_(defaults), feedURL_(std::move(feedURL)) {}
    std::set<std::string> allowedChannels() const override {
        return tesvano::allowedChannels(
            updateChannelForFlag(defaults_.boolean(usesBetaChannelKey).value_or(false)));
    }
    std::string feedURLString() const override { return feedURL_; }

private:
    const platform::Defaults& defaults_;
    std::string feedURL_;
};

// The one owner of the self-update machinery: the updater, the handler of its events, its
// delegate and the update model. Turns what the handler reports into the pending version (the
// menu's "Install Update…" and the tab badge) and requests to show the update window.
class UpdateController {
public:
    using Phase = UpdatePhase::Kind;
    // Makes the updater on the event handler and delegate it is given; none when this build
    // has no updater at all.
    using MakeUpdater = std::function<std::unique_ptr<platform::Updater>(
        platform::UpdateEvents&, platform::UpdaterDelegate&)>;

    UpdateController(platform::Runtime& runtime, const platform::Defaults& defaults,
                     std::string feedURL, MakeUpdater makeUpdater);
    UpdateController(const UpdateController&) = delete;
    UpdateController& operator=(const UpdateController&) = delete;

    // Once, at start-up: creates and starts the updater. A failure is logged and kept (see
    // startError); nothing retries.
    void start();
    // With a pending version only brings the found update forward; else a check on the
    // user's behalf (nothing without an updater).
    void checkForUpdates();
    // After a change of channel: the offer is dismissed, the pending version cleared and the
    // schedule restarted.
    void resetUpdateCycle();

    const std::optional<std::string>& pendingUpdateVersion() const { return pending_; }
    bool canCheckForUpdates() const { return canCheck_; }
    Phase phase() const { return model_.phase().kind; }
    // Called when the update window closes.
    void dismiss() { model_.dismiss(); }
    UpdateViewModel& model() { return model_; }
    UpdateEventHandler& events() { return events_; }
    platform::Updater* updater() { return updater_.get(); }
    // This build's feed address; empty when it checks no feed.
    const std::string& feedURL() const { return feed_; }
    // Why the updater did not start, once start has failed.
    const std::optional<platform::UpdaterError>& startError() const { return startError_; }

    std::function<void()> onPresentUpdateWindow;
    std::function<void(const UpdateCheckOutcome&)> onCheckOutcome;
    // pendingUpdateVersion or canCheckForUpdates changed.
    std::function<void()> onStateChange;

private:
    void setPending(std::optional<std::string> version);
    void setCanCheck(bool canCheck);

    UpdateViewModel model_;
    std::optional<std::string> pending_;
    UpdateEventHandler events_;
    UpdaterDelegate delegate_;
    std::string feed_;
    MakeUpdater makeUpdater_;
    std::unique_ptr<platform::Updater> updater_;
    bool canCheck_ = false;
    bool started_ = false;
    std::optional<platform::UpdaterError> startError_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano
