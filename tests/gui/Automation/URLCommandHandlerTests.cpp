#include <gtest/gtest.h>

#include <QUrlQuery>
#include <algorithm>
#include <random>

#include "KeyboardShortcuts/Library.h"
#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "Platform/LoginItems/LoginItemService.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/Automation/URLCommandHandler.h"
#include "TesvanoKit/Automation/CallbackURLBuilder.h"
#include "TesvanoKit/Rules/URLComponents.h"
#include "tests/gui/AppFixture.h"
#include "tests/support/LogCapture.h"

namespace tesvano {
namespace {

using nlohmann::json;
using platform::FakeTextInputSources;
using platform::Seconds;

class RecordingOpener final : public CallbackURLOpener {
public:
    void open(std::string_view url) override { opened.emplace_back(url); }
    std::vector<std::string> opened;
};

// The decoded value of the query item `name` of `url`.
std::optional<std::string> item(const std::string& url, std::string_view name) {
    auto components = URLComponents::split(url);
    if (!components) {
        return std::nullopt;
    }
    for (const auto& i : components->queryItems()) {
        if (i.name == name)
            return i.value;
    }
    return std::nullopt;
}

class URLCommandHandlerTest : public test::AppFixture {
protected:
    URLCommandHandlerTest() {
        workspace.addRunning({200, "org.gnome.TextEditor", "/usr/bin/gnome-text-editor"});
        workspace.setActive(200);
        makeState().start();
        state->setApiEnabled(true);
        handler = std::make_unique<URLCommandHandler>(*state, opener);
        handler->requestQuit = [this] { quitRequests.push_back(opener->opened.size()); };
    }

    // Runs `url` with both callbacks and returns what was opened for it.
    std::string send(const std::string& url) {
        const auto before = opener->opened.size();
        const char* separator = url.find('?') == std::string::npos ? "?" : "&";
        handler->handle(url + separator + "x-success=cb://ok&x-error=cb://fail");
        EXPECT_EQ(opener->opened.size(), before + 1) << url;
        return opener->opened.size() > before ? opener->opened.back() : std::string();
    }
    json result(const std::string& url) {
        const auto reply = send(url);
        EXPECT_TRUE(reply.starts_with("cb://ok")) << url << " -> " << reply;
        const auto text = item(reply, "result");
        return text ? json::parse(*text) : json();
    }
    // The error code of the reply, "" for a success.
    std::string code(const std::string& url) { return item(send(url), "errorCode").value_or(""); }
    auto stored() { return defaults.data("lockConfiguration"); }

    std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
    std::unique_ptr<URLCommandHandler> handler;
    std::vector<std::size_t> quitRequests;  // replies sent before each quit request
};

TEST_F(URLCommandHandlerTest, WithTheInterfaceOffEveryURLIsRefusedAndNothingChanges) {
    state->setApiEnabled(false);
    const auto before = state->config();
    const auto bytes = stored();
    test::LogCapture log;
    for (const char* url : {"tesvano://unlock", "tesvano://toggle-lock", "tesvano://frobnicate",
                            "tesvano://x-callback-url", "tesvano://clear-url-rules?x=%zz"}) {
        const auto reply = send(url);
        EXPECT_TRUE(reply.starts_with("cb://fail?")) << url;
        EXPECT_EQ(item(reply, "errorCode"), "api_disabled");
        EXPECT_EQ(item(reply, "errorMessage"),
                  "The URL scheme API is disabled. Enable it in Tesvano \u2192 Settings \u2192 "
                  "General \u2192 Automation.");
    }
    EXPECT_EQ(state->config(), before);
    EXPECT_EQ(stored(), bytes);
    EXPECT_TRUE(log.contains("URL command received: tesvano://unlock?x-success=cb://ok"));
    EXPECT_TRUE(log.contains("URL command failed: api_disabled \u2014 The URL scheme API"));

    // The caller hears the interface's language; the log stays English.
    state->setLanguagePreference(LanguagePreference::specific(SupportedLanguage::german));
    test::LogCapture german;
    const auto reply = send("tesvano://unlock");
    EXPECT_EQ(item(reply, "errorMessage").value_or("").find("The URL scheme API"),
              std::string::npos);
    EXPECT_TRUE(
        german.contains("URL command failed: api_disabled \u2014 The URL scheme API is "
                        "disabled. Enable it in Tesvano \u2192 Settings"));
    state->setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));

