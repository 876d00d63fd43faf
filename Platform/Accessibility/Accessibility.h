#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// What the monitors ask of elements and which events they register, in this layer's words.
// Roles are AT-SPI's role names ("entry", "tool bar", "document web"); events are named after
// the AT-SPI events they stand for. The AT-SPI backend translates both (AtspiVocabulary.h).
namespace a11y {
// Attributes.
inline constexpr std::string_view focusedElement = "focused-element";  // of the desktop element
inline constexpr std::string_view activeWindow = "active-window";      // of an application
inline constexpr std::string_view role = "role";
inline constexpr std::string_view accessibleId = "accessible-id";
inline constexpr std::string_view objectId = "id";      // the object attribute "id"
inline constexpr std::string_view classList = "class";  // the object attribute "class", split
inline constexpr std::string_view parent = "parent";
inline constexpr std::string_view children = "children";
inline constexpr std::string_view documentURL = "document-url";  // the address of a page

// Events.
inline constexpr std::string_view focusEvent = "focus";  // gained or lost
inline constexpr std::string_view windowCreateEvent = "window:create";
inline constexpr std::string_view windowActivateEvent = "window:activate";
inline constexpr std::string_view windowDestroyEvent = "window:destroy";
inline constexpr std::string_view windowResizeEvent = "window:resize";
inline constexpr std::string_view windowDeactivateEvent = "window:deactivate";
}  // namespace a11y

enum class AccessibilityError {
    failure,
    invalidArgument,
    invalidElement,
    cannotComplete,  // the application did not answer within the call timeout
    attributeUnsupported,
    eventUnsupported,
    notTrusted,  // assistive technologies are off for this session
    noValue,
};

std::string_view describe(AccessibilityError error);

// The backend's own representation of one element.
class AccessibleElementImpl {
public:
    virtual ~AccessibleElementImpl() = default;
};

// A handle to a user-interface element of some application (or the desktop element).
// Copies refer to the same element; handles compare equal when they name the same element.
class AccessibleElement {
public:
    AccessibleElement() = default;
    explicit AccessibleElement(std::shared_ptr<AccessibleElementImpl> impl)
        : impl_(std::move(impl)) {}

    bool isNull() const { return !impl_; }
    const std::shared_ptr<AccessibleElementImpl>& impl() const { return impl_; }

    friend bool operator==(const AccessibleElement& a, const AccessibleElement& b) {
        return a.impl_ == b.impl_;
    }

private:
    std::shared_ptr<AccessibleElementImpl> impl_;
};

// A URL value, kept apart from plain strings because readers treat the two differently.
struct URLValue {
    std::string address;
    friend bool operator==(const URLValue&, const URLValue&) = default;
};

using AttributeValue = std::variant<bool, double, std::string, URLValue, AccessibleElement,
                                    std::vector<AccessibleElement>, std::vector<std::string>>;

// Registrations of events for one process. Destroying the observer removes them all;
// no callback arrives afterwards.
class AccessibilityObserver {
public:
    virtual ~AccessibilityObserver() = default;
    virtual std::expected<void, AccessibilityError> listen(const AccessibleElement& element,
                                                           std::string_view event) = 0;
};

// Called on the main thread with the element the event is about and its name.
using AccessibilityObserverCallback =
    std::function<void(const AccessibleElement& element, const std::string& event)>;

// The Accessibility service: element tree, attributes, observers and the trust check.
// Every call is made on the main thread; callbacks arrive there too.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether this process may use the service at all.
    virtual bool isProcessTrusted() = 0;
    // Calls `changed` on the main thread when the trust may have changed, however it was
    // changed, until the handle goes. A service that cannot tell gives an empty handle.
    virtual Registration observeTrust(std::function<void()> changed) {
        (void)changed;
        return {};
    }

    // The element whose "focused-element" is the focused element of the whole desktop.
    virtual AccessibleElement desktopElement() = 0;
    // The top element of the application with this process id; reads fail when it is gone.
    virtual AccessibleElement applicationElement(std::int32_t pid) = 0;

    virtual std::expected<AttributeValue, AccessibilityError> readAttribute(
        const AccessibleElement& element, std::string_view attribute) = 0;
    virtual std::expected<std::int32_t, AccessibilityError> processIdentifier(
        const AccessibleElement& element) = 0;
    // Bounds every query made through this element (through the desktop element: every
    // query of the desktop's focus) so an application that hangs cannot stall the caller.
    virtual std::expected<void, AccessibilityError> setCallTimeout(const AccessibleElement& element,
                                                                   double seconds) = 0;

    virtual std::expected<std::unique_ptr<AccessibilityObserver>, AccessibilityError>
    createObserver(std::int32_t pid, AccessibilityObserverCallback callback) = 0;

    // Typed reads: none when the read fails or the value has another type.
    std::optional<std::string> stringAttribute(const AccessibleElement& element,
                                               std::string_view attribute);
    std::optional<AccessibleElement> elementAttribute(const AccessibleElement& element,
                                                      std::string_view attribute);
};

}  // namespace tesvano::platform
