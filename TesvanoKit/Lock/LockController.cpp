#include "TesvanoKit/Lock/LockController.h"

#include <algorithm>
#include <cmath>

#include "Platform/Log/Log.h"

namespace tesvano {

namespace {

const platform::Logger& logger() {
    static const platform::Logger instance("LockController");
    return instance;
}

std::optional<InputSourceID> idOf(const std::optional<InputSource>& source) {
    return source ? std::optional<InputSourceID>(source->id) : std::nullopt;
}

std::optional<std::string> nameOf(const std::optional<InputSource>& source) {
    return source ? std::optional<std::string>(source->localizedName) : std::nullopt;
}

}  // namespace

LockController::LockController(InputSourceProviding& provider, platform::Runtime& runtime,
                               bool enabled, bool reverts, SecureInputProbe isSecureInputEnabled)
    : LockController(
          provider, enabled, reverts, [&runtime] { return runtime.uptime().count(); },
          [&runtime] { return runtime.now(); }, std::move(isSecureInputEnabled),
          [&runtime](double delay, std::function<void()> action) {
              runtime.post(platform::Seconds(delay), std::move(action));
          }) {}

LockController::LockController(InputSourceProviding& provider, bool enabled, bool reverts,
                               UptimeFunction uptime, ClockFunction clock,
                               SecureInputProbe isSecureInputEnabled, Scheduler scheduler)
    : revertsInSecureInput(reverts),
      provider_(provider),
      uptime_(std::move(uptime)),
      clock_(std::move(clock)),
      isEnabled_(enabled),
      isSecureInputEnabled_(isSecureInputEnabled ? std::move(isSecureInputEnabled)
                                                 : SecureInputProbe([] { return false; })),
      scheduler_(std::move(scheduler)) {}

void LockController::later(double delay, std::function<void(LockController&)> action) {
    std::weak_ptr<int> alive = lifetime_;
    scheduler_(delay, [this, alive, action = std::move(action)] {
        if (alive.expired()) {
            return;
        }
        action(*this);
    });
}

bool LockController::secureInputBlocks() const {
    return !revertsInSecureInput && isSecureInputEnabled_();
}

std::string LockController::displayName(const InputSourceID& id) {
    if (auto source = provider_.source(id)) {
        return source->localizedName;
    }
    return id.rawValue;
}

void LockController::clearConflictState() {
    conflictRevertTimes_.clear();
    conflictBackoffUntil_ = 0;
    consecutiveConflictPauses_ = 0;
    ++conflictExpiryGeneration_;
}

void LockController::reconcile(ActivationReason reason) {
    if (!isEnabled_ || !target_ || heldForActivation_) {
        return;
    }
    if (secureInputBlocks()) {
        if (secureWatchPending_) {
            return;
        }
        secureWatchPending_ = true;
        later(secureInputRecheckDelay, [](LockController& self) {
            self.secureWatchPending_ = false;
            self.reconcile(ActivationReason::revertedSwitch);
        });
        return;
    }
    if (conflictBackoffUntil_ > uptime_()) {
        return;
    }
    // A framework that has just started may have nothing current (IBus before anyone picked
    // an engine): that is never the target, and nobody switched away from it.
    const auto current = provider_.currentSource();
    if (idOf(current) == target_) {
        reconcileRetries_ = 0;
        return;
    }
    const auto target = availableTarget();
    if (!target) {
        return;
    }
    // The desktop keeps the selection to itself for now: a switch is not foreign, and trying
    // would only count as a fight.
    if (!provider_.canSelect(*target)) {
        return;
    }
    if (settleUntil_ > uptime_()) {
        // Looked at once the switch has settled, whatever retries are spent: they bound how
        // often the lock selects, never whether it looks again at a change it was told of.
        scheduleLook();
        return;
    }
    // Still nothing current after our switch (no input context has the focus yet): the
    // framework's next change says more than selecting again would.
    if (!current && reconcileRetries_ > 0) {
        return;
    }
    if (current && reason == ActivationReason::revertedSwitch && detectConflict()) {
        pauseForConflict();
        return;
    }
    ++oneShotGeneration_;
    if (current && reason == ActivationReason::revertedSwitch) {
        logger().debug("Reverting a switch to %{public}s; the lock for %{public}s holds %{public}s",
                       current->id.rawValue, targetAppId_.value_or("any application"),
                       target->id.rawValue);
    }
    performSwitch(*target, reason, current);
}

std::optional<InputSource> LockController::availableTarget() {
    auto source = provider_.source(*target_);
    if (source) {
        waitingFor_.reset();
        return source;
    }
    // Its framework has stopped, or it is not installed: switching could only fail, and what
    // is current now was not switched to against the lock. The framework's return (a change
    // of the sources and of the selection) brings the next reconcile. Retries counted before
    // it went are spent: it may come back with nothing current, and must then be selected.
    reconcileRetries_ = 0;
    if (waitingFor_ != target_) {
        waitingFor_ = target_;
        logger().info("%{public}s is not available now; the rule waits for it", target_->rawValue);
    }
    return std::nullopt;
}

bool LockController::performSwitch(const InputSource& target, ActivationReason reason,
                                   const std::optional<InputSource>& current) {
    const double start = uptime_();
    const bool ok = provider_.select(target);
    settleUntil_ = uptime_() + settleWindow;
    scheduleRecheck();
    if (ok) {
        ++activationCount_;
        const double end = uptime_();
        if (onActivation) {
            onActivation(ActivationEvent{clock_(), target.id, target.localizedName, reason,
                                         std::max(0.0, (end - start) * 1000.0), nameOf(current),
                                         targetAppId_, targetRuleSource_, targetMatchedHost_});
        }
    }
    return ok;
}

void LockController::scheduleRecheck() {
    if (!target_ || pendingRecheck_) {
        return;
    }
    if (reconcileRetries_ >= maxReconcileRetries) {
        return;
    }
    ++reconcileRetries_;
    pendingRecheck_ = true;
    later(verificationDelay, [](LockController& self) { self.runRecheck(); });
}

void LockController::scheduleLook() {
    if (pendingRecheck_) {
        return;
    }
    pendingRecheck_ = true;
    later(std::max(0.0, settleUntil_ - uptime_()) + (verificationDelay - settleWindow),
          [](LockController& self) { self.runRecheck(); });
}

void LockController::runRecheck() {
    pendingRecheck_ = false;
    // A recheck scheduled for an earlier switch can land inside the settle window of a later
    // one, where reconcile would return without verifying. Wait for the end of that window
    // instead, so every switch is verified; this costs no retry.
    const double remaining = settleUntil_ - uptime_();
    if (target_ && remaining > 0) {
        pendingRecheck_ = true;
        later(remaining + (verificationDelay - settleWindow),
              [](LockController& self) { self.runRecheck(); });
        return;
    }
    reconcile(ActivationReason::revertedSwitch);
}

bool LockController::detectConflict() {
    const double now = uptime_();
    std::erase_if(conflictRevertTimes_, [now](double t) { return now - t > conflictWindow; });
    if (static_cast<int>(conflictRevertTimes_.size()) >= conflictThreshold) {
        return true;
    }
    conflictRevertTimes_.push_back(now);
    return false;
}

void LockController::pauseForConflict() {
    if (!target_) {
        return;
    }
    if (uptime_() - conflictBackoffUntil_ > conflictWindow) {
        consecutiveConflictPauses_ = 0;
    }
    const double backoff =
        std::min(conflictBackoffCap,
                 conflictBackoffBase * std::pow(2.0, std::min(consecutiveConflictPauses_, 16)));
    ++consecutiveConflictPauses_;
    conflictBackoffUntil_ = uptime_() + backoff;
    conflictRevertTimes_.clear();
    ++conflictExpiryGeneration_;
    scheduleExpiryCheck(backoff + expiryMargin);
    logger().info(
        "Another program keeps switching away from %{public}s; the lock for %{public}s pauses "
        "for %.0f s",
        target_->rawValue, targetAppId_.value_or("any application"), backoff);
    if (onActivation) {
        const InputSourceID target = *target_;
        onActivation(ActivationEvent{clock_(), target, displayName(target),
                                     ActivationReason::conflictPaused, 0.0, std::nullopt,
                                     targetAppId_, targetRuleSource_, targetMatchedHost_});
    }
}

void LockController::scheduleExpiryCheck(double delay) {
    const int generation = conflictExpiryGeneration_;
    later(delay, [generation](LockController& self) { self.expiryCheck(generation); });
}

void LockController::expiryCheck(int generation) {
    if (generation != conflictExpiryGeneration_) {
        return;
    }
    const double remaining = conflictBackoffUntil_ - uptime_();
    if (remaining <= 0) {
        reconcile(ActivationReason::revertedSwitch);
        return;
    }
    ++conflictExpiryGeneration_;
    scheduleExpiryCheck(remaining + expiryMargin);
}

void LockController::setEnabled(bool enabled, ActivationReason reason) {
    heldForActivation_ = false;
    isEnabled_ = enabled;
    if (!enabled) {
        ++oneShotGeneration_;
    }
    clearConflictState();
    if (enabled) {
        reconcile(reason);
    }
}

void LockController::setTarget(const std::optional<InputSourceID>& target, ActivationReason reason,
                               const std::optional<std::string>& appId,
                               std::optional<RuleSource> ruleSource,
                               const std::optional<std::string>& matchedHost) {
    heldForActivation_ = false;
    if (target) {
        ++oneShotGeneration_;
    }
    const bool changed = target_ != target;
    if (changed || appId != targetAppId_) {
        clearConflictState();
    }
    target_ = target;
    targetAppId_ = appId;
    targetRuleSource_ = ruleSource;
    targetMatchedHost_ = matchedHost;
    if (changed) {
        settleUntil_ = 0;
        reconcileRetries_ = 0;
    }
    reconcile(reason);
}

void LockController::releaseTarget() {
    heldForActivation_ = false;
    const bool hadTarget = target_.has_value();
    if (hadTarget || targetAppId_) {
        clearConflictState();
    }
    target_.reset();
    targetAppId_.reset();
    targetRuleSource_.reset();
    targetMatchedHost_.reset();
    if (hadTarget) {
        settleUntil_ = 0;
        reconcileRetries_ = 0;
    }
}

bool LockController::switchOnce(const InputSourceID& source, ActivationReason reason,
                                const std::optional<std::string>& appId, RuleSource ruleSource,
                                const std::optional<std::string>& matchedHost) {
    const auto current = provider_.currentSource();
    heldForActivation_ = false;
    const int generation = ++oneShotGeneration_;
    oneShotIsRuleBound_ = true;
    target_.reset();
    targetAppId_ = appId;
    targetRuleSource_ = ruleSource;
    targetMatchedHost_ = matchedHost;
    settleUntil_ = 0;
    if (secureInputBlocks() || idOf(current) == source) {
        return true;
    }
    const auto resolved = provider_.source(source);
    if (!resolved || !provider_.canSelect(*resolved)) {
        return true;
    }
    // Nothing current (a framework that has just started) is selected from, as a lock does.
    const bool ok = performSwitch(*resolved, reason, current);
    if (ok && oneShotGeneration_ == generation) {
        scheduleOneShotCheck(source, idOf(current), true, generation);
    }
    // Refused then, the rule has not been applied: the next activation tries again.
    return ok || current.has_value();
}

void LockController::cancelRuleBoundOneShot() {
    if (oneShotIsRuleBound_) {
        ++oneShotGeneration_;
    }
}

void LockController::sourceDidChange() {
    ++oneShotGeneration_;
    reconcile(ActivationReason::revertedSwitch);
}

void LockController::selectManually(const InputSourceID& source) {
    const int generation = ++oneShotGeneration_;
    oneShotIsRuleBound_ = false;
    const auto current = provider_.currentSource();
    if (idOf(current) == source) {
        return;
    }
    const double start = uptime_();
    const auto resolved = provider_.source(source);
    if (!resolved || !provider_.select(*resolved)) {
        return;
    }
    settleUntil_ = 0;
    ++activationCount_;
    if (onActivation) {
        onActivation(ActivationEvent{clock_(), source, resolved->localizedName,
                                     ActivationReason::apiCommand,
                                     std::max(0.0, (uptime_() - start) * 1000.0), nameOf(current),
                                     std::nullopt, std::nullopt, std::nullopt});
    }
    if (oneShotGeneration_ == generation) {
        scheduleOneShotCheck(source, idOf(current), false, generation);
    }
}

void LockController::holdForActivation(const std::optional<std::string>& appId,
                                       std::optional<double> expiresAfter) {
    // Another window of the application the lock is for: still its lock.
    if (appId && appId == targetAppId_) {
        return;
    }
    heldForActivation_ = true;
    const int generation = ++holdGeneration_;
    if (!expiresAfter) {
        return;
    }
    later(*expiresAfter, [generation](LockController& self) {
        if (self.holdGeneration_ != generation || !self.heldForActivation_) {
            return;
        }
        self.heldForActivation_ = false;
        self.reconcile(ActivationReason::revertedSwitch);
    });
}

void LockController::scheduleOneShotCheck(InputSourceID target,
                                          std::optional<InputSourceID> previous, bool ruleBound,
                                          int generation) {
    later(verificationDelay, [target = std::move(target), previous = std::move(previous), ruleBound,
                              generation](LockController& self) {
        if (self.oneShotGeneration_ != generation) {
            return;
        }
        if (ruleBound && (self.secureInputBlocks() || self.heldForActivation_)) {
            return;
        }
        // Looked up again: since the switch the source may have left the list, or its
        // framework may have stopped or hidden the layouts.
        if (self.provider_.currentSourceID() == previous) {
            if (const auto source = self.provider_.source(target)) {
                self.provider_.select(*source);  // once more, quietly
            }
        }
    });
}

}  // namespace tesvano