    state->setApiEnabled(true);  // read anew for every URL
    EXPECT_EQ(code("tesvano://toggle-lock"), "");
}

TEST_F(URLCommandHandlerTest, LockCommandsCommitWithLockEngagedEvenWhenNothingChanges) {
    // A default source other than the current one: each lock commit selects it.
    EXPECT_EQ(code("tesvano://set-default-source?name=german"), "");
    EXPECT_EQ(system.currentID, "xkb:us") << "the lock is still off";

    EXPECT_EQ(code("tesvano://lock"), "");
    EXPECT_TRUE(state->config().isEnabled);
    EXPECT_EQ(system.currentID, "xkb:de");
    auto logged = state->logStore().recentEntries(loop.now(), 1, Seconds(60));
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged.front().reason(), ActivationReason::lockEngaged);

    // Already locked: still committed (saved again).
    defaults.remove("lockConfiguration");
    EXPECT_EQ(code("tesvano://LOCK"), "");
    EXPECT_TRUE(stored());
    EXPECT_EQ(code("tesvano:toggle"), "");
    EXPECT_EQ(code("tesvano:///toggle-lock"), "");
    EXPECT_TRUE(state->config().isEnabled);

    // Other edits commit as configuration changes.
    EXPECT_EQ(code("tesvano://set-default-source?source=xkb:us&action=switch-once"), "");
    EXPECT_EQ(state->config().defaultAction, RuleAction::switchOnce);
    logged = state->logStore().recentEntries(loop.now(), 1, Seconds(60));
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged.front().inputSourceID, "xkb:us");
    EXPECT_EQ(logged.front().reason(), ActivationReason::configChanged);
}

TEST_F(URLCommandHandlerTest, AChangeTheSettingsCannotKeepIsAnErrorAndAQueryIsNot) {
    defaults.setSaveProblem("Could not save settings.json: No space left on device");
    for (const std::string url :
         {"tesvano://lock", "tesvano://set-app-rule?bundle=org.gnome.Terminal&mode=ignored",
          "tesvano://set-enhanced-mode?enabled=true"}) {
        const auto reply = send(url);
        EXPECT_TRUE(reply.starts_with("cb://fail")) << url;
        EXPECT_EQ(item(reply, "errorCode"), "not_saved") << url;
        EXPECT_TRUE(item(reply, "errorMessage").value_or("").find("No space left on device") !=
                    std::string::npos)
            << reply;
    }
    EXPECT_TRUE(state->config().isEnabled) << "the change itself is in effect";
    EXPECT_EQ(code("tesvano://status"), "") << "nothing to keep, nothing to fail";
    EXPECT_EQ(code("tesvano://lock"), "") << "the same value again is no change";

    defaults.setSaveProblem(std::nullopt);
    EXPECT_EQ(code("tesvano://unlock"), "");
}

TEST_F(URLCommandHandlerTest, SourcesResolveOnlyAmongTheSelectableOnes) {
    const auto reply = send("tesvano://lock-to-source?source=XKB:DE");
    EXPECT_EQ(item(reply, "errorMessage"), "No installed input source matches \"XKB:DE\".");

    // One selection, recorded as an API command; the configuration stays.
    const auto before = state->config();
    EXPECT_EQ(code("tesvano://switch-source?name=GERMAN"), "");
    EXPECT_EQ(system.currentID, "xkb:de");
    const auto logged = state->logStore().recentEntries(loop.now(), 1, Seconds(60));
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged.front().reason(), ActivationReason::apiCommand);
    EXPECT_EQ(state->config(), before);

    state->handleSelectableSourcesChange({});
    const auto bytes = stored();
    for (const char* url : {"tesvano://lock-to-source?id=xkb:de", "tesvano://switch-source?id=x",
                            "tesvano://set-url-rule?host=a.org&source=xkb:de"}) {
        EXPECT_EQ(code(url), "no_input_sources") << url;
    }
    EXPECT_EQ(stored(), bytes);
}

