#include "TesvanoKit/Lock/LockEngine.h"

#include "TesvanoKit/Monitors/AddressBarFocusMonitor.h"
#include "TesvanoKit/Monitors/AppActivationMonitor.h"
#include "TesvanoKit/Monitors/BrowserAppIds.h"
#include "TesvanoKit/Monitors/FloatingAppMonitor.h"
#include "TesvanoKit/Monitors/LauncherOverlayCatalog.h"
#include "TesvanoKit/Rules/RuleResolver.h"
#include "TesvanoKit/Rules/URLMatcher.h"
#include "TesvanoKit/Sources/TextInputSourceProvider.h"

namespace tesvano {

namespace {

constexpr const char* kNoSourceName = "\u2014";

bool isConfigurationTrigger(ActivationReason trigger) {
    return trigger == ActivationReason::lockEngaged || trigger == ActivationReason::configChanged ||
           trigger == ActivationReason::startupApplied;
}

// A URL rule's lock or one-shot is reported as a URL match, unless the user's own change of
// the configuration caused the evaluation.
ActivationReason reasonFor(RuleSource ruleSource, ActivationReason trigger) {
    if (ruleSource == RuleSource::urlRule && !isConfigurationTrigger(trigger)) {
        return ActivationReason::urlMatched;
    }
    return trigger;
}

}  // namespace

LockEngine::Parts LockEngine::defaultParts(Parts given, platform::Runtime& runtime,
                                           platform::TextInputSources& textInput,
                                           platform::Workspace& workspace,
                                           platform::Accessibility& accessibility) {
    if (!given.provider) {
        given.provider = std::make_unique<TextInputSourceProvider>(textInput);
    }
    if (!given.appMonitor) {
        given.appMonitor = std::make_unique<AppActivationMonitor>(workspace, runtime);
    }
    if (!given.floatingAppMonitor) {
        given.floatingAppMonitor = std::make_unique<FloatingAppMonitor>(workspace, accessibility);
    }
    if (!given.addressBarMonitor) {
        given.addressBarMonitor = std::make_unique<AddressBarFocusMonitor>(workspace, accessibility,
                                                                           addressBarAncestorDepth);
    }
    return given;
}

LockEngine::LockEngine(Parts parts, platform::Runtime& runtime,
                       platform::TextInputSources& textInput,
                       LockController::SecureInputProbe isSecureInputEnabled)
    : runtime_(runtime),
      provider_(std::move(parts.provider)),
      controller_(*provider_, runtime, false, false, std::move(isSecureInputEnabled)),
      observer_(textInput, InputSourceEvent::selectionChanged),
      enabledSourcesObserver_(textInput, InputSourceEvent::enabledSourcesChanged),
      appMonitor_(std::move(parts.appMonitor)),
      floatingAppMonitor_(std::move(parts.floatingAppMonitor)),
      addressBarMonitor_(std::move(parts.addressBarMonitor)),
      urlProvider_(std::move(parts.urlProvider)) {
    std::weak_ptr<int> alive = lifetime_;
    controller_.onActivation = [this, alive](const ActivationEvent& event) {
        if (!alive.expired() && onActivation) {
            onActivation(event);
        }
    };
}

LockEngine::~LockEngine() {
    stop();
}

template <typename... A>
std::function<void(A...)> LockEngine::weakly(void (LockEngine::*method)(A...)) {
    std::weak_ptr<int> alive = lifetime_;
    return [this, alive, method](A... args) {
        if (!alive.expired()) {
            (this->*method)(args...);
        }
    };
}

void LockEngine::start() {
    activeAppId_ = appMonitor_->activeAppId();
    listedSourceIDs_ = listedSourceIDs();
    observer_.start(weakly(&LockEngine::handleSelectionChanged));
    enabledSourcesObserver_.start(weakly(&LockEngine::handleEnabledSourcesChanged));
    appMonitor_->onActivationNoticed(
        weakly<const std::optional<std::string>&>(&LockEngine::handleActivationNoticed));
    appMonitor_->start(weakly<const std::optional<std::string>&>(&LockEngine::handleActiveApp));
    floatingAppMonitor_->start(
        weakly<const std::optional<std::string>&>(&LockEngine::handleLauncher));
    addressBarMonitor_->start(weakly<bool>(&LockEngine::handleAddressBar));
    syncAddressBarMonitor();
    reportCurrentSource();
}

void LockEngine::stop() {
    observer_.stop();
    enabledSourcesObserver_.stop();
    appMonitor_->stop();
    appMonitor_->onActivationNoticed({});
    floatingAppMonitor_->stop();
    addressBarMonitor_->stop();
    urlPollTask_.cancel();
}

void LockEngine::apply(const LockConfiguration& configuration, ActivationReason reason) {
    config_ = configuration;
    controller_.revertsInSecureInput = config_.revertsInSecureInput;
    if (config_.isEnabled) {
        evaluate(reason);
        controller_.setEnabled(true, reason);
    } else {
        controller_.setEnabled(false, reason);
        evaluate(reason);
    }
    restartURLPolling();
    syncAddressBarMonitor();
    reportCurrentSource();
}

void LockEngine::refreshAccessibilityMonitors() {
    floatingAppMonitor_->refresh();
    addressBarMonitor_->refresh();
}

std::string LockEngine::currentSourceName() {
    const auto current = provider_->currentSource();
    return current ? current->localizedName : kNoSourceName;
}

void LockEngine::reportCurrentSource() {
    if (onCurrentSourceChange) {
        onCurrentSourceChange(currentSourceName());
    }
}

std::optional<std::string> LockEngine::effectiveAppId() const {
    return launcherAppId_ ? launcherAppId_ : activeAppId_;
}

void LockEngine::handleSelectionChanged() {
    // A desktop that restores a window's layout may act on an activation before its
    // notification reaches us: with another application already in front, the switch is not
    // the current lock's to revert. Some act on the focus, before the window manager even
    // announces the new window (Cinnamon's keyboard daemon): the announcement usually follows
    // within a few tens of milliseconds, but need not, so that hold ends by itself.
    if (controller_.target() && !controller_.isHeldForActivation()) {
        if (auto front = appMonitor_->activeAppId(); front != activeAppId_) {
            controller_.holdForActivation(front);
        } else if (auto focused = appMonitor_->focusedAppId(); focused && focused != activeAppId_) {
            controller_.holdForActivation(focused, LockController::unannouncedHoldLimit);
        }
    }
    controller_.sourceDidChange();
    reportCurrentSource();
}

std::vector<InputSourceID> LockEngine::listedSourceIDs() {
    std::vector<InputSourceID> ids;
    for (const auto& source : provider_->selectableSources()) {
        ids.push_back(source.id);
    }
    return ids;
}

void LockEngine::handleEnabledSourcesChanged() {
    if (onSelectableSourcesChange) {
        onSelectableSourcesChange(provider_->selectableSources());
    }
    auto listed = listedSourceIDs();
    const bool changed = listed != listedSourceIDs_;
    listedSourceIDs_ = std::move(listed);
    // Sources that come back (a restarted desktop shell, a framework started again) start on
    // a source of their own choosing: the rule in force applies afresh, with no fight counted
    // from before they went. The same sources announced again are no such return: IBus's
    // panel rewrites the keymap for each engine it switches to, and a fight with another
    // program's switches must still count then.
    if (config_.isEnabled && changed) {
        controller_.setEnabled(true, ActivationReason::revertedSwitch);
    }
}

void LockEngine::handleActivationNoticed(const std::optional<std::string>& identity) {
    // Until the new application's rule is applied, the previous application's lock is not
    // enforced: what a per-window desktop restores for the new window is not a foreign switch.
    controller_.holdForActivation(identity);
}

void LockEngine::handleActiveApp(const std::optional<std::string>& identity) {
    const bool barWasFocused = addressBarFocused_;
    activeAppId_ = identity;
    launcherAppId_.reset();
    addressBarFocused_ = false;
    if (barWasFocused) {
        // The monitor still believes the bar is focused; when it keeps following the same
        // browser it would never report the focus again. Start it afresh.
        addressBarMonitor_->observe(std::nullopt);
    }
    if (onActiveAppChange) {
        onActiveAppChange(effectiveAppId());
    }
    evaluate(ActivationReason::appActivated);
    restartURLPolling();
    syncAddressBarMonitor();
    reportCurrentSource();
}

void LockEngine::handleLauncher(const std::optional<std::string>& launcher) {
    if (launcher == launcherAppId_) {
        return;
    }
    const bool barWasFocused = addressBarFocused_;
    launcherAppId_ = launcher;
    addressBarFocused_ = false;
    if (barWasFocused) {
        addressBarMonitor_->observe(std::nullopt);
    }
    if (onActiveAppChange) {
        onActiveAppChange(effectiveAppId());
    }
    evaluate(launcher ? ActivationReason::launcherFocused : ActivationReason::launcherDismissed);
    restartURLPolling();
    syncAddressBarMonitor();
    reportCurrentSource();
}

void LockEngine::handleAddressBar(bool focused) {
    if (focused == addressBarFocused_) {
        return;
    }
    addressBarFocused_ = focused;
    evaluate(focused ? ActivationReason::addressBarFocused : ActivationReason::addressBarBlurred);
    reportCurrentSource();
}

void LockEngine::evaluate(ActivationReason trigger) {
    if (!launcherAppId_) {
        lastLauncherSwitchKey_.reset();
    }
    const auto identity = effectiveAppId();

    std::optional<URLRule> matchedRule;
    if (config_.enhancedModeEnabled && urlProvider_ && !config_.urlRules.empty()) {
        auto url = urlProvider_->readURL(identity);
        if (url) {
            lastURL_ = {identity, *url};
        } else if (urlProvider_->lastReadUnanswered() && lastURL_ && lastURL_->first == identity) {
            // A browser that is busy for a moment still shows the page it showed: its rule
            // stays until the browser answers again.
            url = lastURL_->second;
        } else {
            lastURL_.reset();
        }
        matchedRule = URLMatcher::firstMatch(url.value_or(""), config_.urlRules);
    }
    std::optional<URLRuleMatch> match;
    if (matchedRule) {
        match = URLRuleMatch{matchedRule->lockedSourceID, matchedRule->action};
    }
    const auto resolution = RuleResolver::resolve(config_, identity, match, addressBarFocused_);

    switch (resolution.kind()) {
        case LockResolution::Kind::lock: {
            const RuleSource ruleSource = resolution.ruleSource();
            std::optional<std::string> matchedHost;
            if (ruleSource == RuleSource::urlRule && matchedRule) {
                matchedHost = matchedRule->hostPattern;
            }
            controller_.setTarget(resolution.source(), reasonFor(ruleSource, trigger), identity,
                                  ruleSource, matchedHost);
            break;
        }
        case LockResolution::Kind::switchOnce: {
            controller_.releaseTarget();
            const RuleSource ruleSource = resolution.ruleSource();
            std::optional<std::string> context = identity;
            if (ruleSource == RuleSource::urlRule) {
                context = matchedRule ? std::optional<std::string>(matchedRule->hostPattern)
                                      : std::nullopt;
            }
            const SwitchKey key{ruleSource, context, resolution.source()};
            if (lastFiredSwitchKey_ != key) {
                controller_.cancelRuleBoundOneShot();
            }
            auto& slot = launcherAppId_ ? lastLauncherSwitchKey_ : lastSwitchKey_;
            fireOneShot(resolution.source(), ruleSource, trigger, context, slot, key);
            return;
        }
        case LockResolution::Kind::ignore:
        case LockResolution::Kind::noTarget:
            controller_.releaseTarget();
            controller_.cancelRuleBoundOneShot();
            break;
    }
    if (!launcherAppId_) {
        lastSwitchKey_.reset();
    }
}

void LockEngine::fireOneShot(const InputSourceID& source, RuleSource ruleSource,
                             ActivationReason trigger, const std::optional<std::string>& context,
                             std::optional<SwitchKey>& slot, const SwitchKey& key) {
    if (!config_.isEnabled) {
        slot.reset();
        return;
    }
    if (slot == key) {
        return;  // this rule already fired in this context
    }
    const std::optional<std::string> matchedHost =
        ruleSource == RuleSource::urlRule ? context : std::nullopt;
    if (!controller_.switchOnce(source, reasonFor(ruleSource, trigger), effectiveAppId(),
                                ruleSource, matchedHost)) {
        return;
    }
    slot = key;
    lastFiredSwitchKey_ = key;
}

void LockEngine::restartURLPolling() {
    urlPollTask_.cancel();
    const auto identity = effectiveAppId();
    if (!config_.isEnabled || !config_.enhancedModeEnabled || !urlProvider_ ||
        config_.urlRules.empty() || !identity || !BrowserAppIds::isBrowser(*identity)) {
        return;
    }
    scheduleURLPoll();
}

void LockEngine::scheduleURLPoll() {
    std::weak_ptr<int> alive = lifetime_;
    urlPollTask_ = runtime_.after(platform::Seconds(urlPollInterval), [this, alive] {
        if (alive.expired()) {
            return;
        }
        // Keep the handle alive across the evaluation; a restart inside it replaces it.
        scheduleURLPoll();
        // The address-bar focus is read on focus events only; one the browser was too busy to
        // answer about would otherwise stand until the next.
        addressBarMonitor_->refresh();
        evaluate(ActivationReason::urlPolled);
    });
}

void LockEngine::syncAddressBarMonitor() {
    const auto identity = effectiveAppId();
    const bool follow = config_.isEnabled && config_.addressBarFocusEnabled &&
                        config_.addressBarSourceID && identity &&
                        BrowserAppIds::isBrowser(*identity);
    addressBarMonitor_->observe(follow ? identity : std::nullopt);
}

}  // namespace tesvano
