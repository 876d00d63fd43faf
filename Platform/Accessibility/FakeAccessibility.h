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

// An in-memory element tree that tests build: applications, windows, tool bars, fields,
// documents. "parent" and "children" follow the tree; every other attribute is what the test
// sets. Events are delivered when the test posts them.
class FakeAccessibility final : public Accessibility {
public:
    FakeAccessibility();
    ~FakeAccessibility() override;
    FakeAccessibility(const FakeAccessibility&) = delete;
    FakeAccessibility& operator=(const FakeAccessibility&) = delete;

    // --- building the tree
    // The application element of `pid`, made on first use.
    AccessibleElement addApplication(std::int32_t pid);
    // A new last child of `parent` with this role (no role when empty).
    AccessibleElement addElement(const AccessibleElement& parent, std::string_view role);
    void setAttribute(const AccessibleElement& element, std::string_view name,
                      AttributeValue value);
    void removeAttribute(const AccessibleElement& element, std::string_view name);
    // Reads of this attribute of this element fail with `error` (also "parent").
    void failAttribute(const AccessibleElement& element, std::string_view name,
                       AccessibilityError error = AccessibilityError::cannotComplete);
    // The application quits: its elements become invalid and its observers hear nothing more.
    void removeApplication(std::int32_t pid);
    // What "focused-element" of the desktop element answers; none: no value.
    void setFocusedElement(std::optional<AccessibleElement> element);
    // Changes the trust; observers of it hear of a change.
    void setTrusted(bool trusted);

    // Observer creation fails, or registering these events does.
    bool failObserverCreation = false;
    std::set<std::string, std::less<>> unsupportedEvents;

    // --- driving
    // Delivers `event` about `element` to every observer of `pid` that registered it
    // on that element or on the application element.
    void post(std::int32_t pid, std::string_view event, const AccessibleElement& element);

    // --- inspection
    int observerCount() const;
    int observerCount(std::int32_t pid) const;
    // Events registered by live observers of `pid`, in registration order.
    std::vector<std::string> registeredEvents(std::int32_t pid) const;
    std::optional<double> callTimeout(const AccessibleElement& element) const;
    int readCount(std::string_view attribute) const;
    void resetReadCounts() { reads_.clear(); }

    // --- the service
    bool isProcessTrusted() override { return trusted_; }
    Registration observeTrust(std::function<void()> changed) override;
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

    struct Node;
    struct Registry;

private:
    class Observer;

    std::shared_ptr<Node> node(const AccessibleElement& element) const;
    std::shared_ptr<Node> makeNode(std::int32_t pid, std::shared_ptr<Node> parent);

    bool trusted_ = true;
    std::vector<std::pair<std::shared_ptr<Registration::State>, std::function<void()>>>
        trustObservers_;
    std::shared_ptr<Node> desktop_;
    std::map<std::int32_t, std::shared_ptr<Node>> applications_;
    std::optional<AccessibleElement> focused_;
    std::map<std::string, int, std::less<>> reads_;
    // Shared with the observers, which may outlive the fake.
    std::shared_ptr<Registry> registry_;
};

}  // namespace tesvano::platform