TEST_F(URLCommandHandlerTest, AppRuleCommandsNameWhatTheyMiss) {
    EXPECT_EQ(code("tesvano://set-app-rule?bundle=org.b&mode=ignored&source=nothing"), "");
    EXPECT_EQ(code("tesvano://set-app-rule?bundle=org.a&mode=switched&source-name=german"), "");
    // Keys sorted at every level; a rule without a source has no "source".
    EXPECT_EQ(
        item(send("tesvano://app-rules"), "result"),
        R"j([{"bundleID":"org.a","mode":"switched","source":{"id":"xkb:de","name":"German"}},)j"
        R"j({"bundleID":"org.b","mode":"ignored"}])j");

    EXPECT_EQ(item(send("tesvano://remove-app-rule?bundle=org.c"), "errorMessage"),
              "No rule matches \"org.c\".");
    EXPECT_EQ(item(send("tesvano://cycle-app-source?direction=next"), "errorMessage"),
              "No rule matches \"org.gnome.TextEditor\".");
    EXPECT_EQ(code("tesvano://set-app-rule?bundle=org.gnome.TextEditor&source=xkb:de"), "");
    EXPECT_EQ(code("tesvano://cycle-app-source?direction=back"), "");
    EXPECT_EQ(state->config().appRule("org.gnome.TextEditor")->lockedSourceID,
              InputSourceID("xkb:us"));

    workspace.setActive(std::nullopt);
    for (const char* url :
         {"tesvano://cycle-app-source?direction=next", "tesvano://remove-frontmost-app-rule"}) {
        EXPECT_EQ(item(send(url), "errorMessage"), "No rule matches \"frontmost\".") << url;
    }
    state->handleSelectableSourcesChange({state->availableSources().front()});
    EXPECT_EQ(item(send("tesvano://cycle-app-source?direction=next&bundle=org.a"), "errorMessage"),
              "Operation not supported: no other input source to cycle to.");
}

TEST_F(URLCommandHandlerTest, URLRuleCommandsKeepOneRulePerHost) {
    EXPECT_EQ(code("tesvano://set-url-rule?host=Example.com&source=xkb:de"), "");
    const Uuid example = state->config().urlRules.at(0).id;
    // The same host in another case updates that rule and keeps its id.
    EXPECT_EQ(code("tesvano://set-url-rule?host=EXAMPLE.COM&source=xkb:us&match-type=exact"), "");
    ASSERT_EQ(state->config().urlRules.size(), 1u);
    EXPECT_EQ(state->config().urlRules[0],
              (URLRule{example, "EXAMPLE.COM", "xkb:us", RuleAction::lock, URLMatchType::domain}));
    EXPECT_EQ(code("tesvano://set-url-rule?pattern=other%5C.org&source=xkb:de&matchtype=regex"),
              "");
    const Uuid other = state->config().urlRules.at(1).id;

    // One rule's id with the other's host would merge them: refused, stored bytes untouched.
    const auto before = state->config();
    const auto bytes = stored();
    ASSERT_TRUE(bytes);
    const auto reply =
        send("tesvano://set-url-rule?id=" + example.string() + "&host=OTHER%5C.ORG&source=xkb:us");
    EXPECT_EQ(item(reply, "errorMessage"), "Invalid value \"OTHER\\.ORG\" for parameter \"host\".");
    EXPECT_EQ(state->config(), before);
    EXPECT_EQ(stored(), bytes);

    EXPECT_EQ(item(send("tesvano://remove-url-rule?id=0e5f2a8c-1b2d-4c3e-9f4a-5b6c7d8e9f00"),
                   "errorMessage"),
              "No rule matches \"0E5F2A8C-1B2D-4C3E-9F4A-5B6C7D8E9F00\".");

    // Removal by host takes every rule with that host, each with its own commit.
    auto configuration = state->config();
    configuration.urlRules.push_back({Uuid::random(), "example.com", "xkb:de"});
    state->setConfig(configuration);
    int commits = 0;
    QObject::connect(state.get(), &AppState::configChanged, [&] { ++commits; });
    EXPECT_EQ(code("tesvano://remove-url-rule?host=Example.Com"), "");
    EXPECT_EQ(commits, 2);
    ASSERT_EQ(state->config().urlRules.size(), 1u);
    EXPECT_EQ(state->config().urlRules[0].id, other);
}

