// URL rules, the address-bar rule and password fields in real browsers: Firefox ESR and
// Chromium, each under a private Xvfb with a window manager, a private session bus with the
// AT-SPI bus on it, pages from a loopback server at alpha/beta/gamma.localhost, and the
// engine program reading the browser over AT-SPI. The tests play the user with xdotool and
// read the engine's activations from its output.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "Platform/Accessibility/AssistiveTechnologyStatus.h"
#include "TesvanoKit/Rules/LockConfiguration.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestDesktop.h"
#include "tests/support/XkbKeymapLoader.h"

namespace tesvano {
namespace {

using namespace std::chrono_literals;
using JSON = test::JSONLineProcess::JSON;
using test::field;

constexpr unsigned kUS = 0;
constexpr unsigned kRU = 2;

// Browser start-up under Xvfb, page loads and the 1.5 s poll all fit well within these.
constexpr auto kBrowserReady = 45s;
constexpr auto kStep = 8s;

struct Browser {
    const char* name;
    const char* identity;  // the desktop entry the window resolves to
};

void PrintTo(const Browser& browser, std::ostream* out) {
    *out << browser.name;
}

std::string summary(const JSON& event) {
    return field(event, "inputSource") + " " + field(event, "reason") + " " +
           field(event, "ruleSource") + " " + field(event, "matchedHost");
}

// Enter on a page goes to the next one; on the last it focuses the password field.
std::map<std::string, std::string> pages() {
    const auto next = [](const std::string& host, const std::string& path) {
        return "<script>document.onkeydown = e => { if (e.key === 'Enter') location.href = "
               "'http://" +
               host + ":' + location.port + '" + path + "'; };</script>";
    };
    return {
        {"/alpha", "<html><head><title>Alpha</title></head><body><h1>Alpha</h1>" +
                       next("beta.localhost", "/beta") + "</body></html>"},
        {"/beta", "<html><head><title>Beta</title></head><body><h1>Beta</h1>" +
                      next("gamma.localhost", "/login") + "</body></html>"},
        {"/login",
         "<html><head><title>Sign in</title></head><body><form><input id=user>"
         "<input id=pw type=password></form><script>document.onkeydown = e => { if (e.key === "
         "'Enter') { e.preventDefault(); document.getElementById('pw').focus(); } };</script>"
         "</body></html>"},
    };
}

// English by default, German on alpha, Russian on beta, English in the address bar; all locks.
LockConfiguration rules(bool revertsInSecureInput) {
    LockConfiguration c;
    c.isEnabled = true;
    c.defaultSourceID = InputSourceID("xkb:us");
    c.defaultAction = RuleAction::lock;
    c.enhancedModeEnabled = true;
    URLRule alpha;
    alpha.hostPattern = "alpha.localhost";
    alpha.lockedSourceID = InputSourceID("xkb:de");
    alpha.matchType = URLMatchType::domain;
    URLRule beta = alpha;
    beta.id = URLRule().id;
    beta.hostPattern = "beta.localhost";
    beta.lockedSourceID = InputSourceID("xkb:ru");
    c.urlRules = {alpha, beta};
    c.addressBarFocusEnabled = true;
    c.addressBarAction = RuleAction::lock;
    c.addressBarSourceID = InputSourceID("xkb:us");
    c.addressBarOutranksURLRules = true;
    c.revertsInSecureInput = revertsInSecureInput;
    return c;
}

class BrowserURLRulesTest : public ::testing::TestWithParam<Browser> {
protected:
    void SetUp() override {
        if (auto missing = test::programsInstalled(
                {GetParam().name, "Xvfb", "openbox", "xdotool", "dbus-daemon"});
            !missing) {
            GTEST_SKIP() << missing.error();
        }
        // The accessibility bus launcher names its socket after the runtime folder and the
        // display: both are this test's own, so tests side by side never meet.
        auto started = test::PrivateSession::start({.environment = {}, .screen = "640x480x24"});
        ASSERT_TRUE(started.has_value()) << started.error();
        session = std::move(*started);
        auto opened = test::TestDesktop::open(display());
        ASSERT_TRUE(opened.has_value()) << opened.error();
        desktop = std::move(*opened);
        ASSERT_TRUE(test::loadKeymap(desktop->connection(), {{"us", ""}, {"de", ""}, {"ru", ""}}));

        // This process talks to the bus too (the assistive-technology switch); each test runs
        // in a process of its own.
        session->adoptEnvironment();
        platform::SessionBusAssistiveTechnologyStatus status(2000ms);
        ASSERT_TRUE(status.setEnabled(true)) << status.lastError();

        auto wm = session->startWindowManager();
        ASSERT_TRUE(wm.has_value()) << wm.error();
        for (const auto& [path, page] : pages()) {
            http.answer(path, {.body = page, .type = "text/html; charset=utf-8"});
        }
    }

