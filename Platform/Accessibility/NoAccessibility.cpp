#include "Platform/Accessibility/NoAccessibility.h"

namespace tesvano::platform {

namespace {
// Handles still have an identity, so callers can hold and compare them as usual.
class NoElement final : public AXElementImpl {};
}  // namespace

AXElement NoAccessibility::systemWideElement() {
    return AXElement(std::make_shared<NoElement>());
}

AXElement NoAccessibility::applicationElement(std::int32_t) {
    return AXElement(std::make_shared<NoElement>());
}

std::expected<AXValue, AXError> NoAccessibility::copyAttributeValue(const AXElement&,
                                                                    std::string_view) {
    return std::unexpected(AXError::apiDisabled);
}

std::expected<void, AXError> NoAccessibility::setAttributeValue(const AXElement&, std::string_view,
                                                                const AXValue&) {
    return std::unexpected(AXError::apiDisabled);
}

std::expected<std::int32_t, AXError> NoAccessibility::processIdentifier(const AXElement&) {
    return std::unexpected(AXError::apiDisabled);
}

std::expected<void, AXError> NoAccessibility::setMessagingTimeout(const AXElement&, double) {
    return {};
}

std::expected<std::unique_ptr<AXObserver>, AXError> NoAccessibility::createObserver(
    std::int32_t, AXObserverCallback) {
    return std::unexpected(AXError::apiDisabled);
}

}  // namespace tesvano::platform