TEST_F(URLCommandHandlerTest, QueriesLeaveOutWhatIsMissing) {
    EXPECT_EQ(code("tesvano://set-default-source"), "");
    auto status = result("tesvano://status");
    EXPECT_FALSE(status.contains("defaultSource") || status.contains("defaultAction"));
    EXPECT_EQ(status["currentSource"], (json{{"id", "xkb:us"}, {"name", "English (US)"}}));
    EXPECT_EQ(status["frontmostApp"], "org.gnome.TextEditor");

    EXPECT_EQ(code("tesvano://lock-to-source?id=xkb:de"), "");
    system.currentID.reset();
    workspace.setActive(std::nullopt);
    status = result("tesvano://status");
    EXPECT_EQ(status["defaultSource"], (json{{"id", "xkb:de"}, {"name", "German"}}));
    EXPECT_EQ(status["defaultAction"], "lock");
    EXPECT_EQ(status["activationCount"], 1);
    EXPECT_FALSE(status.contains("currentSource") || status.contains("frontmostApp"));
    EXPECT_EQ(result("tesvano://current-source"),
              (json{{"id", nullptr}, {"name", state->currentSourceName()}}));
    system.currentID = "xkb:fr";  // not among the selectable sources: no name
    EXPECT_EQ(result("tesvano://current-source"), (json{{"id", "xkb:fr"}}));

    EXPECT_EQ(result("tesvano://ping"), (json{{"app", "Tesvano"},
                                              {"build", ProgramInfo::build()},
                                              {"ok", true},
                                              {"version", ProgramInfo::version()}}));
    const auto config = item(send("tesvano://config"), "result");
    ASSERT_TRUE(config);
    EXPECT_EQ(json::parse(*config), json::parse(encodeConfiguration(state->config())));

    // A failed login-item registration still answers success.
    loginItems.failure = "denied";
    EXPECT_EQ(code("tesvano://launch-at-login?enabled=toggle"), "");
    EXPECT_EQ(loginItems.registerCalls, 1);
}

TEST_F(URLCommandHandlerTest, ListSourcesSaysWhetherEachCanBeSelectedNow) {
    const auto capable = [this] {
        std::vector<bool> out;
        for (const auto& source : result("tesvano://list-sources")) {
            EXPECT_EQ(source["isEnabled"], true);
            out.push_back(source["isSelectCapable"].get<bool>());
        }
        return out;
    };
    EXPECT_EQ(capable(), (std::vector<bool>{true, true}));
    // The desktop keeps the selection to itself: listed, but not selectable by us.
    system.selectable = false;
    EXPECT_EQ(capable(), (std::vector<bool>{false, false}));
    system.selectable = true;
    EXPECT_EQ(capable(), (std::vector<bool>{true, true}));
}

