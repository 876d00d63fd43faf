#include "TesvanoKit/Automation/URLCommandParser.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>

#include "TesvanoKit/Automation/CallbackURLPolicy.h"
#include "TesvanoKit/Rules/RuleValidity.h"
#include "TesvanoKit/Rules/TextFolding.h"
#include "TesvanoKit/Rules/URLComponents.h"
#include "TesvanoKit/Rules/URLMatcher.h"

namespace tesvano::URLCommandParser {

namespace {

using Parameters = decltype(CommandURL::items);

template <typename T>
using Result = std::expected<T, URLCommandError>;

std::unexpected<URLCommandError> fail(URLCommandError error) {
    return std::unexpected(std::move(error));
}

using TextFolding::lowercased;
using TextFolding::trimmed;

Parameters parameters(const URLComponents& components) {
    Parameters out;
    for (auto& item : components.queryItems()) {
        out.insert_or_assign(lowercased(item.name), std::move(item.value));
    }
    return out;
}

const std::string* item(const Parameters& parameters, std::string_view name) {
    const auto found = parameters.find(name);
    return found == parameters.end() ? nullptr : &found->second;
}

const std::string* nonEmptyItem(const Parameters& parameters, std::string_view name) {
    const std::string* value = item(parameters, name);
    return value != nullptr && !value->empty() ? value : nullptr;
}

// A callback value that is a URL reference, split: as it would be opened, and its scheme. None
// for the empty text or anything that is no URL.
std::optional<URLComponents> callbackURL(const std::string* value) {
    if (value == nullptr || value->empty()) {
        return std::nullopt;
    }
    return URLComponents::split(*value);
}

// The callback items of `url.items` into its targets, their schemes and the unusable ones.
void readCallbacks(CommandURL& url) {
    if (const std::string* source = item(url.items, "x-source")) {
        url.callback.source = *source;
    }
    const auto take = [&](std::string_view name, std::optional<std::string>& target,
                          std::optional<std::string>* scheme) {
        const std::string* value = item(url.items, name);
        auto components = callbackURL(value);
        if (!components) {
            if (scheme != nullptr && value != nullptr && !value->empty()) {
                url.unusableCallbacks.emplace_back(name);
            }
            return;
        }
        target = std::move(components->text);
        if (scheme != nullptr) {
            *scheme = std::move(components->scheme);
        }
    };
    take("x-success", url.callback.success, &url.successScheme);
    take("x-error", url.callback.error, &url.errorScheme);
    take("x-cancel", url.callback.cancel, nullptr);
}

Result<std::string> commandName(const CommandURL& url) {
    if (url.host) {
        std::string host = lowercased(percentDecoded(*url.host));
        if (!host.empty() && host != "x-callback-url") {
            return host;
        }
    }
    std::string_view rest = url.path;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view piece = rest.substr(0, slash);
        if (!piece.empty()) {
            return lowercased(piece);
        }
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    return fail(URLCommandError::notACommand());
}

std::string shortened(std::string_view value) {
    return URLCommandError::shortened(value);
}

using RuleValidity::characterCount;

// A non-empty identity parameter (desktop-entry id, executable name), or null when absent;
// one longer than any real identity is refused.
Result<const std::string*> identityItem(const Parameters& parameters, std::string_view name) {
    const std::string* value = nonEmptyItem(parameters, name);
    if (value != nullptr && value->size() > maximumIdentityBytes) {
        return fail(URLCommandError::invalidParameter(std::string(name), shortened(*value)));
    }
    return value;
}

// The same for a parameter the command cannot do without.
Result<const std::string*> requiredIdentityItem(const Parameters& parameters,
                                                std::string_view name) {
    auto value = identityItem(parameters, name);
    if (value && *value == nullptr) {
        return fail(URLCommandError::missingParameter(std::string(name)));
    }
    return value;
}

bool isOneOf(std::string_view word, std::initializer_list<std::string_view> words) {
    return std::ranges::find(words, word) != words.end();
}

// The first present, non-empty item of `keys`; the value is taken as sent.
std::optional<SourceSelector> firstSelector(
    const Parameters& parameters,
    std::initializer_list<std::pair<std::string_view, SourceSelector::Kind>> keys) {
    for (const auto& [key, kind] : keys) {
        if (const std::string* value = nonEmptyItem(parameters, key)) {
            return SourceSelector{kind, *value};
        }
    }
    return std::nullopt;
}

// lock-to-source, switch-source, set-default-source.
std::optional<SourceSelector> sourceSelector(const Parameters& parameters) {
    using K = SourceSelector::Kind;
    return firstSelector(
        parameters,
        {{"source", K::id}, {"id", K::id}, {"name", K::name}, {"source-name", K::name}});
}

// set-app-rule, set-url-rule: "id" names the rule there, not the source.
std::optional<SourceSelector> ruleSourceSelector(const Parameters& parameters) {
    using K = SourceSelector::Kind;
    return firstSelector(parameters,
                         {{"source", K::id}, {"source-name", K::name}, {"name", K::name}});
}

Result<CycleDirection> direction(const Parameters& parameters) {
    const std::string* value = nonEmptyItem(parameters, "direction");
    if (value == nullptr) {
        return fail(URLCommandError::missingParameter("direction"));
    }
    std::string word = lowercased(*value);
    if (isOneOf(word, {"next", "forward", "down"})) {
        return CycleDirection::next;
    }
    if (isOneOf(word, {"previous", "prev", "back", "backward", "up"})) {
        return CycleDirection::previous;
    }
    return fail(URLCommandError::invalidParameter("direction", std::move(word)));
}

Result<FlagArg> flag(const Parameters& parameters) {
    const std::string* value = nonEmptyItem(parameters, "enabled");
    if (value == nullptr) {
        return fail(URLCommandError::missingParameter("enabled"));
    }
    std::string word = lowercased(*value);
    if (isOneOf(word, {"true", "1", "on", "yes", "enable", "enabled"})) {
        return FlagArg::on;
    }
    if (isOneOf(word, {"false", "0", "off", "no", "disable", "disabled"})) {
        return FlagArg::off;
    }
    if (word == "toggle") {
        return FlagArg::toggle;
    }
    return fail(URLCommandError::invalidParameter("enabled", std::move(word)));
}

enum class ReportedAction { asSent, lowercased };

// "lock" when the item is absent; the empty text is refused like any other unknown word.
Result<RuleAction> action(const Parameters& parameters, ReportedAction reported) {
    const std::string* value = item(parameters, "action");
    const std::string sent = value != nullptr ? *value : std::string("lock");
    std::string word = lowercased(sent);
    if (word == "lock") {
        return RuleAction::lock;
    }
    if (isOneOf(word, {"switch", "switchonce", "switch-once"})) {
        return RuleAction::switchOnce;
    }
    return fail(URLCommandError::invalidParameter(
        "action", reported == ReportedAction::lowercased ? std::move(word) : sent));
}

Result<URLCommand> commandWithSource(const Parameters& parameters, bool switchOnly) {
    auto source = sourceSelector(parameters);
    if (!source) {
        return fail(URLCommandError::missingParameter("id"));
    }
    if (switchOnly) {
        return URLCommand{URLCommand::SwitchSource{std::move(*source)}};
    }
    return URLCommand{URLCommand::LockToSource{std::move(*source)}};
}

Result<URLCommand> parseSetDefaultSource(const Parameters& parameters) {
    auto source = sourceSelector(parameters);
    const auto chosen = action(parameters, ReportedAction::asSent);
    if (!chosen) {
        return fail(chosen.error());
    }
    return URLCommand{URLCommand::SetDefaultSource{std::move(source), *chosen}};
}

Result<URLCommand> parseCycleSource(const Parameters& parameters) {
    const auto chosen = direction(parameters);
    if (!chosen) {
        return fail(chosen.error());
    }
    return URLCommand{URLCommand::CycleSource{*chosen}};
}

// The app id of the app-rule commands comes in the parameter "bundle".
Result<URLCommand> parseSetAppRule(const Parameters& parameters) {
    const auto appId = requiredIdentityItem(parameters, "bundle");
    if (!appId) {
        return fail(appId.error());
    }
    const std::string* modeItem = item(parameters, "mode");
    std::string word = lowercased(modeItem != nullptr ? *modeItem : std::string("lock"));
    AppRuleMode mode = AppRuleMode::locked;
    if (isOneOf(word, {"lock", "locked"})) {
        mode = AppRuleMode::locked;
    } else if (isOneOf(word, {"switch", "switched"})) {
        mode = AppRuleMode::switched;
    } else if (isOneOf(word, {"ignore", "ignored"})) {
        mode = AppRuleMode::ignored;
    } else if (isOneOf(word, {"default", "usedefault", "use-default"})) {
        mode = AppRuleMode::useDefault;
    } else {
        return fail(URLCommandError::invalidParameter("mode", std::move(word)));
    }
    std::optional<SourceSelector> source;
    if (requiresSource(mode)) {
        source = ruleSourceSelector(parameters);
        if (!source) {
            return fail(URLCommandError::missingParameter("source"));
        }
    }
    return URLCommand{URLCommand::SetAppRule{**appId, mode, std::move(source)}};
}

Result<URLCommand> parseRemoveAppRule(const Parameters& parameters) {
    const auto appId = requiredIdentityItem(parameters, "bundle");
    if (!appId) {
        return fail(appId.error());
    }
    return URLCommand{URLCommand::RemoveAppRule{**appId}};
}

Result<URLCommand> parseCycleAppSource(const Parameters& parameters) {
    const auto chosen = direction(parameters);
    if (!chosen) {
        return fail(chosen.error());
    }
    const auto checked = identityItem(parameters, "bundle");
    if (!checked) {
        return fail(checked.error());
    }
    std::optional<std::string> appId;
    if (*checked != nullptr) {
        appId = **checked;
    }
    return URLCommand{URLCommand::CycleAppSource{std::move(appId), *chosen}};
}

Result<URLCommand> parseFlagCommand(const Parameters& parameters, bool launchAtLogin) {
    const auto chosen = flag(parameters);
    if (!chosen) {
        return fail(chosen.error());
    }
    if (launchAtLogin) {
        return URLCommand{URLCommand::SetLaunchAtLogin{*chosen}};
    }
    return URLCommand{URLCommand::SetEnhancedMode{*chosen}};
}

std::optional<URLMatchType> matchType(std::string_view word) {
    if (isOneOf(word, {"domain-suffix", "domainsuffix", "suffix"})) {
        return URLMatchType::domainSuffix;
    }
    if (isOneOf(word, {"domain", "domain-exact", "exact"})) {
        return URLMatchType::domain;
    }
    if (isOneOf(word, {"domain-keyword", "domainkeyword", "keyword"})) {
        return URLMatchType::domainKeyword;
    }
    if (isOneOf(word, {"url-regex", "urlregex", "regex"})) {
        return URLMatchType::urlRegex;
    }
    return std::nullopt;
}

Result<URLCommand> parseSetURLRule(const Parameters& parameters) {
    std::string_view patternName = "host";
    const std::string* pattern = nonEmptyItem(parameters, "host");
    if (pattern == nullptr) {
        pattern = nonEmptyItem(parameters, "pattern");
        if (pattern == nullptr) {
            return fail(URLCommandError::missingParameter("host"));
        }
        patternName = "pattern";
    }
    // The rules of a valid pattern are the editor's and an import's; a regular expression's
    // is checked once its match type is known.
    const std::string host = RuleValidity::normalizedPattern(*pattern);
    switch (RuleValidity::patternProblem(host, URLMatchType::domainSuffix)) {
        case RuleValidity::PatternProblem::empty:
            return fail(URLCommandError::missingParameter(std::string(patternName)));
        case RuleValidity::PatternProblem::tooLong:
            return fail(
                URLCommandError::invalidParameter(std::string(patternName), shortened(host)));
        case RuleValidity::PatternProblem::invalidRegex:
        case RuleValidity::PatternProblem::none:
            break;
    }

    auto source = ruleSourceSelector(parameters);
    if (!source) {
        return fail(URLCommandError::missingParameter("source"));
    }

    const auto chosenAction = action(parameters, ReportedAction::lowercased);
    if (!chosenAction) {
        return fail(chosenAction.error());
    }

    const std::string* typeItem = item(parameters, "match-type");
    if (typeItem == nullptr) {
        typeItem = item(parameters, "matchtype");
    }
    std::string typeWord = lowercased(typeItem != nullptr ? *typeItem : "domain-suffix");
    const auto type = matchType(typeWord);
    if (!type) {
        return fail(URLCommandError::invalidParameter("match-type", std::move(typeWord)));
    }

    if (RuleValidity::patternProblem(host, *type) != RuleValidity::PatternProblem::none) {
        return fail(URLCommandError::invalidParameter(std::string(patternName), host));
    }

    std::optional<Uuid> id;
    if (const std::string* idItem = nonEmptyItem(parameters, "id")) {
        id = Uuid::parse(*idItem);
        if (!id) {
            return fail(URLCommandError::invalidParameter("id", *idItem));
        }
    }

    return URLCommand{URLCommand::SetURLRule{id, host, std::move(*source), *chosenAction, *type}};
}

Result<URLCommand> parseRemoveURLRule(const Parameters& parameters) {
    if (const std::string* idItem = nonEmptyItem(parameters, "id")) {
        const auto id = Uuid::parse(*idItem);
        if (!id) {
            return fail(URLCommandError::invalidParameter("id", *idItem));
        }
        return URLCommand{URLCommand::RemoveURLRule{URLRuleSelector::byID(*id)}};
    }
    if (const std::string* host = nonEmptyItem(parameters, "host")) {
        if (characterCount(*host) > maximumPatternCharacters) {
            return fail(URLCommandError::invalidParameter("host", shortened(*host)));
        }
        return URLCommand{URLCommand::RemoveURLRule{URLRuleSelector::byHost(*host)}};
    }
    return fail(URLCommandError::missingParameter("id"));
}

Result<URLCommand> parseSetLanguage(const Parameters& parameters) {
    const std::string* code = nonEmptyItem(parameters, "code");
    if (code == nullptr) {
        return fail(URLCommandError::missingParameter("code"));
    }
    if (code->size() > maximumLanguageCodeBytes) {
        return fail(URLCommandError::invalidParameter("code", shortened(*code)));
    }
    if (isOneOf(lowercased(*code), {"system", "auto", "follow"})) {
        return URLCommand{URLCommand::SetLanguage{std::nullopt}};
    }
    if (auto exact = enumFromRawValue<SupportedLanguage>(*code)) {
        return URLCommand{URLCommand::SetLanguage{exact}};
    }
    if (auto lenient = Languages::match(*code)) {
        return URLCommand{URLCommand::SetLanguage{lenient}};
    }
    return fail(URLCommandError::invalidParameter("code", *code));
}

template <typename C>
Result<URLCommand> bare(const Parameters&) {
    return URLCommand{C{}};
}

using Reader = Result<URLCommand> (*)(const Parameters&);

// Every spelling, in the order names are compared.
constexpr std::pair<std::string_view, Reader> commandTable[] = {
    {"lock", bare<URLCommand::Lock>},
    {"unlock", bare<URLCommand::Unlock>},
    {"toggle-lock", bare<URLCommand::ToggleLock>},
    {"toggle", bare<URLCommand::ToggleLock>},
    {"lock-to-source", [](const Parameters& p) { return commandWithSource(p, false); }},
    {"set-default-source", parseSetDefaultSource},
    {"cycle-source", parseCycleSource},
    {"switch-source", [](const Parameters& p) { return commandWithSource(p, true); }},
    {"set-app-rule", parseSetAppRule},
    {"remove-app-rule", parseRemoveAppRule},
    {"cycle-app-source", parseCycleAppSource},
    {"remove-frontmost-app-rule", bare<URLCommand::RemoveActiveAppRule>},
    {"clear-app-rules", bare<URLCommand::ClearAppRules>},
    {"set-launch-at-login", [](const Parameters& p) { return parseFlagCommand(p, true); }},
    {"launch-at-login", [](const Parameters& p) { return parseFlagCommand(p, true); }},
    {"set-enhanced-mode", [](const Parameters& p) { return parseFlagCommand(p, false); }},
    {"set-url-rule", parseSetURLRule},
    {"remove-url-rule", parseRemoveURLRule},
    {"clear-url-rules", bare<URLCommand::ClearURLRules>},
    {"set-language", parseSetLanguage},
    {"quit", bare<URLCommand::Quit>},
    {"status", bare<URLCommand::Status>},
    {"current-source", bare<URLCommand::CurrentSource>},
    {"list-sources", bare<URLCommand::ListSources>},
    {"sources", bare<URLCommand::ListSources>},
    {"list-app-rules", bare<URLCommand::ListAppRules>},
    {"app-rules", bare<URLCommand::ListAppRules>},
    {"list-url-rules", bare<URLCommand::ListURLRules>},
    {"url-rules", bare<URLCommand::ListURLRules>},
    {"list-log", bare<URLCommand::ListLog>},
    {"log", bare<URLCommand::ListLog>},
    {"recent-activations", bare<URLCommand::ListLog>},
    {"get-config", bare<URLCommand::GetConfig>},
    {"config", bare<URLCommand::GetConfig>},
    {"version", bare<URLCommand::Version>},
    {"ping", bare<URLCommand::Ping>},
};

}  // namespace

std::optional<CommandURL> read(std::string_view url) {
    auto components = URLComponents::split(url);
    if (!components) {
        return std::nullopt;
    }
    CommandURL out;
    out.path = components->decodedPath();
    out.items = parameters(*components);
    out.scheme = std::move(components->scheme);
    out.host = std::move(components->host);
    readCallbacks(out);
    return out;
}

std::expected<URLCommand, URLCommandError> command(const CommandURL& url) {
    // Only URLs of our own scheme are commands: "mailto:lock" must not lock.
    if (!url.scheme || lowercased(*url.scheme) != CallbackURLPolicy::appScheme) {
        return fail(URLCommandError::notACommand());
    }
    auto name = commandName(url);
    if (!name) {
        return fail(name.error());
    }
    for (const auto& [spelling, reader] : commandTable) {
        if (spelling == *name) {
            return reader(url.items);
        }
    }
    return fail(URLCommandError::unknownCommand(std::move(*name)));
}

std::expected<ParsedURLCommand, URLCommandError> parse(std::string_view url) {
    auto read = URLCommandParser::read(url);
    if (!read) {
        return fail(URLCommandError::malformedURL());
    }
    auto parsed = command(*read);
    if (!parsed) {
        return fail(parsed.error());
    }
    return ParsedURLCommand{std::move(*parsed), std::move(read->callback)};
}

CallbackTargets callbackTargets(std::string_view url) {
    auto read = URLCommandParser::read(url);
    return read ? std::move(read->callback) : CallbackTargets{};
}

std::vector<std::string> unusableCallbacks(std::string_view url) {
    auto read = URLCommandParser::read(url);
    return read ? std::move(read->unusableCallbacks) : std::vector<std::string>{};
}

}  // namespace tesvano::URLCommandParser
