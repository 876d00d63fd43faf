#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "TesvanoKit/Monitors/AddressBarFocusMonitor.h"
#include "TesvanoKit/Monitors/AddressBarHeuristic.h"

namespace tesvano {
namespace {

namespace a11y = platform::a11y;
using platform::AccessibilityError;
using platform::AccessibleElement;
using platform::FakeAccessibility;
using platform::FakeWorkspace;

constexpr std::string_view focusChanged = platform::a11y::focusEvent;

enum class Marker { geckoDOMIdentifier, omniboxClass };

struct Browser {
    std::int32_t pid;
    AccessibleElement app;
    AccessibleElement window;
    AccessibleElement addressBar;  // window > tool bar > panel > field
    AccessibleElement pageField;   // window > document > panel > field, carrying the same marker
};

TEST(AddressBarHeuristicTest, NeedsAToolBarOutsideAnyDocumentAndOneMarker) {
    using AddressBarHeuristic::isAddressBar;
    // The ancestors of Firefox's and Chromium's address bars as AT-SPI shows them.
    const std::vector<std::string> gecko{"section", "panel", "tool bar", "frame"};
    const std::vector<std::string> chromium{"panel", "tool bar", "panel", "panel", "frame"};
    const std::string dom{"urlbar-input"};
    const std::vector<std::string> omnibox{"OmniboxViewViews"};
    struct Case {
        std::optional<std::string> id;
        std::vector<std::string> classes;
        std::vector<std::string> roles;
        bool expected;
    };
    const Case cases[] = {
        {dom, {"urlbar-input", "textbox-input"}, gecko, true},
        {std::string("view_1012"), omnibox, chromium, true},
        {std::nullopt, {"a", "OmniboxViewViews"}, gecko, true},
        // Not in a tool bar, or inside a page.
        {dom, omnibox, {"panel", "frame"}, false},
        {dom, {}, {"tool bar", "panel", "document web"}, false},
        {std::nullopt, omnibox, {"document web", "tool bar"}, false},
        // Exact comparisons; no marker at all.
        {std::string("URLBAR-INPUT"), {"omniboxviewviews"}, gecko, false},
        {std::nullopt, {}, gecko, false},
        // Only AT-SPI's spelling of the role counts.
        {dom, {}, {"toolbar", "ToolBar", "frame"}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isAddressBar(c.id, c.classes, c.roles), c.expected)
            << c.id.value_or("-") << " " << c.roles.front();
    }
}

class AddressBarFocusMonitorTest : public ::testing::Test {
protected:
    Browser addBrowser(std::int32_t pid, const char* appId, Marker marker) {
        workspace.addRunning({pid, appId, std::string("/usr/bin/") + appId});
        Browser b{pid, ax.addApplication(pid), {}, {}, {}};
        b.window = ax.addElement(b.app, "frame");
        auto toolbar = ax.addElement(b.window, "tool bar");
        b.addressBar = ax.addElement(ax.addElement(toolbar, "panel"), "entry");
        auto document = ax.addElement(b.window, "document web");
        b.pageField = ax.addElement(ax.addElement(document, "panel"), "entry");
        for (auto field : {b.addressBar, b.pageField}) {
            mark(field, marker);
        }
        return b;
    }

    void mark(const AccessibleElement& field, Marker marker) {
        switch (marker) {
            case Marker::geckoDOMIdentifier:
                ax.setAttribute(field, a11y::objectId, std::string("urlbar-input"));
                break;
            case Marker::omniboxClass:
                ax.setAttribute(field, a11y::classList,
                                std::vector<std::string>{"x", "OmniboxViewViews"});
                break;
        }
    }

    // Moves the focus and lets the browser's observer hear of it.
    void focus(const Browser& b, const AccessibleElement& element) {
        ax.setFocusedElement(element);
        ax.post(b.pid, focusChanged, element);
    }

    void startRecording() {
        monitor.start([this](bool focused) { reports.push_back(focused); });
    }

