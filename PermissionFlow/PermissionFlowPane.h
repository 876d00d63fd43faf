#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "system-settings-links/SystemSettingsDestination.h"

namespace PermissionFlow {

// The privacy permissions the guide knows; raw values are the case names.
enum class PermissionFlowPane {
    appManagement,
    accessibility,
    bluetooth,
    calendars,
    camera,
    developerTools,
    fullDiskAccess,
    inputMonitoring,
    mediaAppleMusic,
    microphone,
    reminders,
    screenRecording,
};

enum class PermissionAuthorizationState { granted, notGranted, unknown, checking };

enum class PermissionStatusCapability { preflightSupported, unsupported };

const std::array<PermissionFlowPane, 12>& allPanes();
std::string_view rawValue(PermissionFlowPane pane);
std::string_view rawValue(PermissionAuthorizationState state);
std::string_view rawValue(PermissionStatusCapability capability);
// Only an exact case name decodes.
std::optional<PermissionFlowPane> paneFromRawValue(std::string_view raw);
std::optional<PermissionAuthorizationState> stateFromRawValue(std::string_view raw);
std::optional<PermissionStatusCapability> capabilityFromRawValue(std::string_view raw);

// Where a desktop shows the pane's setting; none where no Linux desktop does.
std::optional<SystemSettings::PrivacyAnchor> privacyAnchor(PermissionFlowPane pane);
// Whether the pane's list takes an application dragged into it.
bool supportsAppDrag(PermissionFlowPane pane);
// The pane's display name in the locale (none: the interface language).
std::string localizedName(PermissionFlowPane pane,
                          const std::optional<std::string>& localeIdentifier = {});

}  // namespace PermissionFlow
