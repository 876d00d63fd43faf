#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Accessibility/Accessibility.h"

namespace tesvano::platform {

// An in-memory element tree that tests build: applications, windows, toolbars, fields, web
// areas. "AXParent" and "AXChildren" follow the tree; every other attribute is what the test
// sets. Notifications are delivered when the test posts them.
class FakeAccessibility final : public Accessibility {
public:
    FakeAccessibility();
    ~FakeAccessibility() override;
    FakeAccessibility(const FakeAccessibility&) = delete;
    FakeAccessibility& operator=(const FakeAccessibility&) = delete;

    // --- building the tree
    // The application element of `pid`, made on first use.
    AXElement addApplication(std::int32_t pid);
    // A new last child of `parent` with this "AXRole" (no role when empty).
    AXElement addElement(const AXElement& parent, std::string_view role);
    void setAttribute(const AXElement& element, std::string_view name, AXValue value);
    void removeAttribute(const AXElement& element, std::string_view name);
    // Reads of this attribute of this element fail with `error` (also "AXParent").
    void failAttribute(const AXElement& element, std::string_view name,
                       AXError error = AXError::cannotComplete);
    // The application quits: its elements become invalid and its observers hear nothing more.
    void removeApplication(std::int32_t pid);
    // What "AXFocusedUIElement" of the system-wide element answers; none: no value.
    void setFocusedElement(std::optional<AXElement> element);
    void setTrusted(bool trusted) { trusted_ = trusted; }

    // Observer creation fails, or registering these notifications does.
    bool failObserverCreation = false;
    std::set<std::string, std::less<>> unsupportedNotifications;

    // --- driving
    // Delivers `notification` about `element` to every observer of `pid` that registered it
    // on that element or on the application element.
    void post(std::int32_t pid, std::string_view notification, const AXElement& element);

    // --- inspection
    int observerCount() const;
    int observerCount(std::int32_t pid) const;
    // Notifications registered by live observers of `pid`, in registration order.
    std::vector<std::string> registeredNotifications(std::int32_t pid) const;
    std::optional<double> messagingTimeout(const AXElement& element) const;
    // Attribute writes made through setAttributeValue, in order.
    std::vector<std::pair<std::string, AXValue>> writes(const AXElement& element) const;
    int readCount(std::string_view attribute) const;
    void resetReadCounts() { reads_.clear(); }

    // --- the service
    bool isProcessTrusted() override { return trusted_; }
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

    struct Node;
    struct Registry;

private:
    class Observer;

    std::shared_ptr<Node> node(const AXElement& element) const;
    std::shared_ptr<Node> makeNode(std::int32_t pid, std::shared_ptr<Node> parent);

    bool trusted_ = true;
    std::shared_ptr<Node> systemWide_;
    std::map<std::int32_t, std::shared_ptr<Node>> applications_;
    std::optional<AXElement> focused_;
    std::map<std::string, int, std::less<>> reads_;
    // Shared with the observers, which may outlive the fake.
    std::shared_ptr<Registry> registry_;
};

}  // namespace tesvano::platform
