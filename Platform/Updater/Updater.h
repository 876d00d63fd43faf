#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/Appcast.h"

namespace tesvano::platform {

// Errors the updater reports. The codes fall in ranges by kind, which is how the program
// classifies them: below 2000 the check, 2000s the download, 3000s the verification, 4000s
// the installation, 5000 and above anything else.
struct UpdaterError {
    static constexpr const char* updaterDomain = "TesvanoUpdater";
    enum Code : int {
        feedUnreachable = 1001,
        feedInvalid = 1002,
        noFeedAddress = 1003,
        notSelfUpdating = 1004,
        insecureFeedAddress = 1006,
        downloadFailed = 2001,
        downloadStalled = 2002,
        downloadTruncated = 2003,
        downloadNotStored = 2004,
        downloadTooLarge = 2005,
        signatureInvalid = 3001,
        lengthMismatch = 3002,
        noPublicKey = 3003,
        feedSignatureInvalid = 3004,
        feedForOtherArchitecture = 3005,
        feedOlderThanSeen = 3006,
        unpackFailed = 4001,
        archiveMalformed = 4002,
        linkSwitchFailed = 4003,
        relaunchFailed = 4004,
    };
    std::string domain = updaterDomain;
    int code = 0;
    std::string description;
};

// The answer to an offered update.
enum class UserUpdateChoice { skip = 0, install = 1, dismiss = 2 };

struct UserUpdateState {
    bool userInitiated = false;
};

struct UpdatePermissionResponse {
    bool automaticUpdateChecks = true;
    bool sendSystemProfile = false;
};

// Everything the updater shows goes through this; it shows nothing by itself. Every reply
// and acknowledgement is called at most once, and the updater waits for it.
class UserDriver {
public:
    virtual ~UserDriver() = default;
    virtual void showUpdatePermissionRequest(
        std::function<void(UpdatePermissionResponse)> reply) = 0;
    virtual void showUserInitiatedUpdateCheck(std::function<void()> cancellation) = 0;
    virtual void showUpdateFound(const AppcastItem& item, UserUpdateState state,
                                 std::function<void(UserUpdateChoice)> reply) = 0;
    virtual void showUpdateReleaseNotes(const std::string& data) = 0;
    virtual void showUpdateReleaseNotesFailedToDownload(const UpdaterError& error) = 0;
    virtual void showUpdateNotFound(const UpdaterError& error,
                                    std::function<void()> acknowledgement) = 0;
    virtual void showUpdaterError(const UpdaterError& error,
                                  std::function<void()> acknowledgement) = 0;
    virtual void showDownloadInitiated(std::function<void()> cancellation) = 0;
    virtual void showDownloadDidReceiveExpectedContentLength(std::uint64_t length) = 0;
    virtual void showDownloadDidReceiveDataOfLength(std::uint64_t length) = 0;
    virtual void showDownloadDidStartExtractingUpdate() = 0;
    virtual void showExtractionReceivedProgress(double progress) = 0;
    virtual void showReadyToInstallAndRelaunch(std::function<void(UserUpdateChoice)> reply) = 0;
    virtual void showInstallingUpdate(bool applicationTerminated,
                                      std::function<void()> retryTerminatingApplication) = 0;
    virtual void showUpdateInstalledAndRelaunched(bool relaunched,
                                                  std::function<void()> acknowledgement) = 0;
    virtual void dismissUpdateInstallation() = 0;
    virtual void showUpdateInFocus() = 0;
};

// What the updater asks its owner.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    virtual std::set<std::string> allowedChannels() const = 0;
    virtual std::string feedURLString() const = 0;
};

// The updater as the program drives it.
class Updater {
public:
    virtual ~Updater() = default;
    // After an error the updater is not used again.
    virtual std::expected<void, UpdaterError> startUpdater() = 0;
    // A check on the user's behalf; with an update already on offer, brings it forward.
    virtual void checkForUpdates() = 0;
    // Restarts the schedule of automatic checks (after a change of channel).
    virtual void resetUpdateCycle() = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool checks) = 0;
    virtual std::optional<WallTime> lastUpdateCheckDate() const = 0;
};

}  // namespace tesvano::platform
