#include <gtest/gtest.h>

#include "TesvanoKit/Monitors/BrowserAppIds.h"
#include "TesvanoKit/Monitors/LauncherOverlayCatalog.h"
#include "TesvanoKit/Monitors/ProcessIdentity.h"
#include "TesvanoKit/Sources/SourceCycler.h"

namespace tesvano {
namespace {

TEST(BrowserAppIds, FamiliesAreDisjointAndAllIsBoth) {
    using namespace BrowserAppIds;
    for (const auto& id : chromium()) {
        EXPECT_FALSE(gecko().contains(id)) << id;
    }
    EXPECT_EQ(all().size(), chromium().size() + gecko().size());
    EXPECT_TRUE(isChromium("org.chromium.Chromium"));
    EXPECT_TRUE(isGecko("firefox-esr"));
    EXPECT_TRUE(isChromium("com.google.Chrome"));
    EXPECT_TRUE(isBrowser("org.mozilla.firefox"));
    EXPECT_FALSE(isBrowser("org.gnome.Epiphany"));
    EXPECT_FALSE(isBrowser("Firefox"));  // exact case
    EXPECT_FALSE(isBrowser(std::nullopt));
}

TEST(LauncherOverlayCatalog, HoldsTheLinuxLaunchersByExactId) {
    for (const char* id : {"org.kde.krunner", "ulauncher", "albert"}) {
        EXPECT_TRUE(LauncherOverlayCatalog::contains(id)) << id;
    }
    EXPECT_FALSE(LauncherOverlayCatalog::contains("Ulauncher"));
    EXPECT_FALSE(LauncherOverlayCatalog::contains(std::nullopt));
}

TEST(ProcessIdentity, KeysComeFromTheAppIdOrTheExecutableName) {
    using namespace ProcessIdentity;
    EXPECT_EQ(identifier({"org.mozilla.firefox", "/usr/lib/firefox/firefox"}),
              "org.mozilla.firefox");
    EXPECT_EQ(identifier({std::nullopt, "/usr/bin/xterm"}), "process:xterm");
    EXPECT_EQ(identifier({"", "/usr/bin/xterm"}), "process:xterm");
    EXPECT_EQ(identifier({std::nullopt, "/usr/bin/"}), std::nullopt);
    EXPECT_EQ(identifier({std::nullopt, std::nullopt}), std::nullopt);
    EXPECT_EQ(executableIdentifier({"org.gnome.Terminal", "/usr/libexec/gnome-terminal-server"}),
              "process:gnome-terminal-server");
    EXPECT_EQ(processIdentifier("xterm"), "process:xterm");
    EXPECT_EQ(identifierForExecutableName(""), std::nullopt);

    EXPECT_TRUE(isProcessIdentifier("process:xterm"));
    EXPECT_FALSE(isProcessIdentifier("process:"));
    EXPECT_EQ(processName("process:xterm"), "xterm");
    EXPECT_EQ(processName("process:"), std::nullopt);
    EXPECT_EQ(processName("org.mozilla.firefox"), std::nullopt);
}

TEST(SourceCycler, WrapsAroundBothWays) {
    const std::vector<InputSourceID> sources{"xkb:us", "xkb:de", "xkb:ru"};
    using SourceCycler::next;
    EXPECT_EQ(next(InputSourceID("xkb:ru"), sources, CycleDirection::next), sources[0]);
    EXPECT_EQ(next(InputSourceID("xkb:us"), sources, CycleDirection::previous), sources[2]);
    EXPECT_EQ(next(InputSourceID("xkb:de"), sources, CycleDirection::next), sources[2]);
    EXPECT_EQ(next(InputSourceID("xkb:fr"), sources, CycleDirection::next), sources[0]);
    EXPECT_EQ(next(InputSourceID("xkb:fr"), sources, CycleDirection::previous), sources[2]);
    EXPECT_EQ(next(std::nullopt, sources, CycleDirection::previous), sources[2]);
    EXPECT_EQ(
        next(InputSourceID("xkb:us"), std::vector<InputSourceID>{"xkb:us"}, CycleDirection::next),
        std::nullopt);
    EXPECT_EQ(next(std::nullopt, {}, CycleDirection::next), std::nullopt);
}

}  // namespace
}  // namespace tesvano
