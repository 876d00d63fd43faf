#pragma once

#include "Platform/Accessibility/Accessibility.h"
#include "Platform/Workspace/Workspace.h"
#include "TesvanoKit/Monitors/BrowserURLProviding.h"

namespace tesvano {

// Reads the active browser's page URL from its active window: the first "document-url" of
// the window's element tree in pre-order, visiting at most `visitBudget` elements per read.
class AccessibilityBrowserURLReader final : public BrowserURLProviding {
public:
    static constexpr int defaultVisitBudget = 4000;

    AccessibilityBrowserURLReader(platform::Workspace& workspace,
                                  platform::Accessibility& accessibility,
                                  int visitBudget = defaultVisitBudget);

    std::optional<std::string> readURL(const std::optional<std::string>& appId) override;
    bool lastReadUnanswered() const override { return unanswered_; }

    int visitBudget() const { return visitBudget_; }

private:
    std::optional<std::string> search(const platform::AccessibleElement& window);

    platform::Workspace& workspace_;
    platform::Accessibility& accessibility_;
    int visitBudget_;
    bool unanswered_ = false;
};

}  // namespace tesvano
