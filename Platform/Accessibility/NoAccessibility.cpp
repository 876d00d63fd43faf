#include "Platform/Accessibility/NoAccessibility.h"

namespace tesvano::platform {

namespace {
// Handles still have an identity, so callers can hold and compare them as usual.
class NoElement final : public AccessibleElementImpl {};
}  // namespace

AccessibleElement NoAccessibility::desktopElement() {
    return AccessibleElement(std::make_shared<NoElement>());
}

AccessibleElement NoAccessibility::applicationElement(std::int32_t) {
    return AccessibleElement(std::make_shared<NoElement>());
}

std::expected<AttributeValue, AccessibilityError> NoAccessibility::readAttribute(
    const AccessibleElement&, std::string_view) {
    return std::unexpected(AccessibilityError::notTrusted);
}

std::expected<std::int32_t, AccessibilityError> NoAccessibility::processIdentifier(
    const AccessibleElement&) {
    return std::unexpected(AccessibilityError::notTrusted);
}

std::expected<void, AccessibilityError> NoAccessibility::setCallTimeout(const AccessibleElement&,
                                                                        double) {
    return {};
}

std::expected<std::unique_ptr<AccessibilityObserver>, AccessibilityError>
NoAccessibility::createObserver(std::int32_t, AccessibilityObserverCallback) {
    return std::unexpected(AccessibilityError::notTrusted);
}

}  // namespace tesvano::platform