TEST_F(URLCommandHandlerTest, ListLogAnswersTheNewest200OfTheLastDay) {
    // 250 entries over two days: 220 in the last day, every 300 s, and 30 older ones.
    std::vector<double> ages;
    for (int i = 0; i < 220; ++i)
        ages.push_back(300.0 * i + 0.7);
    for (int i = 0; i < 30; ++i)
        ages.push_back(86400.0 + 2880.0 * i);
    std::vector<double> order = ages;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (double age : order) {
        state->logStore().record(
            ActivationEvent{loop.now() - Seconds(age), "xkb:de", "German",
                            ActivationReason::appActivated, 12.5, "English (US)",
                            "org.gnome.TextEditor", RuleSource::appRule, std::nullopt},
            age < 1 ? std::optional<std::string>("Text Editor") : std::nullopt);
    }

    const auto list = result("tesvano://recent-activations");
    ASSERT_EQ(list.size(), 200u);
    EXPECT_EQ(list[0], (json{{"timestamp", "2027-01-15T07:59:59Z"},
                             {"inputSource", "xkb:de"},
                             {"inputSourceName", "German"},
                             {"reason", "appActivated"},
                             {"durationMs", 12.5},
                             {"fromSourceName", "English (US)"},
                             {"app", "Text Editor"},
                             {"bundleID", "org.gnome.TextEditor"},
                             {"ruleSource", "appRule"}}));
    EXPECT_EQ(list[1]["app"], "org.gnome.TextEditor") << "no name: the identity";
    EXPECT_EQ(list[199]["timestamp"], URLCommandHandler::iso8601(loop.now() - Seconds(ages[199])));
    for (std::size_t i = 1; i < list.size(); ++i) {
        const std::string time = list[i]["timestamp"];
        EXPECT_LT(time, list[i - 1]["timestamp"].get<std::string>()) << "newest first";
        EXPECT_EQ(time.size(), 20u);
        EXPECT_EQ(time.back(), 'Z');
        EXPECT_GT(time, "2027-01-14T08:00:00Z") << "within a day";
    }
    EXPECT_EQ(URLCommandHandler::iso8601(platform::WallTime(Seconds(-0.5))),
              "1969-12-31T23:59:59Z");

    // Durations are rounded to the microsecond, so no floating-point noise reaches the caller.
    ActivationLogEntry noisy =
        state->logStore().recentEntries(loop.now(), 1, Seconds(86400)).front();
    noisy.durationMs = 0.042143000001715336;
    EXPECT_EQ(URLCommandHandler::logEntryPayload(noisy)["durationMs"].dump(), "0.042");
    noisy.durationMs = 12.3456;
    EXPECT_EQ(URLCommandHandler::logEntryPayload(noisy)["durationMs"].dump(), "12.346");
    noisy.durationMs = 1234.0000004;
    EXPECT_EQ(URLCommandHandler::logEntryPayload(noisy)["durationMs"].dump(), "1234.0");
}

TEST_F(URLCommandHandlerTest, CallbacksGoOnlyToForeignSchemes) {
    test::LogCapture log;
    for (const char* target : {"file:///tmp/reply", "FiLe:reply", "tesvano://ping", "TesVano:lock",
                               "reply/without/scheme"}) {
        handler->handle(std::string("tesvano://ping?x-success=") + target);
    }
    handler->handle("tesvano://frobnicate?x-success=cb://ok");  // a failure without x-error
    EXPECT_TRUE(opener->opened.empty());
    for (const char* scheme : {"file", "FiLe", "tesvano", "TesVano", "(none)"}) {
        const auto line = std::string("Refused callback URL with disallowed scheme: ") + scheme;
        EXPECT_TRUE(std::ranges::any_of(log.sink().records, [&](const auto& r) {
            return r.message == line;
        })) << scheme;
    }
    EXPECT_TRUE(log.contains("URL command failed: unknown_command"));

    // A success without result opens the target exactly as given.
    handler->handle("tesvano://unlock?x-success=cb%3A%2F%2Fdone%3Fa%3D1%26b%3D%252B");
    ASSERT_EQ(opener->opened.size(), 1u);
    EXPECT_EQ(opener->opened[0], "cb://done?a=1&b=%2B");
}

TEST_F(URLCommandHandlerTest, ARepliesTooLargeToOpenBecomesAShortErrorLoggedWithoutItsContent) {
    // Rules whose listing is far beyond what one program argument may carry.
    LockConfiguration many = state->config();
    for (int i = 0; i < 1200; ++i) {
        many.appRules.push_back({"org.example.app" + std::to_string(i) + std::string(100, 'x'),
                                 AppRuleMode::ignored, std::nullopt});
    }
    state->setConfig(many);
    test::LogCapture log;
    struct Case {
        std::string url;
        bool answered;
    };
    for (const Case& c :
         {Case{"tesvano://list-app-rules?x-success=cb://ok&x-error=cb://fail", true},
          Case{"tesvano://list-app-rules?x-success=cb://ok", false}}) {
        opener->opened.clear();
        handler->handle(c.url);
        ASSERT_EQ(opener->opened.size(), c.answered ? 1u : 0u) << c.url;
        if (c.answered) {
            EXPECT_TRUE(opener->opened[0].starts_with("cb://fail")) << opener->opened[0];
            EXPECT_LT(opener->opened[0].size(), 300u);
            EXPECT_NE(item(opener->opened[0], "errorMessage").value_or("").find("too large"),
                      std::string::npos);
        }
    }
    EXPECT_TRUE(log.contains("too large"));
    EXPECT_FALSE(log.contains("org.example.app1199")) << "the reply's content stays out";
}