    void TearDown() override {
        engine.reset();
        browser.reset();
        desktop.reset();
        session.reset();
    }

    const std::string& display() const { return session->display(); }
    const std::filesystem::path& home() const { return session->home(); }

    void startBrowser(const std::string& url) {
        const std::string name = GetParam().name;
        const auto profile = home() / "profile";
        std::filesystem::create_directories(profile);
        std::vector<std::string> argv;
        if (name == "firefox-esr") {
            test::writeFile(profile / "user.js", firefoxPreferences());
            argv = {name, "--no-remote", "--new-instance", "--profile", profile.string(), url};
        } else {
            argv = {name,
                    "--user-data-dir=" + profile.string(),
                    "--no-first-run",
                    "--no-default-browser-check",
                    "--no-sandbox",
                    "--disable-gpu",
                    "--password-store=basic",
                    "--disable-background-networking",
                    "--disable-component-update",
                    "--disable-sync",
                    "--window-position=0,0",
                    "--window-size=900,700",
                    url};
        }
        auto started =
            test::ProcessGroup::start(argv, session->environment({"MOZ_CRASHREPORTER_DISABLE=1"}));
        ASSERT_TRUE(started.has_value()) << started.error();
        browser = std::move(*started);
    }

    static std::string firefoxPreferences() {
        std::string prefs;
        for (
            const char* line : {
                R"(user_pref("browser.shell.checkDefaultBrowser", false);)",
                R"(user_pref("browser.startup.homepage_override.mstone", "ignore");)",
                R"(user_pref("startup.homepage_welcome_url", "");)",
                R"(user_pref("startup.homepage_welcome_url.additional", "");)",
                R"(user_pref("browser.aboutwelcome.enabled", false);)",
                R"(user_pref("datareporting.policy.dataSubmissionPolicyBypassNotification", true);)",
                R"(user_pref("datareporting.healthreport.uploadEnabled", false);)",
                R"(user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);)",
                R"(user_pref("browser.sessionstore.resume_from_crash", false);)",
                R"(user_pref("network.captive-portal-service.enabled", false);)",
                R"(user_pref("network.connectivity-service.enabled", false);)",
                R"(user_pref("app.update.disabledForTesting", true);)",
                R"(user_pref("browser.safebrowsing.update.enabled", false);)",
                R"(user_pref("extensions.update.enabled", false);)",
                R"(user_pref("signon.rememberSignons", false);)",
            }) {
            prefs += line;
            prefs += '\n';
        }
        return prefs;
    }

    void startEngine(bool revertsInSecureInput) {
        const auto path = home() / "rules.json";
        test::writeFile(path, encodeConfiguration(rules(revertsInSecureInput)));
        // The browsers' desktop entries come from the system.
        auto started = test::JSONLineProcess::start(
            {TESVANO_ENGINE_PATH, "--display", display(), "--accessibility", path.string()},
            session->environment({"XDG_DATA_DIRS=/usr/local/share:/usr/share"}));
        ASSERT_TRUE(started.has_value()) << started.error();
        engine = std::move(*started);
    }

    // Reads activations until one matches, at most `timeout`; the transcript says what came.
    bool awaitEvent(const std::function<bool(const JSON&)>& match,
                    std::chrono::milliseconds timeout, const std::string& what) {
        const auto record = [this](const JSON& line) { transcript += summary(line) + "\n"; };
        if (engine->awaitLine(match, timeout, record)) {
            return true;
        }
        ADD_FAILURE() << "no activation: " << what << "\nactivations so far:\n" << transcript;
        return false;
    }

    bool awaitSource(const std::string& source, const std::string& ruleSource,
                     std::chrono::milliseconds timeout, const std::string& what) {
        return awaitEvent(
            [&](const JSON& e) {
                return field(e, "inputSource") == source && field(e, "ruleSource") == ruleSource &&
                       field(e, "triggeringBundleID") == GetParam().identity;
            },
            timeout, what);
    }

    void xdotool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "xdotool");
        EXPECT_TRUE(test::runQuietly(arguments)) << arguments[1];
    }

    // A click in the middle of the browser's window, which its page fills.
    void clickIntoPage() {
        xdotool({"getactivewindow", "mousemove", "--window", "%1", "450", "450", "click", "1"});
    }

    std::unique_ptr<test::PrivateSession> session;
    std::unique_ptr<test::TestDesktop> desktop;
    test::LoopbackServer http;
    std::unique_ptr<test::ProcessGroup> browser;
    std::unique_ptr<test::JSONLineProcess> engine;
    std::string transcript;
};

