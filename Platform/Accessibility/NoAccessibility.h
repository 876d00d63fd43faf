#pragma once

#include "Platform/Accessibility/Accessibility.h"

namespace tesvano::platform {

// The service where no accessibility bus is available to us: never trusted, every read and
// registration fails, so the features built on it stay off instead of guessing.
class NoAccessibility final : public Accessibility {
public:
    bool isProcessTrusted() override { return false; }
    AccessibleElement desktopElement() override;
    AccessibleElement applicationElement(std::int32_t pid) override;
    std::expected<AttributeValue, AccessibilityError> readAttribute(
        const AccessibleElement& element, std::string_view attribute) override;
    std::expected<std::int32_t, AccessibilityError> processIdentifier(
        const AccessibleElement& element) override;
    std::expected<void, AccessibilityError> setCallTimeout(const AccessibleElement& element,
                                                           double seconds) override;
    std::expected<std::unique_ptr<AccessibilityObserver>, AccessibilityError> createObserver(
        std::int32_t pid, AccessibilityObserverCallback callback) override;
};

}  // namespace tesvano::platform
