#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/Updater.h"
#include "TesvanoKit/Updates/UpdateViewModel.h"

namespace tesvano {

// The updater's user driver: turns each of its calls into changes of the update model,
// keeps its replies in the model's one-shot replies, throttles the download readout to once
// a second, and tells the update controller of four events. Shows nothing by itself.
class TesvanoUserDriver final : public platform::UserDriver {
public:
    TesvanoUserDriver(UpdateViewModel& model, platform::Runtime& runtime);

    std::function<void()> onUpdateAvailable;
    std::function<void(const std::string& version)> onGentleUpdateAvailable;
    std::function<void(const UpdateCheckOutcome&)> onUserCheckFinished;
    std::function<void()> onUpdateSessionEnded;

    bool userInitiated() const { return userInitiated_; }

    void showUpdatePermissionRequest(
        std::function<void(platform::UpdatePermissionResponse)> reply) override;
    void showUserInitiatedUpdateCheck(std::function<void()> cancellation) override;
    void showUpdateFound(const platform::AppcastItem& item, platform::UserUpdateState state,
                         std::function<void(platform::UserUpdateChoice)> reply) override;
    void showUpdateReleaseNotes(const std::string& data) override;
    void showUpdateReleaseNotesFailedToDownload(const platform::UpdaterError& error) override;
    void showUpdateNotFound(const platform::UpdaterError& error,
                            std::function<void()> acknowledgement) override;
    void showUpdaterError(const platform::UpdaterError& error,
                          std::function<void()> acknowledgement) override;
    void showDownloadInitiated(std::function<void()> cancellation) override;
    void showDownloadDidReceiveExpectedContentLength(std::uint64_t length) override;
    void showDownloadDidReceiveDataOfLength(std::uint64_t length) override;
    void showDownloadDidStartExtractingUpdate() override;
    void showExtractionReceivedProgress(double progress) override;
    void showReadyToInstallAndRelaunch(
        std::function<void(platform::UserUpdateChoice)> reply) override;
    void showInstallingUpdate(bool applicationTerminated,
                              std::function<void()> retryTerminatingApplication) override;
    void showUpdateInstalledAndRelaunched(bool relaunched,
                                          std::function<void()> acknowledgement) override;
    void dismissUpdateInstallation() override;
    void showUpdateInFocus() override;

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
