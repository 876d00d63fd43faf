#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <string>

#include "Platform/Accessibility/Accessibility.h"
#include "Platform/Accessibility/AssistiveTechnologyStatus.h"
#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// The Accessibility service over AT-SPI 2 (libatspi on the accessibility bus). Trust is
// "assistive technologies are enabled on this session". Attributes are translated to what
// browsers expose over AT-SPI (see AtspiVocabulary.h); the desktop-wide focused element is
// the last one an object:state-changed:focused event named. Nothing asks a browser to build
// its tree: AT-SPI has no such request, browsers decide at start-up from the session's
// assistive-technology setting.
//
// libatspi talks D-Bus from GLib's default main context, and must be called from within a
// dispatch of that context (a Qt program on the GLib event dispatcher, or GLibRunLoop):
// outside one it dispatches D-Bus messages in the middle of a call and can deadlock.
// Events are handed to observers from a fresh turn of the run loop, never from inside
// libatspi's own dispatch.
//
// The registry may not be up yet when the program starts (at login everything starts at
// once), and libatspi keeps the application list of its first answer, or of its failure, for
// good. So the registry is asked without waiting, again on the runtime's timers for about a
// minute, and applications are read only once it has answered; then the events are
// registered again for the registry to pass on.
//
// Every call to an application waits at most the call timeout (0.25 s by default). An
// application that let a call time out is treated as hung for `hungBackoff`: calls to it
// fail at once, so a stalled browser costs the main thread one timeout per back-off at most.
class AtspiAccessibility final : public Accessibility {
public:
    static constexpr double defaultCallTimeout = 0.25;
    static constexpr double hungBackoff = 2.0;

    // Connects to the accessibility bus; an error when there is none.
    static std::expected<std::unique_ptr<AtspiAccessibility>, std::string> open(
        Runtime& runtime, AssistiveTechnologyStatus& status);
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    bool isProcessTrusted() override;
    // From the session's IsEnabled property change signal.
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

    // Whether the focused element is a password field: the secure-input probe. Answers from
    // the role its application gave when the focus reached it (asked then, without waiting);
    // an answer still on its way is waited for within PasswordFocusProbe's budget, and until
    // one comes the element counts as an ordinary one.
    bool focusedElementIsPasswordField();

    struct State;

private:
    explicit AtspiAccessibility(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

}  // namespace tesvano::platform
