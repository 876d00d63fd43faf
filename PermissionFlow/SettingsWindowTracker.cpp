#include "PermissionFlow/SettingsWindowTracker.h"

#include <algorithm>
#include <filesystem>

namespace PermissionFlow {

using namespace tesvano::platform;

bool isSettingsApplication(const RunningApplication& running,
                           const SystemSettings::SettingsApplication& application) {
    if (running.appId && *running.appId == application.appId) {
        return true;
    }
    return running.executablePath &&
           std::filesystem::path(*running.executablePath).filename() == application.executable;
}

std::optional<Rect> settingsWindowFrame(const std::vector<ListedWindow>& list,
                                        const std::vector<std::int32_t>& pids) {
    std::optional<Rect> best;
    for (const auto& w : list) {
        if (!w.onScreen || std::ranges::find(pids, w.processIdentifier) == pids.end()) {
            continue;
        }
        if (w.frame.width <= 320 || w.frame.height <= 240) {
            continue;
        }
        if (!best || w.frame.width * w.frame.height > best->width * best->height) {
            best = w.frame;
        }
    }
    return best;
}

SettingsWindowTracker::SettingsWindowTracker(Runtime& runtime, Workspace& workspace,
                                             WindowList& windows)
    : runtime_(runtime), workspace_(workspace), windows_(windows) {}

SettingsWindowTracker::~SettingsWindowTracker() {
    stop();
}

void SettingsWindowTracker::start(const SystemSettings::SettingsApplication& application) {
    stop();
    application_ = application;
    schedulePoll();
    pollStep();
}

void SettingsWindowTracker::stop() {
    pollTimer_.cancel();
    windowObserver_.cancel();
    observedWindow_.reset();
    currentFrame_.reset();
    hasActiveTrackingTarget_ = false;
    missingAppPollCount_ = 0;
}

void SettingsWindowTracker::schedulePoll() {
    pollTimer_ = runtime_.after(pollInterval, [this, alive = std::weak_ptr<int>(alive_)] {
        if (alive.expired()) {
            return;
        }
        schedulePoll();
        pollStep();
    });
}

void SettingsWindowTracker::report(const Rect& frame) {
    if (currentFrame_ && *currentFrame_ == frame) {
        return;
    }
    currentFrame_ = frame;
    if (onFrameChange) {
        onFrameChange(frame);
    }
}

void SettingsWindowTracker::pollStep() {
    std::vector<std::int32_t> pids;
    for (const auto& running : workspace_.runningApplications()) {
        if (isSettingsApplication(running, application_)) {
            pids.push_back(running.processIdentifier);
        }
    }
    if (pids.empty()) {
        missingAppStep();
        return;
    }
    hasActiveTrackingTarget_ = true;
    missingAppPollCount_ = 0;

    const auto list = windows_.windows(pids);
    const auto frame = settingsWindowFrame(list, pids);
    if (!frame) {
        return;
    }
    report(*frame);
    // Follow that window's own events between polls.
    auto window = std::ranges::find_if(list, [&](const ListedWindow& w) {
        return w.onScreen && w.frame == *frame &&
               std::ranges::find(pids, w.processIdentifier) != pids.end();
    });
    if (window == list.end() || (observedWindow_ && *observedWindow_ == window->id)) {
        return;
    }
    windowObserver_.cancel();
    observedWindow_.reset();
    auto observer = windows_.observe(window->id, [this, alive = std::weak_ptr<int>(alive_)] {
        // Never inside the event's dispatch: the poll may stop us.
        runtime_.post(Seconds(0), [this, alive] {
            if (!alive.expired() && pollTimer_.active()) {
                pollStep();
            }
        });
    });
    // Remembered only once it is watched, so a failure is tried again on the next step.
    if (observer) {
        windowObserver_ = std::move(*observer);
        observedWindow_ = window->id;
    }
}

void SettingsWindowTracker::missingAppStep() {
    if (!hasActiveTrackingTarget_ && !currentFrame_) {
        return;
    }
    if (++missingAppPollCount_ >= missingAppThreshold) {
        stop();
        if (onTrackingEnded) {
            onTrackingEnded();
        }
    }
}

}  // namespace PermissionFlow
