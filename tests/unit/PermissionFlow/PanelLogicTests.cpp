#include <gtest/gtest.h>

#include "PermissionFlow/AppDragData.h"
#include "PermissionFlow/PanelGeometry.h"
#include "PermissionFlow/PanelText.h"

namespace PermissionFlow {
namespace {

using PanelGeometry::Rect;

PanelGeometry::Screens oneScreen(Rect frame, double topPanel = 0) {
    Rect available{frame.x, frame.y + topPanel, frame.width, frame.height - topPanel};
    return {{frame}, {available}, available};
}

TEST(PanelGeometry, SitsBelowTheContentAreaAndStaysOnScreen) {
    const auto screen = oneScreen({0, 0, 1920, 1080}, 32);
    auto height = [](double) { return 120.0; };
    struct Case {
        const char* what;
        Rect settings;
        PanelGeometry::Screens screens;
        Rect expected;
    };
    const Case cases[] = {
        {"below, right of the sidebar", {100, 100, 900, 600}, screen, {330, 700, 670, 120}},
        {"a narrow window gives the minimum width",
         {100, 100, 400, 600},
         screen,
         {330, 700, 240, 120}},
        {"a narrow screen limits the width",
         {0, 0, 400, 300},
         oneScreen({0, 0, 200, 1080}),
         {12, 300, 176, 120}},
        {"near the screen's foot the panel is lifted onto the window",
         {100, 500, 900, 560},
         screen,
         {330, 948, 670, 120}},
        {"on the second screen, its own area counts",
         {2000, 100, 900, 600},
         {{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}},
          {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}},
          Rect{0, 0, 1920, 1080}},
         {2230, 700, 670, 120}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PanelGeometry::targetFrame(c.settings, c.screens, height), c.expected) << c.what;
    }
}

TEST(PanelGeometry, WaitsCentredOnTheButtonOrTheScreen) {
    const auto screen = oneScreen({0, 0, 1000, 800});
    EXPECT_EQ(PanelGeometry::awaitingFrame(Rect{484, 384, 32, 32}, 100, screen),
              (Rect{290, 350, 420, 100}));
    EXPECT_EQ(PanelGeometry::awaitingFrame(std::nullopt, 100, screen), (Rect{290, 350, 420, 100}));
    // A button at the screen's edge: kept the inset inside.
    EXPECT_EQ(PanelGeometry::awaitingFrame(Rect{0, 0, 32, 32}, 100, screen),
              (Rect{12, 12, 420, 100}));
}

TEST(PanelGeometry, FliesAlongAnUpwardArcAndArrives) {
    EXPECT_DOUBLE_EQ(PanelGeometry::launchProgress(-1), 0);
    EXPECT_DOUBLE_EQ(PanelGeometry::launchProgress(0), 0);
    EXPECT_NEAR(PanelGeometry::launchProgress(0.36), 0.821, 0.001);
    EXPECT_NEAR(PanelGeometry::launchProgress(0.72), 0.986, 0.001);
    EXPECT_DOUBLE_EQ(PanelGeometry::launchProgress(100), 1);
    const Rect from{0, 500, 32, 32};
    const Rect to{1000, 466, 400, 100};
    EXPECT_EQ(PanelGeometry::interpolatedFrame(from, to, 0), from);
    EXPECT_EQ(PanelGeometry::interpolatedFrame(from, to, 1), to);
    auto middle = PanelGeometry::interpolatedFrame(from, to, 0.5);
    // Level ends 1000 apart: the lift is capped at 140, the middle passes half of it above.
    EXPECT_NEAR(middle.y + middle.height / 2, 516 - 70, 1e-9);
}

TEST(PanelText, PutsNamesInAfterFormattingSoTheyCannotChangeTheText) {
    const std::string templ = "Allow **%@** to use **%@** in the settings above.";
    struct Case {
        const char* app;
        const char* permission;
        const char* expected;
    };
    const Case cases[] = {
        {"Tesvano", "Accessibility",
         "Allow <b>Tesvano</b> to use <b>Accessibility</b> in the settings above."},
        {"**x** [y](http://example.com)", "A",
         "Allow <b>**x** [y](http://example.com)</b> to use <b>A</b> in the settings above."},
        {"<img src=x>&", "B",
         "Allow <b>&lt;img src=x&gt;&amp;</b> to use <b>B</b> in the "
         "settings above."},
        {"%@ name", "C", "Allow <b>%@ name</b> to use <b>C</b> in the settings above."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(instructionHTML(templ, c.app, c.permission), c.expected) << c.app;
    }
    // Unbalanced or missing markers: the text as it stands.
    EXPECT_EQ(instructionHTML("Drag **%@ to %@.", "A", "B"), "Drag **A to B.");
    EXPECT_EQ(instructionHTML("Drag %@ to %@.", "A", "B"), "Drag A to B.");
}

TEST(AppDragData, OffersFiveFormsOfTheDesktopEntryInOrder) {
    const std::filesystem::path entry = "/usr/share/applications/my app.desktop";
    auto items = dragItems(entry, "My App");
    std::vector<std::string> types;
    for (const auto& i : items) {
        types.push_back(i.mimeType);
    }
    EXPECT_EQ(types, (std::vector<std::string>{"text/uri-list", "application/x-kde4-urilist",
                                               "x-special/gnome-copied-files", "text/x-moz-url",
                                               "text/plain;charset=utf-8"}));
    EXPECT_EQ(items[0].data, "file:///usr/share/applications/my%20app.desktop\r\n");
    EXPECT_EQ(items[2].data, "copy\nfile:///usr/share/applications/my%20app.desktop");
    EXPECT_EQ(items[3].data.substr(0, 4), std::string("f\0i\0", 4));
    EXPECT_EQ(items[4].data, entry.string());
    EXPECT_EQ(dragData(entry, "My App", "text/uri-list"), items[0].data);
    EXPECT_FALSE(dragData(entry, "My App", "image/png"));
}

TEST(AppDragData, StartsADragOnlyBeyondFourPixels) {
    const std::tuple<double, double, bool> cases[] = {
        {4, 0, false}, {4.1, 0, true}, {0, -4, false}, {3, 3, true}, {0, 0, false}};
    for (const auto& [dx, dy, starts] : cases) {
        EXPECT_EQ(dragThresholdPassed(10, 10, 10 + dx, 10 + dy), starts) << dx << "," << dy;
    }
}

TEST(AppDragData, KeepsEachApplicationEntryOnceAndNothingElse) {
    EXPECT_EQ(applicationEntries({"/a/x.desktop", "/a/./x.desktop", "/a/Y.DESKTOP", "/a/tool",
                                  "/a/plugin.so", "/b/../a/x.desktop"}),
              (std::vector<std::filesystem::path>{"/a/x.desktop", "/a/Y.DESKTOP"}));
}

}  // namespace
}  // namespace PermissionFlow
