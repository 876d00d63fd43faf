#include <gtest/gtest.h>

#include "Platform/Workspace/ApplicationIdentity.h"
#include "Platform/Workspace/DesktopEntryIndex.h"
#include "TesvanoKit/Monitors/BrowserAppIds.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using platform::WindowIdentityHints;

// Browsers installed as Flatpak and Snap: their desktop entries where those put them, and the
// windows they open. Each must resolve to an identity the browser catalogue knows, of the
// right family.
TEST(BrowserIdentityTest, FlatpakAndSnapBrowsersResolveToKnownBrowsers) {
    test::TempDir dir;
    const auto flatpak = dir / "var/lib/flatpak/exports/share/applications";
    const auto snap = dir / "var/lib/snapd/desktop/applications";
    const auto entry = [](const std::string& name, const std::string& exec,
                          const std::string& wmClass) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
               "\nStartupWMClass=" + wmClass + "\n";
    };
    const auto flatpakRun = [](const std::string& command, const std::string& id) {
        return "/usr/bin/flatpak run --branch=stable --arch=x86_64 --command=" + command +
               " --file-forwarding " + id + " @@u %u @@";
    };
    const auto snapRun = [&](const std::string& id, const std::string& program) {
        return "env BAMF_DESKTOP_FILE_HINT=" + (snap / (id + ".desktop")).string() + " /snap/bin/" +
               program + " %U";
    };
    test::writeFile(flatpak / "org.mozilla.firefox.desktop",
                    entry("Firefox", flatpakRun("firefox", "org.mozilla.firefox"), "firefox"));
    test::writeFile(
        flatpak / "org.chromium.Chromium.desktop",
        entry("Chromium", flatpakRun("chromium", "org.chromium.Chromium"), "chromium-browser"));
    test::writeFile(flatpak / "com.google.Chrome.desktop",
                    entry("Google Chrome", flatpakRun("/app/bin/chrome", "com.google.Chrome"),
                          "google-chrome"));
    test::writeFile(flatpak / "com.brave.Browser.desktop",
                    entry("Brave", flatpakRun("brave", "com.brave.Browser"), "brave-browser"));
    test::writeFile(snap / "firefox_firefox.desktop",
                    "[Desktop Entry]\nType=Application\nName=Firefox\nExec=" +
                        snapRun("firefox_firefox", "firefox") + "\n");
    test::writeFile(snap / "chromium_chromium.desktop",
                    "[Desktop Entry]\nType=Application\nName=Chromium\nExec=" +
                        snapRun("chromium_chromium", "chromium") + "\n");
    test::writeFile(snap / "brave_brave.desktop",
                    entry("Brave", snapRun("brave_brave", "brave"), "brave_brave"));
    const auto index = platform::DesktopEntryIndex::scan({flatpak, snap});

    struct Case {
        WindowIdentityHints window;
        const char* identity;
        bool chromium;
    };
    const Case cases[] = {
        // Flatpak: the window class is the entry's StartupWMClass.
        {{std::nullopt, "Navigator", "firefox", "/app/lib/firefox/firefox"},
         "org.mozilla.firefox",
         false},
        {{std::nullopt, "chromium-browser", "Chromium-browser", "/app/chromium/chromium"},
         "org.chromium.Chromium",
         true},
        {{std::nullopt, "google-chrome", "Google-chrome", "/app/extra/chrome"},
         "com.google.Chrome",
         true},
        {{std::nullopt, "brave-browser", "Brave-browser", "/app/brave/brave"},
         "com.brave.Browser",
         true},
        // Snap: the window class names the snap's entry, or only the program does.
        {{std::nullopt, "Navigator", "firefox_firefox", std::nullopt}, "firefox_firefox", false},
        {{std::nullopt, "chromium", "Chromium", "/snap/chromium/3000/usr/lib/chromium/chromium"},
         "chromium_chromium",
         true},
        {{std::nullopt, "brave_brave", "Brave-browser", std::nullopt}, "brave_brave", true},
    };
    for (const auto& c : cases) {
        const auto identity = platform::desktopEntryIdentifier(c.window, index);
        EXPECT_EQ(identity, std::optional<std::string>(c.identity))
            << c.window.wmClassName.value_or("-");
        EXPECT_TRUE(BrowserAppIds::isBrowser(identity)) << c.identity;
        EXPECT_EQ(BrowserAppIds::isChromium(identity), c.chromium) << c.identity;
        EXPECT_EQ(BrowserAppIds::isGecko(identity), !c.chromium) << c.identity;
    }
}

}  // namespace
}  // namespace tesvano
