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
        feedFromTheFuture = 3007,
        unpackFailed = 4001,
        archiveMalformed = 4002,
        linkSwitchFailed = 4003,
        relaunchFailed = 4004,
    };
    std::string domain = updaterDomain;
    int code = 0;
    std::string description;
};

// The answer to an offered or unpacked update.
enum class UpdateChoice { skip = 0, install = 1, dismiss = 2 };

// What happens in an update session, told as it happens; the updater shows nothing by itself.
// Every reply, cancellation and acknowledgement is called at most once, and the updater
// waits for a reply or an acknowledgement before it goes on.
class UpdateEvents {
public:
    virtual ~UpdateEvents() = default;
    // The user asked for a check; `cancel` ends it.
    virtual void checkStarted(std::function<void()> cancel) = 0;
    // A newer release on an allowed channel, found by the user's check or a background one.
    virtual void updateFound(const AppcastItem& item, bool userInitiated,
                             std::function<void(UpdateChoice)> reply) = 0;
    // The user's check found nothing newer.
    virtual void noUpdateFound(std::function<void()> acknowledge) = 0;
    // The archive's download began; `cancel` ends the session.
    virtual void downloadStarted(std::function<void()> cancel) = 0;
    // The archive's length as the feed gives it.
    virtual void downloadSizeKnown(std::uint64_t bytes) = 0;
    // `bytes` more of the archive arrived.
    virtual void downloadReceived(std::uint64_t bytes) = 0;
    // Unpacking began (0) or ended (1).
    virtual void unpacking(double fraction) = 0;
    // The new version is unpacked beside the running one and waits for the user's word.
    virtual void readyToInstall(std::function<void(UpdateChoice)> reply) = 0;
    // The new version is being switched to and started.
    virtual void installing() = 0;
    virtual void failed(const UpdaterError& error, std::function<void()> acknowledge) = 0;
    // The session was ended by the user's choice, a cancellation or an acknowledged failure.
    // Not told when the acknowledgement of `noUpdateFound` ends it, when a background check
    // finds nothing or fails unseen, or when an installed update ends the program.
    virtual void sessionEnded() = 0;
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
    // A check on the user's behalf; nothing while a session runs (the owner shows its window).
    virtual void checkForUpdates() = 0;
    // Restarts the schedule of automatic checks (after a change of channel).
    virtual void resetUpdateCycle() = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool checks) = 0;
    virtual std::optional<WallTime> lastUpdateCheckDate() const = 0;
};

}  // namespace tesvano::platform
