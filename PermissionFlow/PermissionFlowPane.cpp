#include "PermissionFlow/PermissionFlowPane.h"

#include <utility>

#include "PermissionFlow/PermissionFlowResources.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace PermissionFlow {

namespace {

using Anchor = SystemSettings::PrivacyAnchor;
// A pane whose setting no Linux desktop shows.
constexpr std::optional<Anchor> nowhere;

struct PaneRow {
    PermissionFlowPane pane;
    std::string_view raw;
    std::optional<Anchor> anchor;
    bool drag;
    std::string_view key;
    std::string_view name;
};

constexpr std::array<PaneRow, 12> paneRows{{
    {PermissionFlowPane::appManagement, "appManagement", nowhere, true,
     N_("permission_flow.pane.app_management"), "App Management"},
    {PermissionFlowPane::accessibility, "accessibility", Anchor::accessibility, true,
     PermissionFlowResources::accessibilityKey, "Accessibility"},
    {PermissionFlowPane::bluetooth, "bluetooth", nowhere, true,
     N_("permission_flow.pane.bluetooth"), "Bluetooth"},
    {PermissionFlowPane::calendars, "calendars", nowhere, false,
     N_("permission_flow.pane.calendars"), "Calendars"},
    {PermissionFlowPane::camera, "camera", Anchor::camera, false, N_("permission_flow.pane.camera"),
     "Camera"},
    {PermissionFlowPane::developerTools, "developerTools", nowhere, true,
     N_("permission_flow.pane.developer_tools"), "Developer Tools"},
    {PermissionFlowPane::fullDiskAccess, "fullDiskAccess", nowhere, true,
     N_("permission_flow.pane.full_disk_access"), "Full Disk Access"},
    {PermissionFlowPane::inputMonitoring, "inputMonitoring", nowhere, true,
     N_("permission_flow.pane.input_monitoring"), "Input Monitoring"},
    {PermissionFlowPane::mediaAppleMusic, "mediaAppleMusic", nowhere, true,
     N_("permission_flow.pane.media_apple_music"), "Media & Music"},
    {PermissionFlowPane::microphone, "microphone", Anchor::microphone, false,
     N_("permission_flow.pane.microphone"), "Microphone"},
    {PermissionFlowPane::reminders, "reminders", nowhere, false,
     N_("permission_flow.pane.reminders"), "Reminders"},
    {PermissionFlowPane::screenRecording, "screenRecording", nowhere, true,
     N_("permission_flow.pane.screen_recording"), "Screen Recording"},
}};

const PaneRow& row(PermissionFlowPane pane) {
    return paneRows[static_cast<std::size_t>(std::to_underlying(pane))];
}

constexpr std::array<std::pair<PermissionAuthorizationState, std::string_view>, 4> stateNames{{
    {PermissionAuthorizationState::granted, "granted"},
    {PermissionAuthorizationState::notGranted, "notGranted"},
    {PermissionAuthorizationState::unknown, "unknown"},
    {PermissionAuthorizationState::checking, "checking"},
}};

}  // namespace

const std::array<PermissionFlowPane, 12>& allPanes() {
    static const auto all = [] {
        std::array<PermissionFlowPane, 12> out{};
        for (std::size_t i = 0; i < paneRows.size(); ++i) {
            out[i] = paneRows[i].pane;
        }
        return out;
    }();
    return all;
}

std::string_view rawValue(PermissionFlowPane pane) {
    return row(pane).raw;
}

std::string_view rawValue(PermissionAuthorizationState state) {
    return stateNames[static_cast<std::size_t>(std::to_underlying(state))].second;
}

std::string_view rawValue(PermissionStatusCapability capability) {
    return capability == PermissionStatusCapability::preflightSupported ? "preflightSupported"
                                                                        : "unsupported";
}

std::optional<PermissionFlowPane> paneFromRawValue(std::string_view raw) {
    for (const auto& r : paneRows) {
        if (r.raw == raw) {
            return r.pane;
        }
    }
    return std::nullopt;
}

std::optional<PermissionAuthorizationState> stateFromRawValue(std::string_view raw) {
    for (const auto& [state, name] : stateNames) {
        if (name == raw) {
            return state;
        }
    }
    return std::nullopt;
}

std::optional<PermissionStatusCapability> capabilityFromRawValue(std::string_view raw) {
    for (auto c : {PermissionStatusCapability::preflightSupported,
                   PermissionStatusCapability::unsupported}) {
        if (rawValue(c) == raw) {
            return c;
        }
    }
    return std::nullopt;
}

std::optional<SystemSettings::PrivacyAnchor> privacyAnchor(PermissionFlowPane pane) {
    return row(pane).anchor;
}

bool supportsAppDrag(PermissionFlowPane pane) {
    return row(pane).drag;
}

std::string localizedName(PermissionFlowPane pane,
                          const std::optional<std::string>& localeIdentifier) {
    const auto& r = row(pane);
    return PermissionFlowResources::localizedString(r.key, std::string(r.name), localeIdentifier);
}

}  // namespace PermissionFlow
