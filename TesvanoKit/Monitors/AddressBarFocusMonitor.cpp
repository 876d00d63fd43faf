#include "TesvanoKit/Monitors/AddressBarFocusMonitor.h"

#include "TesvanoKit/Monitors/AddressBarHeuristic.h"

namespace tesvano {

namespace a11y = platform::a11y;

AddressBarFocusMonitor::AddressBarFocusMonitor(platform::Workspace& workspace,
                                               platform::Accessibility& accessibility,
                                               int ancestorDepth)
    : workspace_(workspace),
      accessibility_(accessibility),
      desktop_(accessibility.desktopElement()),
      ancestorDepth_(ancestorDepth) {
    (void)accessibility_.setCallTimeout(desktop_, callTimeout);
}

AddressBarFocusMonitor::~AddressBarFocusMonitor() {
    stop();
}

void AddressBarFocusMonitor::start(Handler handler) {
    if (onChange_) {
        return;
    }
    onChange_ = std::move(handler);
}

void AddressBarFocusMonitor::observe(const std::optional<std::string>& appId) {
    if (!onChange_) {
        return;
    }
    if (appId == observedAppId_ && observer_) {
        return;
    }
    detach();
    observedAppId_ = appId;
    if (appId) {
        auto instances = workspace_.runningApplications(*appId);
        if (!instances.empty()) {
            attach(instances.front().processIdentifier);
            // The state reported for the previous browser no longer holds. A focused bar is
            // reported again (the engine forgets the state whenever it re-targets us), and so
            // is the end of one, or anyone following us would go on believing it has focus.
            const bool wasFocused = current_;
            current_ = evaluate().value_or(false);
            if (current_ || wasFocused) {
                if (auto handler = onChange_) {
                    handler(current_);
                }
            }
            return;
        }
    }
    if (current_) {
        current_ = false;
        if (auto handler = onChange_) {
            handler(false);
        }
    }
}

void AddressBarFocusMonitor::refresh() {
    if (!onChange_) {
        return;
    }
    if (accessibility_.isProcessTrusted()) {
        if (observedAppId_ && !observer_) {
            auto instances = workspace_.runningApplications(*observedAppId_);
            if (!instances.empty()) {
                attach(instances.front().processIdentifier);
            }
        }
        if (const auto focused = evaluate()) {
            reportIfChanged(*focused);
        }
        return;
    }
    detach();
    reportIfChanged(false);
}

void AddressBarFocusMonitor::stop() {
    detach();
    onChange_ = nullptr;
    observedAppId_.reset();
    current_ = false;
}

void AddressBarFocusMonitor::attach(std::int32_t pid) {
    if (observer_ || !accessibility_.isProcessTrusted()) {
        return;
    }
    const auto application = accessibility_.applicationElement(pid);
    std::weak_ptr<int> alive = lifetime_;
    auto observer = accessibility_.createObserver(
        pid, [this, alive](const platform::AccessibleElement&, const std::string&) {
            if (alive.expired()) {
                return;
            }
            if (const auto focused = evaluate()) {
                reportIfChanged(*focused);
            }
        });
    if (!observer) {
        return;
    }
    if (!(*observer)->listen(application, a11y::focusEvent)) {
        return;
    }
    observer_ = std::move(*observer);
    observedPID_ = pid;
}

void AddressBarFocusMonitor::detach() {
    observer_.reset();
    observedPID_.reset();
}

void AddressBarFocusMonitor::reportIfChanged(bool focused) {
    if (focused == current_) {
        return;
    }
    current_ = focused;
    if (auto handler = onChange_) {
        handler(focused);
    }
}

std::vector<std::string> AddressBarFocusMonitor::ancestorRoles(
    platform::Accessibility& accessibility, const platform::AccessibleElement& element, int depth) {
    std::vector<std::string> roles;
    if (depth <= 0) {
        return roles;
    }
    auto ancestor = accessibility.elementAttribute(element, a11y::parent);
    for (int examined = 0; ancestor && examined < depth; ++examined) {
        if (auto role = accessibility.stringAttribute(*ancestor, a11y::role)) {
            roles.push_back(std::move(*role));
        }
        if (examined + 1 < depth) {
            ancestor = accessibility.elementAttribute(*ancestor, a11y::parent);
        }
    }
    return roles;
}

std::optional<bool> AddressBarFocusMonitor::evaluate() {
    auto focused = accessibility_.elementAttribute(desktop_, a11y::focusedElement);
    if (!focused) {
        return false;
    }
    auto pid = accessibility_.processIdentifier(*focused);
    if (!pid || !observedPID_ || *pid != *observedPID_) {
        return false;
    }
    auto domIdentifier = accessibility_.stringAttribute(*focused, a11y::objectId);
    std::vector<std::string> classList;
    if (auto value = accessibility_.readAttribute(*focused, a11y::classList)) {
        if (auto* list = std::get_if<std::vector<std::string>>(&*value)) {
            classList = std::move(*list);
        }
    }
    if (AddressBarHeuristic::isAddressBar(
            domIdentifier, classList, ancestorRoles(accessibility_, *focused, ancestorDepth_))) {
        return true;
    }
    // Reads the browser did not answer look like an element without markers: then nothing
    // is known, and the state reported stands until a later check.
    const auto role = accessibility_.readAttribute(*focused, a11y::role);
    if (!role && role.error() == platform::AccessibilityError::cannotComplete) {
        return std::nullopt;
    }
    return false;
}

}  // namespace tesvano
