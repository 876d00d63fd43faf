#include "PermissionFlow/SettingsWindowTracker.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

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

std::vector<std::string> settingsWindowClasses(const SystemSettings::SettingsApplication& app) {
    std::vector<std::string> classes;
    for (const auto& name : {app.executable, app.appId}) {
        if (!name.empty() && std::ranges::find(classes, name) == classes.end()) {
            classes.push_back(name);
        }
    }
    return classes;
}

std::vector<std::int32_t> processWithDescendants(std::int32_t pid) {
    std::vector<std::int32_t> found{pid};
    std::multimap<std::int32_t, std::int32_t> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const auto name = entry.path().filename().string();
        std::int32_t child = 0;
        if (std::from_chars(name.data(), name.data() + name.size(), child).ec != std::errc{}) {
            continue;
        }
        std::ifstream in(entry.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        std::int32_t parent = 0;
        if (rest >> state >> parent) {
            children.emplace(parent, child);
        }
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
        auto [first, last] = children.equal_range(found[i]);
        for (auto it = first; it != last; ++it) {
            found.push_back(it->second);
        }
    }
    return found;
}

std::optional<Rect> settingsWindowFrame(const std::vector<ListedWindow>& list,
                                        const std::vector<std::int32_t>& pids,
                                        const std::vector<std::string>& classes) {
    std::optional<Rect> best;
    for (const auto& w : list) {
        if (!w.onScreen || (std::ranges::find(pids, w.processIdentifier) == pids.end() &&
                            !windowHasClass(w, classes))) {
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

void SettingsWindowTracker::start(const SystemSettings::SettingsApplication& application,
                                  std::optional<std::int32_t> launched) {
    stop();
    application_ = application;
    classes_ = settingsWindowClasses(application);
    launched_ = launched;
    startedAt_ = runtime_.uptime();
    schedulePoll();
    pollStep();
}

void SettingsWindowTracker::stop() {
    pollTimer_.cancel();
    windowObserver_.cancel();
    observedWindow_.reset();
    currentFrame_.reset();
    windowProcesses_.clear();
    tree_.clear();
    treeReadAt_.reset();
    sawWindow_ = false;
    missingAppPollCount_ = 0;
}

bool SettingsWindowTracker::isSettingsProcess(std::int32_t pid) const {
    return pid > 0 && std::ranges::find(windowProcesses_, pid) != windowProcesses_.end();
}

std::vector<std::int32_t> SettingsWindowTracker::settingsProcesses() {
    if (launched_ && *launched_ > 0 && processTree &&
        (!treeReadAt_ || runtime_.uptime() - *treeReadAt_ >= treeInterval)) {
        tree_ = processTree(*launched_);
        treeReadAt_ = runtime_.uptime();
    }
    std::vector<std::int32_t> pids = tree_;
    for (const auto& running : workspace_.runningApplications()) {
        if (isSettingsApplication(running, application_) &&
            std::ranges::find(pids, running.processIdentifier) == pids.end()) {
            pids.push_back(running.processIdentifier);
        }
    }
    return pids;
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
    auto pids = settingsProcesses();
    const auto list = windows_.windowsMatching(pids, classes_);
    for (const auto& w : list) {
        if (std::ranges::find(pids, w.processIdentifier) == pids.end()) {
            pids.push_back(w.processIdentifier);
        }
    }
    windowProcesses_ = std::move(pids);
    const auto frame = settingsWindowFrame(list, windowProcesses_, classes_);
    if (!frame) {
        missingAppStep(list.empty());
        return;
    }
    sawWindow_ = true;
    missingAppPollCount_ = 0;
    report(*frame);
    // Follow that window's own events between polls.
    auto window = std::ranges::find_if(
        list, [&](const ListedWindow& w) { return w.onScreen && w.frame == *frame; });
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

void SettingsWindowTracker::missingAppStep(bool noWindow) {
    if (!sawWindow_) {
        if (runtime_.uptime() - startedAt_ >= windowTimeout) {
            stop();
            if (onWindowTimeout) {
                onWindowTimeout();
            }
        }
        return;
    }
    // A window that is only minimised or small for a moment still stands for the program.
    if (!noWindow) {
        missingAppPollCount_ = 0;
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
