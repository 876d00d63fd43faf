#include <gtest/gtest.h>

#include <string>

#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "TesvanoKit/Monitors/AccessibilityBrowserURLReader.h"

namespace tesvano {
namespace {

using platform::AXElement;
using platform::AXURL;
using platform::FakeAccessibility;
using platform::FakeWorkspace;

class BrowserURLReaderTest : public ::testing::Test {
protected:
    BrowserURLReaderTest() {
        workspace.addRunning({10, "firefox-esr", "/usr/lib/firefox-esr/firefox-esr"});
        workspace.addRunning({11, "org.example.Editor", "/usr/bin/editor"});
        workspace.addRunning({12, "chromium", "/usr/lib/chromium/chromium"});
        workspace.setFrontmost(10);
        app = ax.addApplication(10);
        window = ax.addElement(app, "AXWindow");
        ax.setAttribute(app, "AXFocusedWindow", window);
    }

    FakeWorkspace workspace;
    FakeAccessibility ax;
    AccessibilityBrowserURLReader reader{workspace, ax};
    AXElement app;
    AXElement window;
};

TEST_F(BrowserURLReaderTest, FirstURLInPreOrderWinsAndEmptyOrOddValuesDoNotStopTheWalk) {
    auto toolbar = ax.addElement(window, "AXToolbar");
    ax.setAttribute(toolbar, "AXURL", std::string());
    auto button = ax.addElement(toolbar, "AXButton");
    ax.setAttribute(button, "AXURL", true);
    auto page = ax.addElement(window, "AXWebArea");
    auto link = ax.addElement(page, "AXLink");
    ax.setAttribute(page, "AXURL", AXURL{"https://example.org/page"});
    ax.setAttribute(link, "AXURL", AXURL{"https://example.org/elsewhere"});

    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/page");
    // Gecko builds its tree when asked to.
    ASSERT_EQ(ax.writes(app).size(), 1u);
    EXPECT_EQ(ax.writes(app)[0].first, "AXEnhancedUserInterface");

    // A plain non-empty string counts too.
    ax.setAttribute(button, "AXURL", std::string("https://example.org/from-text"));
    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/from-text");
}

TEST_F(BrowserURLReaderTest, OneBudgetForTheWholeWalk) {
    // The window is element 1 in pre-order, its children 2 to 4001.
    std::vector<AXElement> children;
    for (int i = 0; i < 4000; ++i) {
        children.push_back(ax.addElement(window, "AXGroup"));
    }
    ax.setAttribute(children.back(), "AXURL", AXURL{"https://example.org/4001"});
    EXPECT_EQ(reader.readURL("firefox-esr"), std::nullopt);
    EXPECT_LE(ax.readCount("AXURL"), 4000);

    ax.setAttribute(children[children.size() - 2], "AXURL", AXURL{"https://example.org/4000"});
    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/4000");

    // With a budget of 1 only the window itself is examined.
    ax.setAttribute(children.front(), "AXURL", AXURL{"https://example.org/2"});
    AccessibilityBrowserURLReader single(workspace, ax, 1);
    ax.resetReadCounts();
    EXPECT_EQ(single.readURL("firefox-esr"), std::nullopt);
    EXPECT_EQ(ax.readCount("AXURL"), 1);
    ax.setAttribute(window, "AXURL", AXURL{"https://example.org/1"});
    EXPECT_EQ(single.readURL("firefox-esr"), "https://example.org/1");
}

TEST_F(BrowserURLReaderTest, OnlyTheFrontmostKnownBrowserIsRead) {
    ax.setAttribute(window, "AXURL", AXURL{"https://example.org/"});
    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/");

    EXPECT_EQ(reader.readURL("chromium"), std::nullopt) << "not frontmost";
    EXPECT_EQ(reader.readURL("org.example.Editor"), std::nullopt) << "not a browser";
    EXPECT_EQ(reader.readURL(std::nullopt), std::nullopt);
    workspace.setFrontmost(12);
    EXPECT_EQ(reader.readURL("firefox-esr"), std::nullopt) << "no longer frontmost";
    EXPECT_EQ(reader.readURL("chromium"), std::nullopt) << "no focused window";
    ASSERT_EQ(ax.writes(ax.applicationElement(12)).size(), 0u) << "application never appeared";

    workspace.setFrontmost(10);
    ax.setTrusted(false);
    EXPECT_EQ(reader.readURL("firefox-esr"), std::nullopt);
    ax.setTrusted(true);
    ax.failAttribute(app, "AXFocusedWindow");
    EXPECT_EQ(reader.readURL("firefox-esr"), std::nullopt);
}

TEST_F(BrowserURLReaderTest, ChildrenOfAnotherTypeEndThatBranchOnly) {
    auto broken = ax.addElement(window, "AXGroup");
    ax.addElement(broken, "AXLink");
    ax.setAttribute(broken, "AXChildren", std::vector<std::string>{"not", "elements"});
    auto page = ax.addElement(window, "AXWebArea");
    ax.setAttribute(page, "AXURL", AXURL{"https://example.org/next"});
    EXPECT_EQ(reader.readURL("firefox-esr"), "https://example.org/next");
}

}  // namespace
}  // namespace tesvano
