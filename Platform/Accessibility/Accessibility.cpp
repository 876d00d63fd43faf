#include "Platform/Accessibility/Accessibility.h"

namespace tesvano::platform {

std::string_view describe(AXError error) {
    switch (error) {
        case AXError::failure:
            return "failure";
        case AXError::illegalArgument:
            return "illegal argument";
        case AXError::invalidUIElement:
            return "invalid element";
        case AXError::cannotComplete:
            return "cannot complete";
        case AXError::attributeUnsupported:
            return "attribute unsupported";
        case AXError::notificationUnsupported:
            return "notification unsupported";
        case AXError::apiDisabled:
            return "not trusted";
        case AXError::noValue:
            return "no value";
    }
    return "unknown";
}

std::optional<std::string> Accessibility::stringAttribute(const AXElement& element,
                                                          std::string_view attribute) {
    auto value = copyAttributeValue(element, attribute);
    if (!value) {
        return std::nullopt;
    }
    if (auto* text = std::get_if<std::string>(&*value)) {
        return std::move(*text);
    }
    return std::nullopt;
}

std::optional<AXElement> Accessibility::elementAttribute(const AXElement& element,
                                                         std::string_view attribute) {
    auto value = copyAttributeValue(element, attribute);
    if (!value) {
        return std::nullopt;
    }
    if (auto* found = std::get_if<AXElement>(&*value); found && !found->isNull()) {
        return std::move(*found);
    }
    return std::nullopt;
}

}  // namespace tesvano::platform