    FakeWorkspace workspace;
    FakeAccessibility ax;
    AddressBarFocusMonitor monitor{workspace, ax};
    std::vector<bool> reports;
};

TEST_F(AddressBarFocusMonitorTest, EachMarkerInAToolbarIsTheAddressBarButNotInsideThePage) {
    const std::pair<const char*, Marker> browsers[] = {
        {"chromium", Marker::omniboxClass},
        {"firefox-esr", Marker::geckoDOMIdentifier},
        {"com.google.Chrome", Marker::omniboxClass},
    };
    std::int32_t pid = 300;
    startRecording();
    for (const auto& [appId, marker] : browsers) {
        auto b = addBrowser(++pid, appId, marker);
        monitor.observe(appId);
        ASSERT_TRUE(monitor.isAttached()) << appId;
        reports.clear();
        focus(b, b.addressBar);
        focus(b, b.pageField);
        focus(b, b.addressBar);
        EXPECT_EQ(reports, (std::vector<bool>{true, false, true})) << appId;
        focus(b, b.window);
    }
}

TEST_F(AddressBarFocusMonitorTest, AncestorsBeyondTheDepthAreNotExamined) {
    auto b = addBrowser(400, "chromium", Marker::omniboxClass);
    // A field whose toolbar is its 12th ancestor, and one whose toolbar is its 13th.
    auto chain = [&](int groups) {
        auto parent = ax.addElement(b.window, "tool bar");
        for (int i = 0; i < groups; ++i) {
            parent = ax.addElement(parent, "panel");
        }
        auto field = ax.addElement(parent, "entry");
        mark(field, Marker::omniboxClass);
        return std::pair{field, parent};
    };
    auto [atTwelve, twelveParent] = chain(11);
    auto [atThirteen, thirteenParent] = chain(12);

    startRecording();
    monitor.observe("chromium");
    focus(b, atThirteen);
    EXPECT_TRUE(reports.empty());
    focus(b, atTwelve);
    EXPECT_EQ(reports, (std::vector<bool>{true}));

    // A role that cannot be read is skipped but still counts toward the depth.
    ax.failAttribute(twelveParent, a11y::role);
    EXPECT_EQ(AddressBarFocusMonitor::ancestorRoles(ax, atTwelve, 12).size(), 11u);
    EXPECT_EQ(AddressBarFocusMonitor::ancestorRoles(ax, atTwelve, 12).back(), "tool bar");
    ax.failAttribute(thirteenParent, a11y::role);
    focus(b, atThirteen);
    EXPECT_EQ(reports, (std::vector<bool>{true, false}));

    // A parent that cannot be read ends the walk.
    ax.failAttribute(twelveParent, a11y::parent, AccessibilityError::cannotComplete);
    focus(b, atTwelve);
    EXPECT_EQ(reports, (std::vector<bool>{true, false}));
    EXPECT_TRUE(AddressBarFocusMonitor::ancestorRoles(ax, atTwelve, 0).empty());
}

TEST_F(AddressBarFocusMonitorTest, FocusInAnotherProcessIsNotTheAddressBar) {
    auto chromium = addBrowser(500, "chromium", Marker::omniboxClass);
    auto other = addBrowser(501, "brave-browser", Marker::omniboxClass);
    startRecording();
    monitor.observe("chromium");
    focus(chromium, other.addressBar);
    EXPECT_TRUE(reports.empty());
    focus(chromium, chromium.addressBar);
    EXPECT_EQ(reports, (std::vector<bool>{true}));
}

TEST_F(AddressBarFocusMonitorTest,
       ObserveSameBrowserDoesNothingAndAStoppedBrowserReportsFalseOnce) {
    auto b = addBrowser(600, "chromium", Marker::omniboxClass);
    startRecording();
    monitor.observe("chromium");
    focus(b, b.addressBar);
    ASSERT_EQ(reports, (std::vector<bool>{true}));

    ax.setFocusedElement(b.pageField);  // no event: a re-evaluation would see it
    monitor.observe("chromium");
    EXPECT_EQ(reports, (std::vector<bool>{true}));

    monitor.observe("firefox");  // not running
    EXPECT_FALSE(monitor.isAttached());
    EXPECT_EQ(monitor.observedAppId(), "firefox");
    monitor.observe(std::nullopt);
    EXPECT_EQ(reports, (std::vector<bool>{true, false}));
}

TEST_F(AddressBarFocusMonitorTest, AFocusTheBrowserDoesNotAnswerAboutKeepsTheStateUntilRefresh) {
    auto b = addBrowser(650, "firefox-esr", Marker::geckoDOMIdentifier);
    startRecording();
    monitor.observe("firefox-esr");
    // Another address-bar element, of a browser too busy to describe it.
    auto busyBar =
        ax.addElement(ax.addElement(ax.addElement(b.window, "tool bar"), "panel"), "entry");
    for (const auto attribute : {a11y::objectId, a11y::classList, a11y::parent, a11y::role}) {
        ax.failAttribute(busyBar, attribute);
    }

    focus(b, busyBar);
    EXPECT_TRUE(reports.empty()) << "not known: nothing reported";
    ax.setFocusedElement(b.addressBar);  // it answers again
    monitor.refresh();
    ASSERT_EQ(reports, (std::vector<bool>{true}));

    focus(b, busyBar);
    EXPECT_TRUE(monitor.current()) << "the bar stays focused while not known otherwise";
    focus(b, b.pageField);
    EXPECT_EQ(reports, (std::vector<bool>{true, false}));
}

TEST_F(AddressBarFocusMonitorTest, SwitchingBetweenTwoFocusedAddressBarsReportsTheSecond) {
    auto first = addBrowser(700, "chromium", Marker::omniboxClass);
    auto second = addBrowser(701, "firefox-esr", Marker::geckoDOMIdentifier);
    startRecording();
    monitor.observe("chromium");
    focus(first, first.addressBar);
    ASSERT_EQ(reports, (std::vector<bool>{true}));

    // The engine has just forgotten the first browser's state: the second must be reported.
    ax.setFocusedElement(second.addressBar);
    monitor.observe("firefox-esr");
    EXPECT_EQ(reports, (std::vector<bool>{true, true}));
    EXPECT_TRUE(monitor.current());

    // On to a browser whose bar does not have the focus: the end of the focus is reported.
    ax.setFocusedElement(first.pageField);
    monitor.observe("chromium");
    EXPECT_EQ(reports, (std::vector<bool>{true, true, false}));
    EXPECT_FALSE(monitor.current());
    // And between two unfocused ones nothing is.
    ax.setFocusedElement(second.pageField);
    monitor.observe("firefox-esr");
    EXPECT_EQ(reports, (std::vector<bool>{true, true, false}));
}

TEST_F(AddressBarFocusMonitorTest, QueriesOfTheDesktopFocusAreBounded) {
    EXPECT_EQ(ax.callTimeout(ax.desktopElement()), 0.25);
}

TEST_F(AddressBarFocusMonitorTest, TrustArrivingLaterIsPickedUpByRefresh) {
    auto b = addBrowser(900, "chromium", Marker::omniboxClass);
    ax.setTrusted(false);
    monitor.observe("chromium");  // before start: ignored
    EXPECT_EQ(monitor.observedAppId(), std::nullopt);
    startRecording();
    monitor.observe("chromium");
    EXPECT_FALSE(monitor.isAttached());
    ax.setFocusedElement(b.addressBar);

    ax.setTrusted(true);
    monitor.refresh();
    EXPECT_TRUE(monitor.isAttached());
    EXPECT_EQ(reports, (std::vector<bool>{true}));

    ax.setTrusted(false);
    monitor.refresh();
    EXPECT_FALSE(monitor.isAttached());
    EXPECT_EQ(reports, (std::vector<bool>{true, false}));
}

TEST_F(AddressBarFocusMonitorTest, StopAndDestructionLeaveNothingBehind) {
    auto b = addBrowser(1000, "chromium", Marker::omniboxClass);
    startRecording();
    monitor.observe("chromium");
    focus(b, b.addressBar);
    monitor.stop();
    EXPECT_EQ(ax.observerCount(), 0);
    EXPECT_FALSE(monitor.current());
    focus(b, b.pageField);
    EXPECT_EQ(reports, (std::vector<bool>{true}));

    int calls = 0;
    {
        AddressBarFocusMonitor scoped(workspace, ax);
        scoped.start([&](bool) { ++calls; });
        scoped.observe("chromium");
        ASSERT_EQ(ax.observerCount(b.pid), 1);
    }
    EXPECT_EQ(ax.observerCount(), 0);
    focus(b, b.addressBar);
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace tesvano
