#include <gtest/gtest.h>
#include <uriparser/Uri.h>

#include <string>
#include <vector>

#include "TesvanoKit/Automation/CallbackURLBuilder.h"
#include "TesvanoKit/Automation/CallbackURLPolicy.h"
#include "TesvanoKit/Automation/URLCommandError.h"
#include "TesvanoKit/Automation/URLCommandParser.h"

namespace tesvano {
namespace {

// The query items of `url` as an independent form parser reads them ("+" is a space there).
std::vector<QueryItem> dissectedQuery(const std::string& url) {
    UriUriA uri{};
    const char* errorPosition = nullptr;
    EXPECT_EQ(uriParseSingleUriExA(&uri, url.data(), url.data() + url.size(), &errorPosition),
              URI_SUCCESS)
        << url;
    std::vector<QueryItem> items;
    UriQueryListA* list = nullptr;
    int count = 0;
    if (uri.query.first != nullptr &&
        uriDissectQueryMallocExA(&list, &count, uri.query.first, uri.query.afterLast, URI_TRUE,
                                 URI_BR_DONT_TOUCH) == URI_SUCCESS) {
        for (const UriQueryListA* item = list; item != nullptr; item = item->next) {
            items.push_back({item->key, item->value != nullptr ? item->value : ""});
        }
        uriFreeQueryListA(list);
    }
    uriFreeUriMembersA(&uri);
    return items;
}

TEST(URLCommandError, CodesAndMessagesAreTheInterfacesOwnTexts) {
    const std::pair<URLCommandError, std::pair<const char*, const char*>> cases[] = {
        {URLCommandError::unknownCommand("x"), {"unknown_command", "Unknown command \"x\"."}},
        {URLCommandError::missingParameter("id"),
         {"missing_parameter", "Missing required parameter \"id\"."}},
        {URLCommandError::invalidParameter("mode", "frozen"),
         {"invalid_parameter", "Invalid value \"frozen\" for parameter \"mode\"."}},
        {URLCommandError::unknownSource("Elvish"),
         {"unknown_source", "No installed input source matches \"Elvish\"."}},
        {URLCommandError::ruleNotFound("frontmost"),
         {"rule_not_found", "No rule matches \"frontmost\"."}},
        {URLCommandError::notSupported("configuration serialization"),
         {"not_supported", "Operation not supported: configuration serialization."}},
        {URLCommandError::malformedURL(), {"malformed_url", "The URL could not be parsed."}},
        {URLCommandError::notACommand(), {"no_command", "No command was specified."}},
        {URLCommandError::apiDisabled(),
         {"api_disabled",
          "The URL scheme API is disabled. Enable it in Tesvano \u2192 Settings \u2192 General "
          "\u2192 Automation."}},
        {URLCommandError::noInputSources(),
         {"no_input_sources", "No selectable input sources are installed."}},
        {URLCommandError::notSaved("the disk is full"),
         {"not_saved",
          "The change is in effect but could not be saved, so it lasts only until Tesvano "
          "quits: the disk is full."}},
    };
    for (const auto& [error, texts] : cases) {
        EXPECT_EQ(error.code(), texts.first);
        EXPECT_EQ(error.message(), texts.second);
    }
}

TEST(CallbackURLBuilder, AppendsAfterTheTargetsOwnItemsAndKeepsTheRest) {
    EXPECT_EQ(CallbackURLBuilder::successURL("app://done?x=1", std::nullopt), "app://done?x=1");
    EXPECT_EQ(CallbackURLBuilder::successURL("app://done?result=old&b#frag", "[]"),
              "app://done?result=old&b&result=%5B%5D#frag");
    EXPECT_EQ(CallbackURLBuilder::successURL("app://done?", "{}"), "app://done?result=%7B%7D");
    EXPECT_EQ(CallbackURLBuilder::successURL("app:done", "{}"), "app:done?result=%7B%7D");
    EXPECT_EQ(CallbackURLBuilder::errorURL("app://h/p?k=v%20w", "no_command", "No."),
              "app://h/p?k=v%20w&errorCode=no_command&errorMessage=No.");
    // No URL at all: handed back unchanged.
    EXPECT_EQ(CallbackURLBuilder::successURL("a://[x", "{}"), "a://[x");
}

TEST(CallbackURLBuilder, RepliesReadBackExactlyThroughAStandardQueryParser) {
    const nlohmann::json result = {{"name", "a & b = c + d # e % f \"g\" \u25B8"},
                                   {"list", {1, 2.5, nullptr, true}}};
    const auto text = CallbackURLBuilder::resultText(result);
    ASSERT_TRUE(text);
    const auto success = CallbackURLBuilder::successURL("cb://ok?keep=1+2", text);
    EXPECT_EQ(dissectedQuery(success),
              (std::vector<QueryItem>{{"keep", "1 2"}, {"result", *text}}));
    EXPECT_EQ(nlohmann::json::parse(dissectedQuery(success)[1].value), result);

    const auto error = URLCommandError::invalidParameter("host", "a&b=c+d#e%f\"\u25B8 {}");
    const auto errorURL = CallbackURLBuilder::errorURL("cb://err", error.code(), error.message());
    EXPECT_EQ(dissectedQuery(errorURL),
              (std::vector<QueryItem>{{"errorCode", "invalid_parameter"},
                                      {"errorMessage", error.message()}}));
    // And through our own parser, as a target inside a command URL would be read.
    EXPECT_EQ(
        URLCommandParser::callbackTargets("tesvano://ping?x-success=" + percentEncoded(errorURL))
            .success,
        errorURL);
}

TEST(CallbackURLBuilder, ResultTextIsCompactWithSortedKeysAtEveryLevel) {
    nlohmann::json nested;
    nested["zeta"] = 1;
    nested["alpha"] = {{"y", "line\nbreak"},
                       {"b", nlohmann::json::array({nlohmann::json{{"d", 0}, {"c", 0}}})}};
    nested["mid"] = "\xFF";  // not UTF-8: replaced rather than thrown on
    EXPECT_EQ(CallbackURLBuilder::resultText(nested),
              "{\"alpha\":{\"b\":[{\"c\":0,\"d\":0}],\"y\":\"line\\nbreak\"},\"mid\":\"\uFFFD\","
              "\"zeta\":1}");
    EXPECT_EQ(CallbackURLBuilder::resultText(nlohmann::json::array()), "[]");
    EXPECT_EQ(CallbackURLBuilder::resultText("text"), std::nullopt);
    EXPECT_EQ(CallbackURLBuilder::resultText(nullptr), std::nullopt);
}

TEST(CallbackURLPolicy, RefusesFilesOwnSchemesAndURLsWithoutScheme) {
    const auto& own = CallbackURLPolicy::ownURLSchemes();
    EXPECT_TRUE(own.contains("tesvano"));
    EXPECT_TRUE(CallbackURLPolicy::isAllowed("https://example.com/cb?x=1", own));
    EXPECT_TRUE(CallbackURLPolicy::isAllowed("shortcuts://x-callback-url/done", own));
    EXPECT_FALSE(CallbackURLPolicy::isAllowed("file:///etc/passwd", own));
    EXPECT_FALSE(CallbackURLPolicy::isAllowed("FiLe:///tmp/x", own));
    EXPECT_FALSE(CallbackURLPolicy::isAllowed("TESVANO://quit", own));
    EXPECT_FALSE(CallbackURLPolicy::isAllowed("relative/path", own));
    EXPECT_FALSE(CallbackURLPolicy::isAllowed("", own));
    // The app's scheme is refused even when a caller passes no own schemes at all.
    EXPECT_FALSE(CallbackURLPolicy::isAllowed("tesvano:lock", {}));
    EXPECT_FALSE(CallbackURLPolicy::isAllowed("other://x", {"other"}));
    // Script and inline content would run or show in the opener as if a page sent them.
    for (const char* unsafe : {"javascript:alert(1)", "JavaScript:alert(1)", "data:text/html,x",
                               "DATA:,x", "vbscript:msgbox", "VBScript:x"}) {
        EXPECT_FALSE(CallbackURLPolicy::isAllowed(unsafe, own)) << unsafe;
    }

    // A scheme already read off a URL is judged alike.
    for (const char* url : {"https://x", "FiLe:///x", "TESVANO://quit", "relative", "data:,x"}) {
        EXPECT_EQ(CallbackURLPolicy::isAllowedScheme(CallbackURLPolicy::scheme(url), own),
                  CallbackURLPolicy::isAllowed(url, own))
            << url;
    }
    EXPECT_FALSE(CallbackURLPolicy::isAllowedScheme(std::string(), own));

    EXPECT_EQ(CallbackURLPolicy::scheme("FiLe:///tmp/x"), "FiLe");
    EXPECT_EQ(CallbackURLPolicy::scheme("no-scheme"), std::nullopt);

    // A target naming the app itself parses as a target, and is then refused.
    const auto targets =
        URLCommandParser::callbackTargets("tesvano://lock?x-success=tesvano%3A%2F%2Fquit");
    ASSERT_TRUE(targets.success);
    EXPECT_FALSE(CallbackURLPolicy::isAllowed(*targets.success, own));
}

}  // namespace
}  // namespace tesvano
