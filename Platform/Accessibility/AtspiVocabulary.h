#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Accessibility/Accessibility.h"

// How the AT-SPI backend translates the layer's attributes and events, apart from the
// D-Bus plumbing so that it can be tested without a bus.
//
// What Firefox ESR 153 and Chromium 156 expose over AT-SPI (inspected on a live session with
// assistive technologies enabled; Chromium with --force-renderer-accessibility):
// - Firefox's address bar: role "combo box", object attributes tag=input, id=urlbar-input,
//   class="urlbar-input textbox-input"; ancestors section, panel (id=urlbar), "tool bar"
//   (id=nav-bar), frame.
// - Chromium's address bar: role "entry", object attribute class=OmniboxViewViews (its id is
//   a per-run "view_N"); ancestors panel (class=LocationBarView), "tool bar"
//   (class=ToolbarView), panels, frame.
// - The page: role "document web". Firefox gives its address as the document attribute
//   DocURL, Chromium as URI (Chromium's own popups are "document web" with an empty URI).
//   Firefox's top frame also has a DocURL (chrome://browser/...), but its role is "frame";
//   tabs in the background keep their documents in the tree without the SHOWING state. Both
//   browsers give their top window an "embeds" relation to the document of the tab in front.
// - A focused password field: role "password text" (both browsers), with
//   text-input-type=password.
// - Focus: there is no desktop-wide focus query; focus arrives as the event
//   object:state-changed:focused (detail1 1 gained, 0 lost).
namespace tesvano::platform::atspi {

inline constexpr std::string_view toolBarRole = "tool bar";
inline constexpr std::string_view documentWebRole = "document web";
inline constexpr std::string_view passwordTextRole = "password text";
inline constexpr std::string_view frameRole = "frame";

inline constexpr std::string_view idAttribute = "id";
inline constexpr std::string_view classAttribute = "class";
inline constexpr std::string_view geckoDocumentURL = "DocURL";
inline constexpr std::string_view chromiumDocumentURL = "URI";

inline constexpr std::string_view focusEvent = "object:state-changed:focused";

// The AT-SPI event type an event of the layer stands for; none when AT-SPI has none.
std::optional<std::string_view> atspiEventFor(std::string_view event);

// The layer's events an AT-SPI event is delivered as. A focus lost counts too: a browser that
// moves the focus from its address bar into a page it loads may announce only the loss.
std::vector<std::string_view> eventsFor(std::string_view eventType, int detail1);

// The page address among a document's attributes: Gecko's DocURL, else Chromium's URI; none
// when both are missing or empty.
std::optional<std::string> documentURL(const std::map<std::string, std::string>& attributes);

// The class attribute as a list: words separated by white space.
std::vector<std::string> classList(std::string_view text);

// Delivers events to observers by the process id of the application they came from. An
// observer needs nothing of the application when it is made, so one made for a process that
// has not yet joined the accessibility bus hears it as soon as it does.
class EventRouter {
public:
    struct Entry {
        std::int32_t pid = 0;
        AccessibilityObserverCallback callback;
        std::set<std::string, std::less<>> events;
    };

    // The caller keeps the entry; the router forgets it when the caller lets it go.
    std::shared_ptr<Entry> add(std::int32_t pid, AccessibilityObserverCallback callback);

    // Calls, in the order they were added, every live observer of `pid` that registered one of
    // the layer's events the AT-SPI event stands for. Observers may be removed from within a
    // callback.
    void dispatch(std::int32_t pid, std::string_view eventType, int detail1,
                  const AccessibleElement& source);

    // Whether any live observer registered this event.
    bool wants(std::string_view event) const;

private:
    std::vector<std::weak_ptr<Entry>> entries_;
};

}  // namespace tesvano::platform::atspi