TEST_P(BrowserURLRulesTest, URLRulesTheAddressBarAndPasswordFields) {
    const std::string origin = ":" + std::to_string(http.port());
    startBrowser("http://alpha.localhost" + origin + "/alpha");
    startEngine(false);
    ASSERT_FALSE(HasFatalFailure());

    // The page's rule, once the browser is up and its page read.
    ASSERT_TRUE(awaitSource("xkb:de", "urlRule", kBrowserReady, "German on alpha"));
    ASSERT_TRUE(desktop->waitForLockedGroup(1, 2s));

    // The address bar outranks the page; leaving it brings the page's rule back.
    xdotool({"key", "ctrl+l"});
    ASSERT_TRUE(awaitSource("xkb:us", "addressBarRule", kStep, "English in the address bar"));
    clickIntoPage();
    ASSERT_TRUE(awaitSource("xkb:de", "urlRule", kStep, "German again on alpha's page"));

    // Another page, another rule: found by the poll.
    xdotool({"key", "Return"});
    ASSERT_TRUE(awaitSource("xkb:ru", "urlRule", kStep, "Russian on beta"));

    // A page without a rule gets the default.
    xdotool({"key", "Return"});
    ASSERT_TRUE(awaitSource("xkb:us", "globalDefault", kStep, "English on gamma"));
    ASSERT_TRUE(desktop->waitForLockedGroup(kUS, 2s));
    // Its password field takes the focus; the focus event needs a moment to arrive, longer
    // when other browsers share the machine.
    xdotool({"key", "Return"});
    EXPECT_TRUE(engine->linesWithin(3s).empty());

    // In a password field another program's switch stands.
    desktop->lockGroup(kRU);
    ASSERT_TRUE(desktop->waitForLockedGroup(kRU, 2s));
    for (const auto& line : engine->linesWithin(2s)) {
        ADD_FAILURE() << "the lock acted in a password field: " << summary(line);
    }
    desktop->pump();
    EXPECT_EQ(desktop->lockedGroup(), kRU);

    // Unless the user asked the lock to keep enforcing there.
    engine.reset();
    startEngine(true);
    ASSERT_TRUE(awaitSource("xkb:us", "globalDefault", kStep, "English at start-up"));
    desktop->lockGroup(kRU);
    ASSERT_TRUE(awaitEvent(
        [](const JSON& e) {
            return field(e, "inputSource") == "xkb:us" && field(e, "reason") == "revertedSwitch";
        },
        kStep, "the switch reverted in the password field"));
    EXPECT_TRUE(desktop->waitForLockedGroup(kUS, 2s));

    // A browser that stops answering costs the engine one messaging timeout, not its lock.
    ::kill(-browser->pid(), SIGSTOP);
    desktop->lockGroup(kRU);
    const bool reverted = awaitEvent(
        [](const JSON& e) {
            return field(e, "inputSource") == "xkb:us" && field(e, "reason") == "revertedSwitch";
        },
        kStep, "the switch reverted while the browser hangs");
    ::kill(-browser->pid(), SIGCONT);
    EXPECT_TRUE(reverted);
}

// A browser too busy to answer for a moment keeps its page's rule, and a move into the address
// bar it made meanwhile is seen once it answers again, not only at the next focus change.
TEST_P(BrowserURLRulesTest, ABrowserBusyForAMomentKeepsThePageRuleAndItsFocusIsReadLater) {
    startBrowser("http://beta.localhost:" + std::to_string(http.port()) + "/beta");
    startEngine(false);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(awaitSource("xkb:ru", "urlRule", kBrowserReady, "Russian on beta"));
    ASSERT_TRUE(desktop->waitForLockedGroup(kRU, 2s));

    // One poll meets the stopped browser, which is then treated as hung for a while.
    ::kill(-browser->pid(), SIGSTOP);
    const auto whileStopped = engine->linesWithin(1800ms);
    ::kill(-browser->pid(), SIGCONT);
    for (const auto& line : whileStopped) {
        ADD_FAILURE() << "the page's rule gave way while the browser was busy: " << summary(line);
    }
    // Its address bar takes the focus while the engine still counts it as hung.
    xdotool({"key", "ctrl+l"});
    ASSERT_TRUE(awaitSource("xkb:us", "addressBarRule", kStep, "English in the address bar"));
    clickIntoPage();
    ASSERT_TRUE(awaitSource("xkb:ru", "urlRule", kStep, "Russian again on beta's page"));
}

INSTANTIATE_TEST_SUITE_P(Browsers, BrowserURLRulesTest,
                         ::testing::Values(Browser{"firefox-esr", "firefox-esr"},
                                           Browser{"chromium", "chromium"}),
                         [](const auto& param) {
                             return std::string(param.param.name) == "chromium" ? "Chromium"
                                                                                : "FirefoxESR";
                         });

}  // namespace
}  // namespace tesvano
