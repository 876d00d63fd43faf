#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Runtime/Runtime.h"
#include "TesvanoKit/History/ActivationEvent.h"
#include "TesvanoKit/Sources/InputSourceProviding.h"

namespace tesvano {

// Keeps the selected input source on a target: selects it, lets it settle, verifies and
// retries, backs off from a party that keeps switching away, and leaves secure input alone.
// Main thread only. Delayed work is never cancelled: each action checks that the controller
// still exists and that its generation is current.
class LockController {
public:
    using UptimeFunction = std::function<double()>;
    using ClockFunction = std::function<platform::WallTime()>;
    using SecureInputProbe = std::function<bool()>;
    using Scheduler = std::function<void(double delay, std::function<void()> action)>;

    static constexpr double settleWindow = 0.3;
    static constexpr int maxReconcileRetries = 3;
    static constexpr double secureInputRecheckDelay = 0.5;
    static constexpr double conflictWindow = 5.0;
    static constexpr int conflictThreshold = 4;
    static constexpr double conflictBackoffBase = 10.0;
    static constexpr double conflictBackoffCap = 120.0;
    static constexpr double verificationDelay = 0.32;
    static constexpr double expiryMargin = 0.02;
    // How long a hold for an activation not announced yet lasts without the announcement.
    static constexpr double unannouncedHoldLimit = 0.5;

    // Clocks and scheduler come from the runtime; the secure-input probe defaults to "off".
    LockController(InputSourceProviding& provider, platform::Runtime& runtime,
                   bool isEnabled = false, bool revertsInSecureInput = false,
                   SecureInputProbe isSecureInputEnabled = {});
    LockController(InputSourceProviding& provider, bool isEnabled, bool revertsInSecureInput,
                   UptimeFunction uptime, ClockFunction clock,
                   SecureInputProbe isSecureInputEnabled, Scheduler scheduler);

    LockController(const LockController&) = delete;
    LockController& operator=(const LockController&) = delete;

    void reconcile(ActivationReason reason);
    void setEnabled(bool enabled, ActivationReason reason);
    void setTarget(const std::optional<InputSourceID>& target, ActivationReason reason,
                   const std::optional<std::string>& appId = std::nullopt,
                   std::optional<RuleSource> ruleSource = std::nullopt,
                   const std::optional<std::string>& matchedHost = std::nullopt);
    void releaseTarget();
    // Answers false when the rule has not been applied: nothing was current (no input context
    // has had the focus yet) and the selection was refused.
    bool switchOnce(const InputSourceID& source, ActivationReason reason,
                    const std::optional<std::string>& appId, RuleSource ruleSource,
                    const std::optional<std::string>& matchedHost);
    void cancelRuleBoundOneShot();
    void sourceDidChange();
    void selectManually(const InputSourceID& source);
    // Another application came to the front and its rule is not applied yet. A switch seen
    // until then is no longer the current lock's (or one-shot's) to undo: a desktop that
    // remembers a layout per window restores the new window's own. Ends with the next
    // setTarget, releaseTarget, switchOnce or setEnabled; with `expiresAfter`, also when that
    // time passes without another hold (the announcement's), and the lock is enforced again.
    void holdForActivation(const std::optional<std::string>& appId,
                           std::optional<double> expiresAfter = std::nullopt);
    bool isHeldForActivation() const { return heldForActivation_; }

    bool revertsInSecureInput = false;
    std::function<void(const ActivationEvent&)> onActivation;

    int activationCount() const { return activationCount_; }
    const std::optional<InputSourceID>& target() const { return target_; }
    bool isEnabled() const { return isEnabled_; }

private:
    // The target as the system lists it now; logs once when it does not.
    std::optional<InputSource> availableTarget();
    // Selects the resolved source, carried from the request so that it is not looked up again.
    bool performSwitch(const InputSource& target, ActivationReason reason,
                       const std::optional<InputSource>& current);
    void scheduleRecheck();
    // A look at the end of the settle window that costs no retry.
    void scheduleLook();
    void runRecheck();
    bool detectConflict();
    void pauseForConflict();
    void scheduleExpiryCheck(double delay);
    void expiryCheck(int generation);
    void scheduleOneShotCheck(InputSourceID target, std::optional<InputSourceID> previous,
                              bool ruleBound, int generation);
    void clearConflictState();
    std::string displayName(const InputSourceID& id);
    bool secureInputBlocks() const;
    // Runs `action` after `delay` only while this controller still exists.
    void later(double delay, std::function<void(LockController&)> action);

    InputSourceProviding& provider_;
    UptimeFunction uptime_;
    ClockFunction clock_;
    std::optional<InputSourceID> target_;
    bool isEnabled_ = false;
    int activationCount_ = 0;
    double settleUntil_ = 0;
    SecureInputProbe isSecureInputEnabled_;
    Scheduler scheduler_;
    int reconcileRetries_ = 0;
    bool pendingRecheck_ = false;
    bool secureWatchPending_ = false;
    std::vector<double> conflictRevertTimes_;
    double conflictBackoffUntil_ = 0;
    int consecutiveConflictPauses_ = 0;
    int conflictExpiryGeneration_ = 0;
    int oneShotGeneration_ = 0;
    bool oneShotIsRuleBound_ = false;
    std::optional<std::string> targetAppId_;
    std::optional<RuleSource> targetRuleSource_;
    std::optional<std::string> targetMatchedHost_;
    bool heldForActivation_ = false;
    int holdGeneration_ = 0;
    // The target last found unavailable, until it is available again.
    std::optional<InputSourceID> waitingFor_;
    // Scheduled actions hold this weakly; it dies with the controller.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano
