#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "TesvanoKit/Automation/URLCommandParser.h"

namespace tesvano {
namespace {

using C = URLCommand;

URLCommand command(std::string_view url) {
    const auto result = URLCommandParser::parse(url);
    EXPECT_TRUE(result.has_value()) << url << " -> " << (result ? "" : result.error().message());
    return result ? result->command : URLCommand{};
}

URLCommandError failure(std::string_view url) {
    const auto result = URLCommandParser::parse(url);
    EXPECT_FALSE(result.has_value()) << url << " parsed";
    return result ? URLCommandError{} : result.error();
}

TEST(URLCommandParser, ReadsTheThreeFormsAndNamesInAnyCase) {
    for (const char* url :
         {"tesvano://lock", "tesvano:lock", "tesvano:///lock", "tesvano://x-callback-url/lock",
          "tesvano://x-callback-url//lock", "tesvano://X-Callback-URL/LOCK?x=1",
          "tesvano://Lock/ignored/path", "tesvano://%6Cock"}) {
        EXPECT_TRUE(command(url).is<C::Lock>()) << url;
    }
    EXPECT_TRUE(command("tesvano://TOGGLE-LOCK").is<C::ToggleLock>());
    EXPECT_EQ(failure("tesvano://togglelock"), URLCommandError::unknownCommand("togglelock"));
    EXPECT_EQ(failure("tesvano://TOGGLELOCK").message(), "Unknown command \"togglelock\".");
    EXPECT_EQ(failure("tesvano://x-callback-url").code(), "no_command");
    EXPECT_EQ(failure("tesvano://x-callback-url///?x-success=a://b"),
              URLCommandError::notACommand());
    EXPECT_EQ(failure("tesvano:"), URLCommandError::notACommand());
    EXPECT_EQ(failure(""), URLCommandError::notACommand());
    EXPECT_EQ(failure("tesvano://a:b:c/lock"), URLCommandError::malformedURL());
    EXPECT_EQ(failure("tesvano://[oops/lock"), URLCommandError::malformedURL());
}

TEST(URLCommandParser, EverySpellingNamesItsCommand) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"lock", 12},
        {"unlock", 13},
        {"toggle-lock", 14},
        {"toggle", 14},
        {"lock-to-source?id=xkb:de", 0},
        {"set-default-source", 1},
        {"cycle-source?direction=next", 2},
        {"switch-source?name=German", 3},
        {"set-app-rule?bundle=org.gnome.Terminal&mode=ignored", 4},
        {"remove-app-rule?bundle=firefox", 5},
        {"cycle-app-source?direction=up", 6},
        {"remove-frontmost-app-rule", 15},
        {"clear-app-rules", 16},
        {"set-launch-at-login?enabled=1", 7},
        {"launch-at-login?enabled=0", 7},
        {"set-enhanced-mode?enabled=toggle", 8},
        {"set-url-rule?host=a.com&source=xkb:us", 9},
        {"remove-url-rule?host=a.com", 10},
        {"clear-url-rules", 17},
        {"set-language?code=de", 11},
        {"quit", 18},
        {"status", 19},
        {"current-source", 20},
        {"list-sources", 21},
        {"sources", 21},
        {"list-app-rules", 22},
        {"app-rules", 22},
        {"list-url-rules", 23},
        {"url-rules", 23},
        {"list-log", 24},
        {"log", 24},
        {"recent-activations", 24},
        {"get-config", 25},
        {"config", 25},
        {"version", 26},
        {"ping", 27},
    };
    for (const auto& [tail, index] : cases) {
        EXPECT_EQ(command(std::string("tesvano://") + tail).value.index(), index) << tail;
        EXPECT_EQ(command(std::string("tesvano://x-callback-url/") + tail).value.index(), index)
            << tail;
    }
}

TEST(URLCommandParser, ParameterNamesIgnoreCaseTheLastWinsAndValuesStayAsSent) {
    auto c = command("tesvano://lock-to-source?SOURCE=xkb:de&Source=xkb:De%20CH+x%2B");
    ASSERT_TRUE(c.is<C::LockToSource>());
    EXPECT_EQ(c.as<C::LockToSource>()->source, SourceSelector::byID("xkb:De CH+x+"));

    // A decoding that is not UTF-8 is kept as written.
    c = command("tesvano://switch-source?name=%FFab");
    EXPECT_EQ(c.as<C::SwitchSource>()->source, SourceSelector::byName("%FFab"));

    // Typed by hand: spaces and letters outside ASCII.
    c = command("tesvano://switch-source?name=Русская (фонетическая)");
    EXPECT_EQ(c.as<C::SwitchSource>()->source, SourceSelector::byName("Русская (фонетическая)"));
}

TEST(URLCommandParser, ReadsCallbackTargetsInEveryFormEvenForFailures) {
    const auto parsed = URLCommandParser::parse(
        "tesvano:ping?X-Success=app%3A%2F%2Fok%3Fa%3D1&x-error=&x-cancel=no%20scheme&x-source=");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->callback.success, "app://ok?a=1");
    EXPECT_EQ(parsed->callback.error, std::nullopt);
    EXPECT_EQ(parsed->callback.cancel, "no%20scheme");  // a reference without scheme
    EXPECT_EQ(parsed->callback.source, "");

    EXPECT_EQ(URLCommandParser::callbackTargets("tesvano://nope?x-error=e://x&x-success=[bad"),
              (CallbackTargets{std::nullopt, std::nullopt, "e://x", std::nullopt}));
    EXPECT_EQ(URLCommandParser::callbackTargets("tesvano://[oops?x-error=e://x"),
              CallbackTargets{});
}

TEST(URLCommandParser, SourceSelectorsSkipEmptyItemsAndRuleCommandsDoNotReadID) {
    EXPECT_EQ(command("tesvano://lock-to-source?source=&name=German").as<C::LockToSource>()->source,
              SourceSelector::byName("German"));
    EXPECT_EQ(failure("tesvano://lock-to-source?source=&id=&name="),
              URLCommandError::missingParameter("id"));
    EXPECT_EQ(failure("tesvano://switch-source"), URLCommandError::missingParameter("id"));
    EXPECT_EQ(
        command("tesvano://switch-source?source-name=US&id=xkb:us").as<C::SwitchSource>()->source,
        SourceSelector::byID("xkb:us"));

    EXPECT_EQ(failure("tesvano://set-app-rule?bundle=b&id=xkb:us"),
              URLCommandError::missingParameter("source"));
    EXPECT_EQ(
        command("tesvano://set-app-rule?bundle=b&name=A&source-name=B").as<C::SetAppRule>()->source,
        SourceSelector::byName("B"));
}

TEST(URLCommandParser, DefaultSourceAndActions) {
    EXPECT_EQ(*command("tesvano://set-default-source").as<C::SetDefaultSource>(),
              (C::SetDefaultSource{std::nullopt, RuleAction::lock}));
    EXPECT_EQ(*command("tesvano://set-default-source?id=xkb:de&action=Switch-Once")
                   .as<C::SetDefaultSource>(),
              (C::SetDefaultSource{SourceSelector::byID("xkb:de"), RuleAction::switchOnce}));
    // The action is checked also when the default is cleared; reported as sent here...
    EXPECT_EQ(failure("tesvano://set-default-source?action=Hold"),
              URLCommandError::invalidParameter("action", "Hold"));
    EXPECT_EQ(failure("tesvano://set-default-source?action="),
              URLCommandError::invalidParameter("action", ""));
    // ...and lower-cased by set-url-rule.
    EXPECT_EQ(failure("tesvano://set-url-rule?host=a&source=s&action=Hold"),
              URLCommandError::invalidParameter("action", "hold"));
}

TEST(URLCommandParser, AppRules) {
    EXPECT_EQ(*command("tesvano://set-app-rule?bundle=org.x&mode=IGNORED&source=xkb:us")
                   .as<C::SetAppRule>(),
              (C::SetAppRule{"org.x", AppRuleMode::ignored, std::nullopt}));
    EXPECT_EQ(
        *command("tesvano://set-app-rule?bundle=process:kitty&source=xkb:us").as<C::SetAppRule>(),
        (C::SetAppRule{"process:kitty", AppRuleMode::locked, SourceSelector::byID("xkb:us")}));
    EXPECT_EQ(command("tesvano://set-app-rule?bundle=b&mode=use-default").as<C::SetAppRule>()->mode,
              AppRuleMode::useDefault);
    EXPECT_EQ(failure("tesvano://set-app-rule?bundle=b&mode=switched"),
              URLCommandError::missingParameter("source"));
    EXPECT_EQ(failure("tesvano://set-app-rule?bundle=b&mode=Frozen&source=s"),
              URLCommandError::invalidParameter("mode", "frozen"));
    EXPECT_EQ(failure("tesvano://set-app-rule?bundle=&source=s"),
              URLCommandError::missingParameter("bundle"));
    EXPECT_EQ(failure("tesvano://remove-app-rule"), URLCommandError::missingParameter("bundle"));

    EXPECT_EQ(failure("tesvano://cycle-app-source?bundle=b"),
              URLCommandError::missingParameter("direction"));
    EXPECT_EQ(failure("tesvano://cycle-app-source?bundle=b&direction=Sideways"),
              URLCommandError::invalidParameter("direction", "sideways"));
    EXPECT_EQ(*command("tesvano://cycle-app-source?bundle=&direction=Back").as<C::CycleAppSource>(),
              (C::CycleAppSource{std::nullopt, CycleDirection::previous}));
}

TEST(URLCommandParser, Flags) {
    EXPECT_EQ(command("tesvano://set-launch-at-login?enabled=YES").as<C::SetLaunchAtLogin>()->flag,
              FlagArg::on);
    EXPECT_EQ(
        command("tesvano://set-enhanced-mode?Enabled=Disabled").as<C::SetEnhancedMode>()->flag,
        FlagArg::off);
    EXPECT_EQ(failure("tesvano://launch-at-login"), URLCommandError::missingParameter("enabled"));
    EXPECT_EQ(failure("tesvano://launch-at-login?enabled=Maybe"),
              URLCommandError::invalidParameter("enabled", "maybe"));
}

TEST(URLCommandParser, URLRulesInTheOrderTheirChecksRun) {
    const std::string base = "tesvano://set-url-rule?";
    EXPECT_EQ(failure(base + "host=%20%09%20&source=s"), URLCommandError::missingParameter("host"));
    EXPECT_EQ(failure(base + "host=&pattern=%20&source=s"),
              URLCommandError::missingParameter("pattern"));
    EXPECT_EQ(failure(base + "source=s"), URLCommandError::missingParameter("host"));
    EXPECT_EQ(failure(base + "host=a.com&id=xkb:us"), URLCommandError::missingParameter("source"));
    EXPECT_EQ(failure(base + "host=(&source=s&match-type=regex"),
              URLCommandError::invalidParameter("host", "("));
    EXPECT_EQ(failure(base + "host=&pattern=%20a(b%20&source=s&matchtype=URL-Regex"),
              URLCommandError::invalidParameter("pattern", "a(b"));
    EXPECT_EQ(failure(base + "host=a&source=s&match-type=&matchtype=domain"),
              URLCommandError::invalidParameter("match-type", ""));
    EXPECT_EQ(failure(base + "host=a&source=s&matchtype=Glob"),
              URLCommandError::invalidParameter("match-type", "glob"));
    EXPECT_EQ(failure(base + "host=a&source=s&id=not-a-uuid"),
              URLCommandError::invalidParameter("id", "not-a-uuid"));
    // An earlier check wins over a later one.
    EXPECT_EQ(failure(base + "host=(&match-type=regex&id=bad"),
              URLCommandError::missingParameter("source"));

    // Spaces of any kind and tabs are trimmed; a line break is not, nor is the case changed.
    const auto rule = command(base +
                              "HOST=%C2%A0%09Mail.Example.COM%E3%80%80&source-name=German"
                              "&action=switch&match-type=exact"
                              "&id=6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    EXPECT_EQ(*rule.as<C::SetURLRule>(),
              (C::SetURLRule{Uuid::parse("6BA7B810-9DAD-11D1-80B4-00C04FD430C8"),
                             "Mail.Example.COM", SourceSelector::byName("German"),
                             RuleAction::switchOnce, URLMatchType::domain}));
    EXPECT_EQ(command(base + "host=a%0A&source=s").as<C::SetURLRule>()->host, "a\n");
    EXPECT_EQ(command(base + "pattern=^https://a\\.b/&source=s&match-type=regex")
                  .as<C::SetURLRule>()
                  ->matchType,
              URLMatchType::urlRegex);
}

TEST(URLCommandParser, URLRuleRemovalAndLanguage) {
    EXPECT_EQ(command("tesvano://remove-url-rule?id=6ba7b810-9dad-11d1-80b4-00c04fd430c8&host=x")
                  .as<C::RemoveURLRule>()
                  ->selector,
              URLRuleSelector::byID(*Uuid::parse("6BA7B810-9DAD-11D1-80B4-00C04FD430C8")));
    EXPECT_EQ(command("tesvano://remove-url-rule?id=&host=A.com").as<C::RemoveURLRule>()->selector,
              URLRuleSelector::byHost("A.com"));
    EXPECT_EQ(failure("tesvano://remove-url-rule?id=123"),
              URLCommandError::invalidParameter("id", "123"));
    EXPECT_EQ(failure("tesvano://remove-url-rule"), URLCommandError::missingParameter("id"));

    const auto language = [](std::string_view code) {
        return command(std::string("tesvano://set-language?code=") + std::string(code))
            .as<C::SetLanguage>()
            ->language;
    };
    EXPECT_EQ(language("AUTO"), std::nullopt);
    EXPECT_EQ(language("follow"), std::nullopt);
    EXPECT_EQ(language("zh-Hant"), SupportedLanguage::traditionalChinese);
    EXPECT_EQ(language("ZH-HANS"), SupportedLanguage::simplifiedChinese);
    EXPECT_EQ(language("zh-TW"), SupportedLanguage::traditionalChinese);
    EXPECT_EQ(language("pt-BR"), SupportedLanguage::portuguese);
    EXPECT_EQ(failure("tesvano://set-language?code=Klingon"),
              URLCommandError::invalidParameter("code", "Klingon"));
    EXPECT_EQ(failure("tesvano://set-language?code="), URLCommandError::missingParameter("code"));
}

TEST(URLCommandParser, AnswersHugeAndHostileURLs) {
    const std::string longName(1 << 20, 'a');
    EXPECT_EQ(failure("tesvano://" + longName).kind, URLCommandError::Kind::unknownCommand);
    const std::string manyItems = [] {
        std::string s = "tesvano://set-url-rule?source=s&match-type=regex&host=";
        s.append(100000, '(');
        for (int i = 0; i < 20000; ++i) {
            s += "&x=%zz";
        }
        return s;
    }();
    EXPECT_EQ(failure(manyItems).kind, URLCommandError::Kind::invalidParameter);
    EXPECT_EQ(failure(std::string("tesvano://lo\0ck", 15)).kind,
              URLCommandError::Kind::unknownCommand);
}

}  // namespace
}  // namespace tesvano

