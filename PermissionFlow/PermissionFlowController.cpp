#include "PermissionFlow/PermissionFlowController.h"

#include <algorithm>

#include "PermissionFlow/AppDragData.h"
#include "Platform/Accessibility/AssistiveTechnologyStatus.h"

namespace PermissionFlow {

using namespace tesvano::platform;

namespace {
PermissionFlowController* currentController = nullptr;
}  // namespace

PermissionFlowController* PermissionFlowController::current() {
    return currentController;
}

PermissionFlowController::PermissionFlowController(PermissionFlowEnvironment environment,
                                                   PermissionFlowConfiguration configuration,
                                                   PanelFactory makePanel)
    : env_(std::move(environment)),
      configuration_(std::move(configuration)),
      makePanel_(std::move(makePanel)),
      tracker_(env_.runtime, env_.workspace, env_.windows) {
    droppedApps_ = applicationEntries(configuration_.requiredAppURLs);
    localeIdentifier_ = configuration_.localeIdentifier;
    settingsApplication_ = env_.catalogue.settingsApplication();
    updateSettingsActive();
    std::weak_ptr<int> alive = alive_;
    tracker_.onFrameChange = [this, alive](const Rect& frame) {
        env_.runtime.post(Seconds(0), [this, alive, frame] {
            if (!alive.expired()) {
                settingsFrameChanged(frame);
            }
        });
    };
    tracker_.onTrackingEnded = [this, alive] {
        env_.runtime.post(Seconds(0), [this, alive] {
            if (!alive.expired()) {
                stop(false);
            }
        });
    };
    // The program started but never showed its window: the panel goes on alone.
    tracker_.onWindowTimeout = [this, alive] {
        env_.runtime.post(Seconds(0), [this, alive] {
            if (!alive.expired() && panel_) {
                showPanelAlone();
            }
        });
    };
    activationObserver_ =
        env_.workspace.addObserver(WorkspaceNotification::applicationActivated,
                                   [this](const RunningApplication&) { updateSettingsActive(); });
}

PermissionFlowController::~PermissionFlowController() {
    tracker_.stop();
    if (panel_) {
        panel_->close();
    }
    if (currentController == this) {
        currentController = nullptr;
    }
}

Registration PermissionFlowController::addObserver(std::function<void()> observer) {
    auto state = std::make_shared<Registration::State>();
    observers_.push_back({state, std::move(observer)});
    return Registration(state);
}

void PermissionFlowController::announce() {
    std::erase_if(observers_, [](const Observer& o) { return o.state->cancelled; });
    auto copy = observers_;
    for (const auto& o : copy) {
        if (!o.state->cancelled) {
            o.call();
        }
    }
}

void PermissionFlowController::registerApps(const std::vector<std::filesystem::path>& suggested) {
    for (const auto& url : applicationEntries(suggested)) {
        if (std::ranges::find(droppedApps_, url) != droppedApps_.end()) {
            continue;
        }
        droppedApps_.push_back(url);
        announce();
        if (onDrop) {
            onDrop(url);
        }
    }
}

void PermissionFlowController::addDroppedApp(const std::filesystem::path& url) {
    if (isApplicationEntry(url)) {
        registerApps({url});
    }
}

void PermissionFlowController::resetDroppedApps() {
    publish(droppedApps_, applicationEntries(configuration_.requiredAppURLs));
}

std::optional<std::filesystem::path> PermissionFlowController::primaryAppURL() const {
    if (!droppedApps_.empty()) {
        return droppedApps_.front();
    }
    if (env_.mainApplicationEntry && isApplicationEntry(*env_.mainApplicationEntry)) {
        return env_.mainApplicationEntry->lexically_normal();
    }
    return std::nullopt;
}

bool PermissionFlowController::isSettings(const RunningApplication& running) const {
    return (settingsApplication_ && isSettingsApplication(running, *settingsApplication_)) ||
           tracker_.isSettingsProcess(running.processIdentifier);
}

void PermissionFlowController::rememberActiveApplication() {
    const auto front = env_.workspace.activeApplication();
    if (front && isSettings(*front)) {
        return;
    }
    if (!front) {
        previousPID_.reset();
        previousAppId_.reset();
        return;
    }
    previousPID_ = front->processIdentifier;
    previousAppId_ = front->appId;
}

void PermissionFlowController::restorePreviousApplication() {
    if (previousPID_ && env_.workspace.runningApplication(*previousPID_)) {
        activateProcess(env_.windows, *previousPID_);
        previousPID_.reset();
        previousAppId_.reset();
        return;
    }
    if (previousAppId_) {
        auto running = env_.workspace.runningApplications(*previousAppId_);
        if (!running.empty()) {
            activateProcess(env_.windows, running.front().processIdentifier);
        }
        previousPID_.reset();
        previousAppId_.reset();
        return;
    }
    previousPID_.reset();
}

void PermissionFlowController::updateSettingsActive() {
    const auto front = env_.workspace.activeApplication();
    publish(isSettingsActive_, front && isSettings(*front));
}

std::optional<SystemSettings::SystemSettingsDestination> PermissionFlowController::destinationOf(
    PermissionFlowPane pane) const {
    const auto anchor = privacyAnchor(pane);
    return anchor ? env_.catalogue.privacy(*anchor) : std::nullopt;
}

SystemSettings::SettingsNavigator PermissionFlowController::navigator() {
    return SystemSettings::SettingsNavigator(
        env_.launcher, [this](const SystemSettings::SettingsApplication& application) {
            // The window followed now, whoever runs it.
            if (const auto& window = tracker_.observedWindow();
                window && env_.windows.activate(*window)) {
                return true;
            }
            for (const auto& running : env_.workspace.runningApplications()) {
                if (isSettingsApplication(running, application) &&
                    activateProcess(env_.windows, running.processIdentifier)) {
                    return true;
                }
            }
            return false;
        });
}

bool PermissionFlowController::activateSettings() {
    return settingsApplication_ && navigator().activateSystemSettings(*settingsApplication_);
}

void PermissionFlowController::open(PermissionFlowPane pane,
                                    const std::vector<std::filesystem::path>& suggested,
                                    const std::optional<Rect>& launchSource) {
    if (currentController && currentController != this) {
        currentController->stop(false);
    }
    rememberActiveApplication();
    publish(currentPane_, std::optional<PermissionFlowPane>(pane));
    pendingLaunchSourceFrame_ = launchSource;
    registerApps(suggested);

    std::optional<std::int32_t> launched;
    bool opened = false;
    if (auto destination = destinationOf(pane)) {
        settingsApplication_ = destination->application;
        const auto started = navigator().open(*destination);
        opened = started.has_value();
        if (started) {
            launched = *started;
        }
    }
    if (!supportsAppDrag(pane)) {
        return;
    }
    currentController = this;
    if (!opened) {
        // No settings program to follow (a bare window manager, or it is not installed):
        // the panel stands alone with what can be done from it.
        showPanelAlone();
        return;
    }
    publish(hasSettingsWindow_, true);
    tracker_.start(*settingsApplication_, launched);
    showPanel();
}

void PermissionFlowController::showPanel() {
    if (!panel_) {
        panel_ = makePanel_(*this);
    }
    const auto& frame = tracker_.currentFrame();
    if (!frame) {
        publish(isAwaitingSettingsWindow_, true);
        panel_->refreshContent();
        panel_->launchWhileAwaiting(pendingLaunchSourceFrame_);
        return;
    }
    placeBeside(*frame);
}

void PermissionFlowController::showPanelAlone() {
    tracker_.stop();
    publish(hasSettingsWindow_, false);
    publish(isAwaitingSettingsWindow_, false);
    if (!panel_) {
        panel_ = makePanel_(*this);
    }
    panel_->refreshContent();
    panel_->launchWhileAwaiting(std::nullopt);
    pendingLaunchSourceFrame_.reset();
}

void PermissionFlowController::placeBeside(const Rect& frame) {
    if (isAwaitingSettingsWindow_) {
        publish(isAwaitingSettingsWindow_, false);
        panel_->refreshContent();
    }
    if (!pendingLaunchSourceFrame_) {
        panel_->place(frame);
    } else {
        panel_->launch(*pendingLaunchSourceFrame_, frame);
        pendingLaunchSourceFrame_.reset();
    }
}

void PermissionFlowController::settingsFrameChanged(const Rect& frame) {
    if (panel_) {
        placeBeside(frame);
    }
}

void PermissionFlowController::stop(bool restorePrevious) {
    tracker_.stop();
    publish(isAwaitingSettingsWindow_, false);
    if (panel_) {
        auto panel = std::move(panel_);
        panel->close();
    }
    pendingLaunchSourceFrame_.reset();
    if (currentController == this) {
        currentController = nullptr;
    }
    if (restorePrevious) {
        restorePreviousApplication();
    }
}

void PermissionFlowController::setLocaleIdentifier(const std::optional<std::string>& identifier) {
    if (identifier == localeIdentifier_) {
        return;
    }
    publish(localeIdentifier_, identifier);
    if (panel_) {
        panel_->setLocaleIdentifier(identifier);
    }
}

void PermissionFlowController::reopenSettings() {
    if (!currentPane_) {
        return;
    }
    if (auto destination = destinationOf(*currentPane_)) {
        (void)navigator().open(*destination);
    }
    if (panel_) {
        panel_->orderFrontRegardless();
    }
}

void PermissionFlowController::setDraggingApp(bool dragging) {
    publish(isDraggingApp_, dragging);
}

SystemSettings::AccessGrant PermissionFlowController::settingsGrant() const {
    if (!currentPane_) {
        return SystemSettings::AccessGrant::none;
    }
    const auto destination = destinationOf(*currentPane_);
    return destination ? destination->grant : SystemSettings::AccessGrant::none;
}

bool PermissionFlowController::offersAppDrag() const {
    return hasSettingsWindow_ && currentPane_ && supportsAppDrag(*currentPane_) &&
           settingsGrant() == SystemSettings::AccessGrant::applicationList;
}

bool PermissionFlowController::offersAssistiveTechnologySwitch() const {
    return env_.assistiveTechnologies && currentPane_ == PermissionFlowPane::accessibility;
}

std::expected<void, std::string> PermissionFlowController::turnOnAssistiveTechnologies() {
    if (!env_.assistiveTechnologies) {
        return std::unexpected("assistive technologies cannot be switched here");
    }
    if (!env_.assistiveTechnologies->setEnabled(true)) {
        auto reason = env_.assistiveTechnologies->lastError();
        return std::unexpected(reason.empty() ? std::string("the session bus refused") : reason);
    }
    return {};
}

}  // namespace PermissionFlow