TEST_F(URLCommandHandlerTest, UnknownNamesTooLongForAReplyAreEchoedShortened) {
    const std::string longName(300'000, 'n');
    for (const auto& [url, expectedCode] : std::vector<std::pair<std::string, std::string>>{
             {"tesvano://lock-to-source?name=" + longName, "unknown_source"},
             {"tesvano://switch-source?id=" + longName, "unknown_source"},
             {"tesvano://set-default-source?name=" + longName, "unknown_source"},
             {"tesvano://set-app-rule?bundle=org.example.app&source=" + longName, "unknown_source"},
             {"tesvano://remove-url-rule?host=" + std::string(8000, 'h'), "rule_not_found"}}) {
        const std::string reply = send(url);
        EXPECT_EQ(item(reply, "errorCode").value_or(""), expectedCode) << url.substr(0, 40);
        EXPECT_LT(reply.size(), 400u) << url.substr(0, 40);
        EXPECT_NE(item(reply, "errorMessage").value_or("").find("\u2026"), std::string::npos);
    }
    // A name of a usual length comes back whole.
    EXPECT_EQ(item(send("tesvano://lock-to-source?name=Elvish"), "errorMessage"),
              "No installed input source matches \"Elvish\".");
}

TEST_F(URLCommandHandlerTest, LongURLsAreLoggedShortAndUnusableCallbacksAreLogged) {
    test::LogCapture log;
    handler->handle("tesvano://ping?x-success=%25zz%3A%5B&pad=" + std::string(120'000, 'p'));
    const auto received = std::ranges::find_if(log.sink().records, [](const auto& r) {
        return r.message.starts_with("URL command received");
    });
    ASSERT_NE(received, log.sink().records.end());
    EXPECT_LT(received->message.size(), 2100u);
    EXPECT_NE(received->message.find("120"), std::string::npos) << "the length is given";
    EXPECT_TRUE(log.contains("Refused callback URL in x-success"));
}

TEST_F(URLCommandHandlerTest, QuitRepliesBeforeTheProgramIsAskedToEnd) {
    handler->handle("tesvano://quit?x-success=cb://bye");
    handler->handle("tesvano://ping?x-success=cb://pong");
    ASSERT_EQ(opener->opened.size(), 2u);
    EXPECT_EQ(opener->opened[0], "cb://bye");
    EXPECT_TRUE(quitRequests.empty());
    EXPECT_FALSE(state->terminationRequested());
    loop.runDue();
    EXPECT_EQ(quitRequests, std::vector<std::size_t>{2});
    EXPECT_TRUE(state->terminationRequested());
}

TEST(DesktopCallbackURLOpener, RepliesReachTheDesktopWithTheirValuesIntact) {
    const std::string value = "a&b=c+d#e%f\"g \u2192 {\"k\":[1,\"x\"]}";
    const QueryItem items[] = {{"result", value}, {"x y", "+"}};
    const auto url = CallbackURLBuilder::appendQueryItems("cb://host/p?keep=%2B#frag", items);
    const QUrl qurl = DesktopCallbackURLOpener::toQUrl(url);
    ASSERT_TRUE(qurl.isValid());
    const QUrlQuery query(qurl);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("keep"), QUrl::FullyDecoded),
              QStringLiteral("+"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("result"), QUrl::FullyDecoded).toStdString(),
              value);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("x y"), QUrl::FullyDecoded), QStringLiteral("+"));
    // What xdg-open receives reads back the same through our own parser.
    const auto sent = qurl.toEncoded().toStdString();
    EXPECT_EQ(item(sent, "result"), value);
}

}  // namespace
}  // namespace tesvano
