// Feeds arbitrary bytes to the command URL parser and the reply builder. Besides crashes,
// hangs and sanitizer reports, it stops on a broken promise: a parse that disagrees with the
// separate reading of callback targets, a reply whose appended items do not read back byte for
// byte, or a reply whose scheme differs from that of the target it was made on (the handler
// judges a reply by the scheme read off its target).
#include <uriparser/Uri.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/Automation/CallbackURLBuilder.h"
#include "TesvanoKit/Automation/CallbackURLPolicy.h"
#include "TesvanoKit/Automation/URLCommandParser.h"

namespace {

using namespace tesvano;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "url_command_fuzz: %s\n", what);
        std::abort();
    }
}

// The last `count` query items of `url`, decoded byte for byte by uriparser's own dissection.
std::vector<QueryItem> lastItems(const std::string& url, std::size_t count) {
    UriUriA uri{};
    const char* errorPosition = nullptr;
    require(uriParseSingleUriExA(&uri, url.data(), url.data() + url.size(), &errorPosition) ==
                URI_SUCCESS,
            "a reply URL does not parse");
    std::vector<QueryItem> items;
    UriQueryListA* list = nullptr;
    int itemCount = 0;
    if (uri.query.first != nullptr &&
        uriDissectQueryMallocExA(&list, &itemCount, uri.query.first, uri.query.afterLast, URI_TRUE,
                                 URI_BR_DONT_TOUCH) == URI_SUCCESS) {
        for (const UriQueryListA* item = list; item != nullptr; item = item->next) {
            items.push_back({item->key, item->value != nullptr ? item->value : ""});
        }
        uriFreeQueryListA(list);
    }
    uriFreeUriMembersA(&uri);
    if (items.size() > count) {
        items.erase(items.begin(), items.end() - static_cast<std::ptrdiff_t>(count));
    }
    return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const auto parsed = URLCommandParser::parse(input);
    const auto targets = URLCommandParser::callbackTargets(input);
    if (parsed) {
        require(parsed->callback == targets, "parse and callbackTargets read different targets");
        if (const auto* rule = parsed->command.as<URLCommand::SetURLRule>()) {
            require(!rule->host.empty(), "a URL rule without a host");
        }
    }

    // The input as a reply target, answered with an error that carries the input itself.
    const URLCommandError error =
        parsed ? URLCommandError::unknownSource(std::string(input)) : parsed.error();
    const std::string message = error.message();
    const std::string errorURL = CallbackURLBuilder::errorURL(input, error.code(), message);
    if (errorURL != input) {
        // C strings of the dissection end at a NUL byte; compare only what they can hold.
        if (message.find('\0') == std::string::npos) {
            const auto items = lastItems(errorURL, 2);
            require(items.size() == 2 && items[0].name == "errorCode" &&
                        items[0].value == error.code() && items[1].name == "errorMessage" &&
                        items[1].value == message,
                    "error items do not read back");
        }
    }
    (void)CallbackURLPolicy::isAllowed(errorURL, CallbackURLPolicy::ownURLSchemes());
    (void)CallbackURLPolicy::scheme(input);
    if (const auto target = URLComponents::split(input)) {
        const std::string reply = CallbackURLBuilder::errorURL(target->text, error.code(), message);
        const auto written =
            target->scheme && !target->scheme->empty() ? target->scheme : std::nullopt;
        require(CallbackURLPolicy::scheme(reply) == written,
                "a reply has another scheme than its target");
    }

    // A result holding the input as text, and as a key.
    nlohmann::json result;
    result["input"] = std::string(input);
    result[std::string(input)] = {nullptr, size, true};
    const auto text = CallbackURLBuilder::resultText(result);
    require(text.has_value(), "an object made no result text");
    require(!nlohmann::json::parse(*text, nullptr, false).is_discarded(),
            "the result text is not JSON");
    if (const auto& success = targets.success) {
        const std::string reply = CallbackURLBuilder::successURL(*success, text);
        const auto items = lastItems(reply, 1);
        require(items.size() == 1 && items[0].name == "result" && items[0].value == *text,
                "the result item does not read back");
    }
    return 0;
}
