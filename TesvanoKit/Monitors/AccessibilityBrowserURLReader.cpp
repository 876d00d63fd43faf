#include "TesvanoKit/Monitors/AccessibilityBrowserURLReader.h"

#include <ranges>
#include <vector>

#include "TesvanoKit/Monitors/BrowserAppIds.h"

namespace tesvano {

namespace a11y = platform::a11y;

AccessibilityBrowserURLReader::AccessibilityBrowserURLReader(platform::Workspace& workspace,
                                                             platform::Accessibility& accessibility,
                                                             int visitBudget)
    : workspace_(workspace), accessibility_(accessibility), visitBudget_(visitBudget) {}

std::optional<std::string> AccessibilityBrowserURLReader::readURL(
    const std::optional<std::string>& appId) {
    unanswered_ = false;
    if (!appId || !BrowserAppIds::isBrowser(*appId) || !accessibility_.isProcessTrusted()) {
        return std::nullopt;
    }
    auto active = workspace_.activeApplication();
    if (!active || active->appId != appId) {
        return std::nullopt;
    }
    const auto application = accessibility_.applicationElement(active->processIdentifier);
    const auto window = accessibility_.readAttribute(application, a11y::activeWindow);
    if (!window) {
        unanswered_ = window.error() == platform::AccessibilityError::cannotComplete;
        return std::nullopt;
    }
    const auto* element = std::get_if<platform::AccessibleElement>(&*window);
    if (!element) {
        return std::nullopt;
    }
    auto url = search(*element);
    if (!url && !unanswered_) {
        // A walk the browser cut short by not answering ends like one that found nothing:
        // ask it once more, which costs nothing while it is known to be hung.
        const auto role = accessibility_.readAttribute(*element, a11y::role);
        unanswered_ = !role && role.error() == platform::AccessibilityError::cannotComplete;
    }
    return url;
}

std::optional<std::string> AccessibilityBrowserURLReader::search(
    const platform::AccessibleElement& window) {
    // Depth-first, pre-order, with one budget for the whole walk. An explicit stack keeps a
    // deep tree from exhausting the call stack.
    int budget = visitBudget_;
    std::vector<platform::AccessibleElement> pending{window};
    while (!pending.empty()) {
        if (budget <= 0) {
            return std::nullopt;
        }
        --budget;
        const auto element = std::move(pending.back());
        pending.pop_back();
        const auto value = accessibility_.readAttribute(element, a11y::documentURL);
        if (!value && value.error() == platform::AccessibilityError::cannotComplete) {
            // The browser stopped answering part-way: what the walk has not seen is unknown.
            unanswered_ = true;
            return std::nullopt;
        }
        if (value) {
            if (const auto* url = std::get_if<platform::URLValue>(&*value)) {
                return url->address;
            }
            if (const auto* text = std::get_if<std::string>(&*value); text && !text->empty()) {
                return *text;
            }
        }
        auto children = accessibility_.readAttribute(element, a11y::children);
        if (!children) {
            continue;
        }
        if (auto* list = std::get_if<std::vector<platform::AccessibleElement>>(&*children)) {
            for (auto& child : std::views::reverse(*list)) {
                pending.push_back(std::move(child));
            }
        }
    }
    return std::nullopt;
}

}  // namespace tesvano