namespace tesvano {
namespace {

TEST(URLCommandParser, OnlyOwnSchemeURLsAreCommands) {
    for (const char* foreign : {"https://unlock", "mailto:lock", "http://lock?x-error=cb://e",
                                "tesvano2://lock", "lock", "//lock"}) {
        EXPECT_EQ(failure(foreign).kind, URLCommandError::Kind::notACommand) << foreign;
    }
    EXPECT_TRUE(command("TesVano://lock").is<C::Lock>());
}

TEST(URLCommandParser, RefusesValuesLongerThanAnyRealOneAndEchoesThemShortened) {
    const std::string id255(255, 'a');
    const std::string pattern8192(8192, 'b');
    struct Case {
        std::string url;
        std::optional<std::string> refused;  // the parameter, none when accepted
    };
    const std::vector<Case> cases{
        {"tesvano://set-app-rule?mode=ignore&bundle=" + id255, std::nullopt},
        {"tesvano://set-app-rule?mode=ignore&bundle=" + id255 + "a", "bundle"},
        {"tesvano://remove-app-rule?bundle=" + id255 + "a", "bundle"},
        {"tesvano://cycle-app-source?direction=next&bundle=" + id255 + "a", "bundle"},
        {"tesvano://set-url-rule?source=xkb:us&host=" + pattern8192, std::nullopt},
        // Characters, not bytes: 8,192 letters of two bytes each still pass.
        {"tesvano://set-url-rule?source=xkb:us&host=" +
             [] {
                 std::string s;
                 for (int i = 0; i < 8192; ++i)
                     s += "%C3%A9";
                 return s;
             }(),
         std::nullopt},
        {"tesvano://set-url-rule?source=xkb:us&host=" + pattern8192 + "b", "host"},
        {"tesvano://set-url-rule?source=xkb:us&pattern=" + pattern8192 + "b", "pattern"},
        {"tesvano://remove-url-rule?host=" + pattern8192 + "b", "host"},
        {"tesvano://set-language?code=" + std::string(35, 'x'), "code"},  // unknown, not long
        {"tesvano://set-language?code=" + std::string(36, 'x'), "code"},
    };
    for (const auto& c : cases) {
        const auto result = URLCommandParser::parse(c.url);
        if (!c.refused) {
            EXPECT_TRUE(result) << c.url.substr(0, 60);
            continue;
        }
        ASSERT_FALSE(result) << c.url.substr(0, 60);
        EXPECT_EQ(result.error().kind, URLCommandError::Kind::invalidParameter);
        EXPECT_EQ(result.error().subject, *c.refused);
        EXPECT_LE(result.error().value.size(), URLCommandParser::echoedValueBytes + 3);
    }
}

TEST(URLCommandParser, ReadsAURLOnceIntoEverythingLaterStepsNeed) {
    const auto read = URLCommandParser::read(
        "TesVano://x-callback-url/Set%20App-Rule/x?Bundle=a&bundle=b&MODE=&x-success=Cb%3A%2F%2Fok"
        "&x-error=%25zz%3A%5B&x-cancel=c:x&x-source=Caller");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->scheme, "TesVano");
    EXPECT_EQ(read->host, "x-callback-url");
    EXPECT_EQ(read->path, "Set App-Rule/x");
    // Names lower-cased, the last of equal names kept, empty values kept.
    EXPECT_EQ(read->items,
              (std::map<std::string, std::string, std::less<>>{{"bundle", "b"},
                                                               {"mode", ""},
                                                               {"x-cancel", "c:x"},
                                                               {"x-error", "%zz:["},
                                                               {"x-source", "Caller"},
                                                               {"x-success", "Cb://ok"}}));
    EXPECT_EQ(read->callback, (CallbackTargets{"Caller", "Cb://ok", std::nullopt, "c:x"}));
    EXPECT_EQ(read->successScheme, "Cb");
    EXPECT_EQ(read->errorScheme, std::nullopt);
    EXPECT_EQ(read->unusableCallbacks, std::vector<std::string>{"x-error"});
    // The command comes from the read value alone, and agrees with parsing the text.
    const auto command = URLCommandParser::command(*read);
    ASSERT_FALSE(command);
    EXPECT_EQ(command.error(),
              URLCommandParser::parse("tesvano://x-callback-url/Set%20App-Rule").error());

    EXPECT_EQ(URLCommandParser::read("tesvano://[oops"), std::nullopt);
    const auto bare = URLCommandParser::read("tesvano:lock");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->host, std::nullopt);
    EXPECT_TRUE(URLCommandParser::command(*bare)->is<C::Lock>());
}

TEST(URLCommandParser, NamesCallbacksThatAreNoURL) {
    EXPECT_EQ(URLCommandParser::unusableCallbacks(
                  "tesvano://ping?x-success=%25zz%3A%5B&x-error=cb://fine&x-cancel=%5B"),
              (std::vector<std::string>{"x-success"}));
    EXPECT_TRUE(URLCommandParser::unusableCallbacks("tesvano://ping?x-success=cb://ok").empty());
}

}  // namespace
}  // namespace tesvano
