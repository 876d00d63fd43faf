#include "PermissionFlow/PermissionFlowButtonState.h"

#include <array>
#include <string_view>
#include "TesvanoKit/Languages/TextKey.h"

namespace PermissionFlow {

namespace {

struct Row {
    PermissionAuthorizationState state;
    std::string_view key;
    std::string_view title;
    std::string_view image;
};

constexpr std::array<Row, 4> rows{{
    {PermissionAuthorizationState::granted, N_("permission_flow.button.granted"), "Granted",
     "checkmark.seal.fill"},
    {PermissionAuthorizationState::notGranted, N_("permission_flow.button.grant"), "Grant",
     "arrow.right.circle.fill"},
    {PermissionAuthorizationState::unknown, N_("permission_flow.button.open"), "Open",
     "arrow.right.circle.fill"},
    {PermissionAuthorizationState::checking, N_("permission_flow.button.checking"), "Checking...",
     "clock"},
}};

}  // namespace

PermissionFlowButtonState PermissionFlowButtonState::forState(PermissionAuthorizationState state) {
    for (const auto& r : rows) {
        if (r.state == state) {
            return {std::string(r.key), std::string(r.title), std::string(r.image),
                    state == PermissionAuthorizationState::granted};
        }
    }
    return {};
}

PermissionFlowButtonState PermissionFlowButtonState::withKey(std::string titleKey,
                                                             std::string systemImage,
                                                             bool isGranted) {
    std::string title = titleKey;
    for (const auto& r : rows) {
        if (r.key == titleKey) {
            title = r.title;
        }
    }
    return {std::move(titleKey), std::move(title), std::move(systemImage), isGranted};
}

}  // namespace PermissionFlow
