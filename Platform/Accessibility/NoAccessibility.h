#pragma once

#include "Platform/Accessibility/Accessibility.h"

namespace tesvano::platform {

// The service where no accessibility bus is available to us: never trusted, every read and
// registration fails, so the features built on it stay off instead of guessing.
class NoAccessibility final : public Accessibility {
public:
    bool isProcessTrusted() override { return false; }
    AXElement systemWideElement() override;
    AXElement applicationElement(std::int32_t pid) override;
    std::expected<AXValue, AXError> copyAttributeValue(const AXElement& element,
                                                       std::string_view attribute) override;
    std::expected<void, AXError> setAttributeValue(const AXElement& element,
                                                   std::string_view attribute,
                                                   const AXValue& value) override;
    std::expected<std::int32_t, AXError> processIdentifier(const AXElement& element) override;
    std::expected<void, AXError> setMessagingTimeout(const AXElement& element,
                                                     double seconds) override;
    std::expected<std::unique_ptr<AXObserver>, AXError> createObserver(
        std::int32_t pid, AXObserverCallback callback) override;
};

}  // namespace tesvano::platform
