#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tesvano {

enum class UpdateFailure {
    checkFailed,
    downloadFailed,
    verificationFailed,
    installationFailed,
    unknown
};

struct UpdateCheckOutcome {
    bool upToDate = false;
    UpdateFailure failure = UpdateFailure::unknown;  // when not up to date

    static UpdateCheckOutcome isUpToDate() { return {true, UpdateFailure::unknown}; }
    static UpdateCheckOutcome failed(UpdateFailure f) { return {false, f}; }
};

// What the rest of the program uses of the updater: a check on the user's behalf, the
// version of a found update, and the two callbacks.
class UpdateController {
public:
    enum class Phase {
        idle,
        checking,
        found,
        downloading,
        extracting,
        readyToInstall,
        installing,
        upToDate,
        error
    };

    virtual ~UpdateController() = default;

    virtual void start() = 0;
    virtual void checkForUpdates() = 0;
    virtual std::optional<std::string> pendingUpdateVersion() const = 0;
    virtual bool canCheckForUpdates() const = 0;
    virtual Phase phase() const = 0;
    // Called when the update window closes.
    virtual void dismiss() = 0;

    std::function<void()> onPresentUpdateWindow;
    std::function<void(const UpdateCheckOutcome&)> onCheckOutcome;
    // Called whenever pendingUpdateVersion, canCheckForUpdates or phase change.
    std::function<void()> onStateChange;
};

// Stands in until the updater is built: it never finds anything and offers no check.
class UpdaterStandIn final : public UpdateController {
public:
    void start() override {}
    void checkForUpdates() override {}
    std::optional<std::string> pendingUpdateVersion() const override { return std::nullopt; }
    bool canCheckForUpdates() const override { return false; }
    Phase phase() const override { return Phase::idle; }
    void dismiss() override {}
};

}  // namespace tesvano
