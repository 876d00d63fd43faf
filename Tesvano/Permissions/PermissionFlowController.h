#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PermissionFlow/PermissionFlowPane.h"
#include "Platform/Workspace/WindowList.h"

namespace tesvano {

using PermissionFlow::PermissionFlowPane;

// Guides the user through granting a permission.
class PermissionFlowController {
public:
    virtual ~PermissionFlowController() = default;
    virtual void setLocaleIdentifier(const std::optional<std::string>& identifier) = 0;
    // `suggestedApps` are desktop entries; the panel flies out of `launchFrom` (the pointer).
    virtual void open(PermissionFlowPane pane, const std::vector<std::string>& suggestedApps,
                      const std::optional<platform::Rect>& launchFrom = std::nullopt) = 0;
    // With restorePrevious, brings back the application that was in front before the flow.
    virtual void stop(bool restorePrevious) = 0;
};

// Stands in where no guide can be shown (tests of the state): it shows nothing.
class PermissionFlowStandIn final : public PermissionFlowController {
public:
    void setLocaleIdentifier(const std::optional<std::string>& identifier) override {
        localeIdentifier = identifier;
    }
    void open(PermissionFlowPane, const std::vector<std::string>& suggested,
              const std::optional<platform::Rect>& launchFrom) override {
        ++opens;
        lastSuggested = suggested;
        lastLaunchFrom = launchFrom;
    }
    void stop(bool restorePrevious) override {
        ++stops;
        lastRestorePrevious = restorePrevious;
    }

    std::optional<std::string> localeIdentifier;
    int opens = 0;
    int stops = 0;
    bool lastRestorePrevious = false;
    std::vector<std::string> lastSuggested;
    std::optional<platform::Rect> lastLaunchFrom;
};

}  // namespace tesvano
