#include "Platform/Accessibility/Accessibility.h"

namespace tesvano::platform {

std::string_view describe(AccessibilityError error) {
    switch (error) {
        case AccessibilityError::failure:
            return "failure";
        case AccessibilityError::invalidArgument:
            return "illegal argument";
        case AccessibilityError::invalidElement:
            return "invalid element";
        case AccessibilityError::cannotComplete:
            return "cannot complete";
        case AccessibilityError::attributeUnsupported:
            return "attribute unsupported";
        case AccessibilityError::eventUnsupported:
            return "event unsupported";
        case AccessibilityError::notTrusted:
            return "not trusted";
        case AccessibilityError::noValue:
            return "no value";
    }
    return "unknown";
}

std::optional<std::string> Accessibility::stringAttribute(const AccessibleElement& element,
                                                          std::string_view attribute) {
    auto value = readAttribute(element, attribute);
    if (!value) {
        return std::nullopt;
    }
    if (auto* text = std::get_if<std::string>(&*value)) {
        return std::move(*text);
    }
    return std::nullopt;
}

std::optional<AccessibleElement> Accessibility::elementAttribute(const AccessibleElement& element,
                                                                 std::string_view attribute) {
    auto value = readAttribute(element, attribute);
    if (!value) {
        return std::nullopt;
    }
    if (auto* found = std::get_if<AccessibleElement>(&*value); found && !found->isNull()) {
        return std::move(*found);
    }
    return std::nullopt;
}

}  // namespace tesvano::platform
