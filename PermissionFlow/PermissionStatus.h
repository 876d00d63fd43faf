#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "PermissionFlow/PermissionFlowPane.h"

namespace tesvano::platform {
class AssistiveTechnologyStatus;
}

namespace PermissionFlow {

// A probe of one permission. `status` asks the user nothing.
class PermissionStatusProviding {
public:
    virtual ~PermissionStatusProviding() = default;
    virtual PermissionStatusCapability capability() const = 0;
    virtual PermissionAuthorizationState status() const = 0;
};

// Assistive technologies turned on for the session (what lets us read other programs'
// interfaces): granted, not granted, or unknown when the session bus does not answer.
class AccessibilityPermissionStatusProvider final : public PermissionStatusProviding {
public:
    explicit AccessibilityPermissionStatusProvider(
        std::shared_ptr<tesvano::platform::AssistiveTechnologyStatus> status)
        : status_(std::move(status)) {}
    PermissionStatusCapability capability() const override {
        return PermissionStatusCapability::preflightSupported;
    }
    PermissionAuthorizationState status() const override;

private:
    std::shared_ptr<tesvano::platform::AssistiveTechnologyStatus> status_;
};

// Reads one key of the desktop's settings ("true"/"false" as gsettings prints it); none when
// the desktop has no such key.
using DesktopSettingReader =
    std::function<std::optional<std::string>(const std::string& schema, const std::string& key)>;

// The real reader: `gsettings get`, at most half a second.
std::optional<std::string> readGSetting(const std::string& schema, const std::string& key);

// A device the desktop's privacy settings can switch off for every program (GNOME's
// org.gnome.desktop.privacy disable-camera / disable-microphone).
class DevicePrivacyStatusProvider final : public PermissionStatusProviding {
public:
    enum class Device { camera, microphone };
    DevicePrivacyStatusProvider(Device device, DesktopSettingReader reader)
        : device_(device), reader_(std::move(reader)) {}
    PermissionStatusCapability capability() const override {
        return PermissionStatusCapability::preflightSupported;
    }
    PermissionAuthorizationState status() const override;

private:
    Device device_;
    DesktopSettingReader reader_;
};

// What an X11 session does not restrict at all (calendars, reminders, files, the keyboard
// and the screen): granted.
class UnrestrictedPermissionStatusProvider final : public PermissionStatusProviding {
public:
    PermissionStatusCapability capability() const override {
        return PermissionStatusCapability::preflightSupported;
    }
    PermissionAuthorizationState status() const override {
        return PermissionAuthorizationState::granted;
    }
};

class UnsupportedPermissionStatusProvider final : public PermissionStatusProviding {
public:
    PermissionStatusCapability capability() const override {
        return PermissionStatusCapability::unsupported;
    }
    PermissionAuthorizationState status() const override {
        return PermissionAuthorizationState::unknown;
    }
};

// The probe of each pane; a pane without one has the unsupported probe. Guarded by a lock of
// its own, so probes may be asked from any thread.
namespace PermissionStatusRegistry {

std::shared_ptr<const PermissionStatusProviding> provider(PermissionFlowPane pane);
// Sets the pane's probe; none removes it.
void registerProvider(std::shared_ptr<const PermissionStatusProviding> provider,
                      PermissionFlowPane pane);
void registerAll(
    const std::map<PermissionFlowPane, std::shared_ptr<const PermissionStatusProviding>>& table);
// The table the program starts with: the accessibility probe on `status`, the device probes
// on the desktop settings, and what an X11 session leaves open.
std::map<PermissionFlowPane, std::shared_ptr<const PermissionStatusProviding>> standardTable(
    std::shared_ptr<tesvano::platform::AssistiveTechnologyStatus> status,
    DesktopSettingReader reader);

}  // namespace PermissionStatusRegistry

}  // namespace PermissionFlow
