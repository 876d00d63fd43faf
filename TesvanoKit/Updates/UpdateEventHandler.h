#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/Updater.h"
#include "TesvanoKit/Updates/UpdateViewModel.h"

namespace tesvano {

// Takes the updater's events: turns each into changes of the update model, keeps its
// replies in the model's one-shot replies, throttles the download readout to once a second,
// and tells the update controller of four outcomes. Shows nothing by itself.
class UpdateEventHandler final : public platform::UpdateEvents {
public:
    UpdateEventHandler(UpdateViewModel& model, platform::Runtime& runtime);

    std::function<void()> onUpdateAvailable;
    std::function<void(const std::string& version)> onGentleUpdateAvailable;
    std::function<void(const UpdateCheckOutcome&)> onUserCheckFinished;
    std::function<void()> onUpdateSessionEnded;

    bool userInitiated() const { return userInitiated_; }

    void checkStarted(std::function<void()> cancel) override;
    void updateFound(const platform::AppcastItem& item, bool userInitiated,
                     std::function<void(platform::UpdateChoice)> reply) override;
    void noUpdateFound(std::function<void()> acknowledge) override;
    void downloadStarted(std::function<void()> cancel) override;
    void downloadSizeKnown(std::uint64_t bytes) override;
    void downloadReceived(std::uint64_t bytes) override;
    void unpacking(double fraction) override;
    void readyToInstall(std::function<void(platform::UpdateChoice)> reply) override;
    void installing() override;
    void failed(const platform::UpdaterError& error, std::function<void()> acknowledge) override;
    void sessionEnded() override;

private:
    // Work of the acknowledged calls runs a turn of the loop later, then acknowledges.
    void later(std::function<void()> work);

    UpdateViewModel& model_;
    platform::Runtime& runtime_;
    std::uint64_t expectedLength_ = 0;
    std::uint64_t receivedLength_ = 0;
    std::optional<platform::Seconds> downloadStart_;
    std::optional<platform::Seconds> lastReadoutAt_;
    bool userInitiated_ = false;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano
