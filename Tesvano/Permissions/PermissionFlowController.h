#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tesvano {

enum class PermissionFlowPane { accessibility };

// Guides the user through granting a permission.
class PermissionFlowController {
public:
    virtual ~PermissionFlowController() = default;
    virtual void setLocaleIdentifier(const std::optional<std::string>& identifier) = 0;
    virtual void open(PermissionFlowPane pane, const std::vector<std::string>& suggestedApps) = 0;
    // With restorePrevious, brings back the application that was in front before the flow.
    virtual void stop(bool restorePrevious) = 0;
};

// Stands in until the permission guidance is built: it shows nothing.
class PermissionFlowStandIn final : public PermissionFlowController {
public:
    void setLocaleIdentifier(const std::optional<std::string>& identifier) override {
        localeIdentifier = identifier;
    }
    void open(PermissionFlowPane, const std::vector<std::string>&) override { ++opens; }
    void stop(bool restorePrevious) override {
        ++stops;
        lastRestorePrevious = restorePrevious;
    }

    std::optional<std::string> localeIdentifier;
    int opens = 0;
    int stops = 0;
    bool lastRestorePrevious = false;
};

}  // namespace tesvano
