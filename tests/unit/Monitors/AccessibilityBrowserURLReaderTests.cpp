#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "TesvanoKit/Monitors/AccessibilityBrowserURLReader.h"

namespace tesvano {
namespace {

namespace a11y = platform::a11y;
using platform::AccessibleElement;
using platform::FakeAccessibility;
using platform::FakeWorkspace;
using platform::URLValue;

class BrowserURLReaderTest : public ::testing::Test {
public:
    BrowserURLReaderTest() {
        workspace.addRunning({10, "firefox-esr", "/usr/lib/firefox-esr/firefox-esr"});
        workspace.addRunning({11, "org.example.Editor", "/usr/bin/editor"});
        workspace.addRunning({12, "chromium", "/usr/lib/chromium/chromium"});
        workspace.setActive(10);
        app = ax.addApplication(10);
        window = ax.addElement(app, "frame");
        ax.setAttribute(app, a11y::activeWindow, window);
    }

    FakeWorkspace workspace;
    FakeAccessibility ax;
    AccessibilityBrowserURLReader reader{workspace, ax};
    AccessibleElement app;
    AccessibleElement window;
};

TEST_F(BrowserURLReaderTest, FirstURLInPreOrderWinsAndEmptyOrOddValuesDoNotStopTheWalk) {
    auto toolbar = ax.addElement(window, "tool bar");
    ax.setAttribute(toolbar, a11y::documentURL, std::string());
    auto button = ax.addElement(toolbar, "push button");
    ax.setAttribute(button, a11y::documentURL, true);
    auto page = ax.addElement(window, "document web");
    auto link = ax.addElement(page, "link");
    ax.setAttribute(page, a11y::documentURL, URLValue{"https://example.org/page"});
    ax.setAttribute(link, a11y::documentURL, URLValue{"https://example.org/elsewhere"});

    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/page");

    // A plain non-empty string counts too.
    ax.setAttribute(button, a11y::documentURL, std::string("https://example.org/from-text"));
    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/from-text");
}

TEST_F(BrowserURLReaderTest, ReadsCutShortByABrowserThatDoesNotAnswerAreToldApart) {
    using platform::AccessibilityError;
    struct Case {
        const char* what;
        std::function<void(BrowserURLReaderTest&)> arrange;
        std::optional<std::string> url;
        bool unanswered;
    };
    const auto addPage = [](BrowserURLReaderTest& t) {
        auto page = t.ax.addElement(t.window, "document web");
        t.ax.setAttribute(page, a11y::documentURL, URLValue{"https://example.org/"});
        return page;
    };
    const std::vector<Case> cases = {
        {"a page", [&](auto& t) { addPage(t); }, "https://example.org/", false},
        {"no page", [](auto&) {}, std::nullopt, false},
        {"no window",
         [](auto& t) {
             t.ax.failAttribute(t.app, a11y::activeWindow, AccessibilityError::noValue);
         },
         std::nullopt, false},
        {"window unanswered", [](auto& t) { t.ax.failAttribute(t.app, a11y::activeWindow); },
         std::nullopt, true},
        {"page unanswered", [&](auto& t) { t.ax.failAttribute(addPage(t), a11y::documentURL); },
         std::nullopt, true},
        {"children unanswered, then the window",
         [](auto& t) {
             t.ax.failAttribute(t.window, a11y::children);
             t.ax.failAttribute(t.window, a11y::role);
         },
         std::nullopt, true},
    };
    // A fresh browser for each case.
    struct Scene final : BrowserURLReaderTest {
        void TestBody() override {}
    };
    for (const auto& c : cases) {
        Scene t;
        c.arrange(t);
        EXPECT_EQ(t.reader.readURL("firefox-esr"), c.url) << c.what;
        EXPECT_EQ(t.reader.lastReadUnanswered(), c.unanswered) << c.what;
    }
}

TEST_F(BrowserURLReaderTest, OneBudgetForTheWholeWalk) {
    // The window is element 1 in pre-order, its children 2 to 4001.
    std::vector<AccessibleElement> children;
    for (int i = 0; i < 4000; ++i) {
        children.push_back(ax.addElement(window, "panel"));
    }
    ax.setAttribute(children.back(), a11y::documentURL, URLValue{"https://example.org/4001"});
    EXPECT_EQ(reader.readURL("firefox-esr"), std::nullopt);
    EXPECT_LE(ax.readCount(a11y::documentURL), 4000);

    ax.setAttribute(children[children.size() - 2], a11y::documentURL,
                    URLValue{"https://example.org/4000"});
    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/4000");

    // With a budget of 1 only the window itself is examined.
    ax.setAttribute(children.front(), a11y::documentURL, URLValue{"https://example.org/2"});
    AccessibilityBrowserURLReader single(workspace, ax, 1);
    ax.resetReadCounts();
    EXPECT_EQ(single.readURL("firefox-esr"), std::nullopt);
    EXPECT_EQ(ax.readCount(a11y::documentURL), 1);
    ax.setAttribute(window, a11y::documentURL, URLValue{"https://example.org/1"});
    EXPECT_EQ(single.readURL("firefox-esr"), "https://example.org/1");
}

TEST_F(BrowserURLReaderTest, OnlyTheActiveKnownBrowserIsRead) {
    ax.setAttribute(window, a11y::documentURL, URLValue{"https://example.org/"});
    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/");

    EXPECT_EQ(reader.readURL("chromium"), std::nullopt) << "not active";
    EXPECT_EQ(reader.readURL("org.example.Editor"), std::nullopt) << "not a browser";
    EXPECT_EQ(reader.readURL(std::nullopt), std::nullopt);
    workspace.setActive(12);
    EXPECT_EQ(reader.readURL("firefox-esr"), std::nullopt) << "no longer active";
    EXPECT_EQ(reader.readURL("chromium"), std::nullopt) << "no active window";

    workspace.setActive(10);
    ax.setTrusted(false);
    EXPECT_EQ(reader.readURL("firefox-esr"), std::nullopt);
    ax.setTrusted(true);
    ax.failAttribute(app, a11y::activeWindow);
    EXPECT_EQ(reader.readURL("firefox-esr"), std::nullopt);
}

TEST_F(BrowserURLReaderTest, ChildrenOfAnotherTypeEndThatBranchOnly) {
    auto broken = ax.addElement(window, "panel");
    ax.addElement(broken, "link");
    ax.setAttribute(broken, a11y::children, std::vector<std::string>{"not", "elements"});
    auto page = ax.addElement(window, "document web");
    ax.setAttribute(page, a11y::documentURL, URLValue{"https://example.org/next"});
    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/next");
}

}  // namespace
}  // namespace tesvano
