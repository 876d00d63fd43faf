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

namespace tesvano::platform {

// The names the monitors read and register, as the Accessibility interface spells them.
namespace ax {
inline constexpr std::string_view focusedUIElement = "AXFocusedUIElement";
inline constexpr std::string_view focusedWindow = "AXFocusedWindow";
inline constexpr std::string_view role = "AXRole";
inline constexpr std::string_view identifier = "AXIdentifier";
inline constexpr std::string_view domIdentifier = "AXDOMIdentifier";
inline constexpr std::string_view domClassList = "AXDOMClassList";
inline constexpr std::string_view parent = "AXParent";
inline constexpr std::string_view children = "AXChildren";
inline constexpr std::string_view url = "AXURL";
inline constexpr std::string_view manualAccessibility = "AXManualAccessibility";
inline constexpr std::string_view enhancedUserInterface = "AXEnhancedUserInterface";

inline constexpr std::string_view windowCreatedNotification = "AXWindowCreated";
inline constexpr std::string_view focusedUIElementChangedNotification = "AXFocusedUIElementChanged";
inline constexpr std::string_view mainWindowChangedNotification = "AXMainWindowChanged";
inline constexpr std::string_view uiElementDestroyedNotification = "AXUIElementDestroyed";
inline constexpr std::string_view windowResizedNotification = "AXWindowResized";
inline constexpr std::string_view applicationDeactivatedNotification = "AXApplicationDeactivated";
}  // namespace ax

enum class AXError {
    failure,
    illegalArgument,
    invalidUIElement,
    cannotComplete,  // the application did not answer within the messaging timeout
    attributeUnsupported,
    notificationUnsupported,
    apiDisabled,  // the process is not trusted
    noValue,
};

std::string_view describe(AXError error);

// The backend's own representation of one element.
class AXElementImpl {
public:
    virtual ~AXElementImpl() = default;
};

// A handle to a user-interface element of some application (or the system-wide element).
// Copies refer to the same element; handles compare equal when they name the same element.
class AXElement {
public:
    AXElement() = default;
    explicit AXElement(std::shared_ptr<AXElementImpl> impl) : impl_(std::move(impl)) {}

    bool isNull() const { return !impl_; }
    const std::shared_ptr<AXElementImpl>& impl() const { return impl_; }

    friend bool operator==(const AXElement& a, const AXElement& b) { return a.impl_ == b.impl_; }

private:
    std::shared_ptr<AXElementImpl> impl_;
};

// A URL value, kept apart from plain strings because readers treat the two differently.
struct AXURL {
    std::string absoluteString;
    friend bool operator==(const AXURL&, const AXURL&) = default;
};

using AXValue = std::variant<bool, double, std::string, AXURL, AXElement, std::vector<AXElement>,
                             std::vector<std::string>>;

// Registrations of notifications for one process. Destroying the observer removes them all;
// no callback arrives afterwards.
class AXObserver {
public:
    virtual ~AXObserver() = default;
    virtual std::expected<void, AXError> addNotification(const AXElement& element,
                                                         std::string_view notification) = 0;
};

// Called on the main thread with the element the notification is about and its name.
using AXObserverCallback =
    std::function<void(const AXElement& element, const std::string& notification)>;

// The Accessibility service: element tree, attributes, observers and the trust check.
// Every call is made on the main thread; callbacks arrive there too.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether this process may use the service at all.
    virtual bool isProcessTrusted() = 0;

    // The element whose "AXFocusedUIElement" is the focused element of the whole desktop.
    virtual AXElement systemWideElement() = 0;
    // The top element of the application with this process id; reads fail when it is gone.
    virtual AXElement applicationElement(std::int32_t pid) = 0;

    virtual std::expected<AXValue, AXError> copyAttributeValue(const AXElement& element,
                                                               std::string_view attribute) = 0;
    virtual std::expected<void, AXError> setAttributeValue(const AXElement& element,
                                                           std::string_view attribute,
                                                           const AXValue& value) = 0;
    virtual std::expected<std::int32_t, AXError> processIdentifier(const AXElement& element) = 0;
    // Bounds every query made through this element (through the system-wide element: every
    // query of the desktop's focus) so an application that hangs cannot stall the caller.
    virtual std::expected<void, AXError> setMessagingTimeout(const AXElement& element,
                                                             double seconds) = 0;

    virtual std::expected<std::unique_ptr<AXObserver>, AXError> createObserver(
        std::int32_t pid, AXObserverCallback callback) = 0;

    // Typed reads: none when the read fails or the value has another type.
    std::optional<std::string> stringAttribute(const AXElement& element,
                                               std::string_view attribute);
    std::optional<AXElement> elementAttribute(const AXElement& element, std::string_view attribute);
};

}  // namespace tesvano::platform
