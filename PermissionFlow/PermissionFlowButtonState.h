#pragma once

#include <string>

#include "PermissionFlow/PermissionFlowPane.h"

namespace PermissionFlow {

// What the library's grant button shows for a permission's state.
struct PermissionFlowButtonState {
    std::string titleKey;
    std::string defaultTitle;
    std::string systemImage;
    bool isGranted = false;

    static PermissionFlowButtonState forState(PermissionAuthorizationState state);
    // The default title comes from the key: each known key has its own, any other key is
    // its own default.
    static PermissionFlowButtonState withKey(std::string titleKey, std::string systemImage,
                                             bool isGranted);

    friend bool operator==(const PermissionFlowButtonState&,
                           const PermissionFlowButtonState&) = default;
};

}  // namespace PermissionFlow
