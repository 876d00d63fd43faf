#include "Tesvano/Automation/URLCommandHandler.h"

#include <cmath>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "Platform/Log/Log.h"
#include "Tesvano/App/AppState.h"
#include "TesvanoKit/Automation/CallbackURLBuilder.h"
#include "TesvanoKit/Automation/CallbackURLPolicy.h"
#include "TesvanoKit/Automation/URLCommandParser.h"
#include "TesvanoKit/Rules/URLRuleList.h"

namespace tesvano {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("URLAPI");
    return logger;
}

using Outcome = std::expected<URLCommandHandler::Result, URLCommandError>;

Outcome noResult() {
    return URLCommandHandler::Result{};
}

Outcome result(nlohmann::json value) {
    return URLCommandHandler::Result{std::move(value)};
}

std::string raw(auto value) {
    return std::string(rawValue(value));
}

}  // namespace

URLCommandHandler::URLCommandHandler(AppState& state, std::shared_ptr<CallbackURLOpener> opener)
    : state_(state),
      opener_(opener ? std::move(opener) : std::make_shared<DesktopCallbackURLOpener>()) {}

std::string URLCommandHandler::loggedURL(std::string_view url) {
    if (url.size() <= loggedURLBytes) {
        return std::string(url);
    }
    std::size_t cut = loggedURLBytes;
    while (cut > 0 && (static_cast<unsigned char>(url[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(url.substr(0, cut)) + "\u2026 (" + std::to_string(url.size()) + " bytes)";
}

void URLCommandHandler::handle(std::string_view url) {
    log().info("URL command received: %{public}s", loggedURL(url));
    // Split once; every step below reads this value. One that is no URL has no targets.
    const std::optional<CommandURL> read = URLCommandParser::read(url);
    const CommandURL commandURL = read.value_or(CommandURL{});
    for (const auto& name : commandURL.unusableCallbacks) {
        log().error("Refused callback URL in %{public}s: it is not a URL", name);
    }
    // Read for every URL: the user may switch the interface off at any time.
    if (!state_.apiEnabled()) {
        replyError(URLCommandError::apiDisabled(), commandURL);
        return;
    }
    if (!read) {
        replyError(URLCommandError::malformedURL(), commandURL);
        return;
    }
    const auto command = URLCommandParser::command(commandURL);
    if (!command) {
        replyError(command.error(), commandURL);
        return;
    }
    const auto changes = state_.settingsChangeCount();
    const auto outcome = execute(*command);
    if (!outcome) {
        replyError(outcome.error(), commandURL);
        return;
    }
    // The caller hears whether its change was kept: written now rather than with the next
    // batch, and an error when the disk would not take it.
    if (state_.settingsChangeCount() != changes) {
        if (auto problem = state_.saveSettingsNow()) {
            replyError(URLCommandError::notSaved(std::move(*problem)), commandURL);
            return;
        }
    }
    replySuccess(*outcome, commandURL);
}

std::expected<URLCommandHandler::Result, URLCommandError> URLCommandHandler::execute(
    const URLCommand& command) {
    return std::visit([this](const auto& c) { return run(c); }, command.value);
}

std::expected<InputSourceID, URLCommandError> URLCommandHandler::resolveSource(
    const SourceSelector& selector) {
    if (state_.availableSources().empty()) {
        return std::unexpected(URLCommandError::noInputSources());
    }
    if (auto source = state_.resolveSource(selector)) {
        return source->id;
    }
    return std::unexpected(URLCommandError::unknownSource(selector.text));
}

void URLCommandHandler::setLockEnabled(bool enabled) {
    auto configuration = state_.config();
    configuration.isEnabled = enabled;
    state_.setConfig(configuration);
    state_.commitConfiguration(ActivationReason::lockEngaged);
}

// --- Commands that change something

Outcome URLCommandHandler::run(const URLCommand::LockToSource& command) {
    const auto source = resolveSource(command.source);
    if (!source) {
        return std::unexpected(source.error());
    }
    state_.lockToSource(*source);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::SetDefaultSource& command) {
    if (!command.source) {
        state_.setDefaultSourceID(std::nullopt);
        return noResult();
    }
    const auto source = resolveSource(*command.source);
    if (!source) {
        return std::unexpected(source.error());
    }
    state_.setDefaultSource(*source, command.action);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::CycleSource& command) {
    state_.cycleDefaultSource(command.direction);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::SwitchSource& command) {
    const auto source = resolveSource(command.source);
    if (!source) {
        return std::unexpected(source.error());
    }
    state_.selectSource(*source);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::SetAppRule& command) {
    std::optional<InputSourceID> lockedSource;
    if (requiresSource(command.mode)) {
        if (!command.source) {
            return std::unexpected(URLCommandError::missingParameter("source"));
        }
        auto source = resolveSource(*command.source);
        if (!source) {
            return std::unexpected(source.error());
        }
        lockedSource = std::move(*source);
    }
    state_.upsertAppRule(AppRule{command.appId, command.mode, lockedSource});
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::RemoveAppRule& command) {
    if (state_.config().appRule(command.appId) == nullptr) {
        return std::unexpected(URLCommandError::ruleNotFound(command.appId));
    }
    state_.removeAppRule(command.appId);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::CycleAppSource& command) {
    const auto identity = command.appId ? command.appId : state_.activeIdentity();
    if (!identity) {
        return std::unexpected(URLCommandError::ruleNotFound("frontmost"));
    }
    if (state_.config().appRule(*identity) == nullptr) {
        return std::unexpected(URLCommandError::ruleNotFound(*identity));
    }
    if (!state_.cycleAppSource(*identity, command.direction)) {
        return std::unexpected(URLCommandError::notSupported("no other input source to cycle to"));
    }
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::SetLaunchAtLogin& command) {
    bool enabled = command.flag == FlagArg::on;
    if (command.flag == FlagArg::toggle) {
        enabled = !state_.loginItem().isEnabled();
    }
    // A failed registration is logged by the state; the caller still gets a success.
    (void)state_.setLoginItemEnabled(enabled);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::SetEnhancedMode& command) {
    auto configuration = state_.config();
    switch (command.flag) {
        case FlagArg::on:
            configuration.enhancedModeEnabled = true;
            break;
        case FlagArg::off:
            configuration.enhancedModeEnabled = false;
            break;
        case FlagArg::toggle:
            configuration.enhancedModeEnabled = !configuration.enhancedModeEnabled;
            break;
    }
    state_.setConfig(configuration);
    state_.commitConfiguration(ActivationReason::configChanged);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::SetURLRule& command) {
    const auto source = resolveSource(command.source);
    if (!source) {
        return std::unexpected(source.error());
    }
    const auto& rules = state_.config().urlRules;
    const auto samePattern = [&](const URLRule& rule) {
        return URLRuleList::samePattern(rule.hostPattern, command.host);
    };
    Uuid id;
    if (command.id) {
        id = *command.id;
    } else if (auto holder = std::ranges::find_if(rules, samePattern); holder != rules.end()) {
        id = holder->id;
    } else {
        id = Uuid::random();
    }
    // Taking the host of another rule would merge the two and drop one of them.
    if (std::ranges::any_of(
            rules, [&](const URLRule& rule) { return rule.id != id && samePattern(rule); })) {
        return std::unexpected(URLCommandError::invalidParameter("host", command.host));
    }
    state_.upsertURLRule(URLRule{id, command.host, *source, command.action, command.matchType});
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::RemoveURLRule& command) {
    const auto& selector = command.selector;
    const auto& rules = state_.config().urlRules;
    if (selector.kind == URLRuleSelector::Kind::id) {
        if (std::ranges::find(rules, selector.id, &URLRule::id) == rules.end()) {
            return std::unexpected(URLCommandError::ruleNotFound(selector.id.string()));
        }
        state_.removeURLRule(selector.id);
        return noResult();
    }
    std::vector<Uuid> matching;
    for (const auto& rule : rules) {
        if (URLRuleList::samePattern(rule.hostPattern, selector.host)) {
            matching.push_back(rule.id);
        }
    }
    if (matching.empty()) {
        return std::unexpected(URLCommandError::ruleNotFound(selector.host));
    }
    for (const auto& id : matching) {
        state_.removeURLRule(id);
    }
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::SetLanguage& command) {
    state_.setLanguagePreference(command.language ? LanguagePreference::specific(*command.language)
                                                  : LanguagePreference::system());
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::Lock&) {
    setLockEnabled(true);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::Unlock&) {
    setLockEnabled(false);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::ToggleLock&) {
    setLockEnabled(!state_.config().isEnabled);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::RemoveActiveAppRule&) {
    const auto identity = state_.activeIdentity();
    if (!identity || state_.config().appRule(*identity) == nullptr) {
        return std::unexpected(URLCommandError::ruleNotFound("frontmost"));
    }
    state_.removeAppRule(*identity);
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::ClearAppRules&) {
    state_.removeAllAppRules();
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::ClearURLRules&) {
    state_.removeAllURLRules();
    return noResult();
}

Outcome URLCommandHandler::run(const URLCommand::Quit&) {
    // Later, so that this URL's reply goes out before the program ends.
    std::weak_ptr<int> alive = lifetime_;
    state_.runtime().post(platform::Seconds(0), [this, alive] {
        if (alive.expired()) {
            return;
        }
        state_.setTerminationRequested(true);
        if (requestQuit) {
            requestQuit();
        } else {
            QCoreApplication::quit();
        }
    });
    return noResult();
}

// --- Queries

Outcome URLCommandHandler::run(const URLCommand::Status&) {
    return result(statusPayload());
}

Outcome URLCommandHandler::run(const URLCommand::CurrentSource&) {
    auto* engine = state_.engine();
    if (auto current = engine ? engine->currentSourceID() : std::nullopt) {
        return result(sourcePayload(*current));
    }
    return result({{"id", nullptr}, {"name", state_.currentSourceName()}});
}

Outcome URLCommandHandler::run(const URLCommand::ListSources&) {
    auto list = nlohmann::json::array();
    auto* engine = state_.engine();
    for (const auto& source : state_.availableSources()) {
        // Every listed source is enabled; a desktop that keeps the selection to itself (GNOME
        // Shell before our extension is on) lists sources this program cannot select.
        list.push_back({{"id", source.id.rawValue},
                        {"name", source.localizedName},
                        {"isCJKV", source.isCJKV},
                        {"isEnabled", true},
                        {"isSelectCapable", engine && engine->canSelect(source)}});
    }
    return result(std::move(list));
}

Outcome URLCommandHandler::run(const URLCommand::ListAppRules&) {
    auto list = nlohmann::json::array();
    for (const auto& rule : state_.config().appRules) {
        // Replies name an app id "bundleID", here and in the log entries.
        nlohmann::json entry{{"bundleID", rule.appId}, {"mode", raw(rule.mode)}};
        if (rule.lockedSourceID) {
            entry["source"] = sourcePayload(*rule.lockedSourceID);
        }
        list.push_back(std::move(entry));
    }
    return result(std::move(list));
}

Outcome URLCommandHandler::run(const URLCommand::ListURLRules&) {
    auto list = nlohmann::json::array();
    for (const auto& rule : state_.config().urlRules) {
        list.push_back({{"id", rule.id.string()},
                        {"host", rule.hostPattern},
                        {"action", raw(rule.action)},
                        {"matchType", raw(rule.matchType)},
                        {"source", sourcePayload(rule.lockedSourceID)}});
    }
    return result(std::move(list));
}

Outcome URLCommandHandler::run(const URLCommand::ListLog&) {
    auto list = nlohmann::json::array();
    const auto entries = state_.logStore().recentEntries(state_.runtime().now(), logEntryLimit,
                                                         platform::Seconds(logMaximumAge));
    for (const auto& entry : entries) {
        list.push_back(logEntryPayload(entry));
    }
    return result(std::move(list));
}

Outcome URLCommandHandler::run(const URLCommand::GetConfig&) {
    return configPayload();
}

Outcome URLCommandHandler::run(const URLCommand::Version&) {
    return result(versionPayload());
}

Outcome URLCommandHandler::run(const URLCommand::Ping&) {
    auto payload = versionPayload();
    payload["ok"] = true;
    payload["app"] = "Tesvano";
    return result(std::move(payload));
}

// --- Result shapes

nlohmann::json URLCommandHandler::sourcePayload(const InputSourceID& id) const {
    nlohmann::json payload{{"id", id.rawValue}};
    if (auto name = state_.sourceName(id)) {
        payload["name"] = *name;
    }
    return payload;
}

nlohmann::json URLCommandHandler::statusPayload() {
    const auto& configuration = state_.config();
    auto payload = versionPayload();
    payload["enabled"] = configuration.isEnabled;
    payload["enhancedMode"] = configuration.enhancedModeEnabled;
    payload["launchAtLogin"] = state_.loginItem().isEnabled();
    payload["accessibilityGranted"] = state_.accessibilityGranted();
    payload["activationCount"] = state_.activationCount();
    payload["language"] = state_.effectiveLanguageCode();
    if (auto* engine = state_.engine()) {
        if (auto current = engine->currentSourceID()) {
            payload["currentSource"] = sourcePayload(*current);
        }
    }
    if (configuration.defaultSourceID) {
        payload["defaultSource"] = sourcePayload(*configuration.defaultSourceID);
        payload["defaultAction"] = raw(configuration.defaultAction);
    }
    if (auto active = state_.activeIdentity()) {
        payload["frontmostApp"] = *active;
    }
    return payload;
}

nlohmann::json URLCommandHandler::versionPayload() {
    return {{"version", ProgramInfo::version()}, {"build", ProgramInfo::build()}};
}

nlohmann::json URLCommandHandler::logEntryPayload(const ActivationLogEntry& entry) {
    nlohmann::json payload{
        {"timestamp", iso8601(entry.timestamp)},
        {"inputSource", entry.inputSourceID},
        {"inputSourceName", entry.inputSourceName},
        {"reason", entry.reasonRaw},
        // Microseconds are all a duration can tell; the rest is noise.
        {"durationMs",
         std::isfinite(entry.durationMs) ? std::round(entry.durationMs * 1000.0) / 1000.0 : 0.0}};
    if (entry.fromSourceName) {
        payload["fromSourceName"] = *entry.fromSourceName;
    }
    if (auto app = entry.triggeringAppName ? entry.triggeringAppName : entry.triggeringAppId) {
        payload["app"] = *app;
    }
    if (entry.triggeringAppId) {
        payload["bundleID"] = *entry.triggeringAppId;
    }
    if (entry.ruleSourceRaw) {
        payload["ruleSource"] = *entry.ruleSourceRaw;
    }
    if (entry.matchedHost) {
        payload["matchedHost"] = *entry.matchedHost;
    }
    return payload;
}

Outcome URLCommandHandler::configPayload() const {
    // The stored form, read back as a plain object so that its keys reach the caller sorted.
    try {
        auto payload = nlohmann::json::parse(dumpCompact(toJSON(state_.config())));
        if (payload.is_object()) {
            return result(std::move(payload));
        }
    } catch (const nlohmann::json::exception&) {
    }
    return std::unexpected(URLCommandError::notSupported("configuration serialization"));
}

std::string URLCommandHandler::iso8601(platform::WallTime time) {
    using namespace std::chrono;
    // Years 1 to 9999 only; a corrupt stored time must not overflow the conversion.
    double value = time.time_since_epoch().count();
    constexpr double earliest = -62135596800.0;  // 0001-01-01T00:00:00Z
    constexpr double latest = 253402300799.0;    // 9999-12-31T23:59:59Z
    if (!(value >= earliest)) {
        value = earliest;
    } else if (value > latest) {
        value = latest;
    }
    const auto secs = floor<seconds>(sys_time<duration<double>>(duration<double>(value)));
    const auto day = floor<days>(secs);
    const year_month_day date(day);
    const hh_mm_ss clock(secs - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()));
    return text;
}

// --- Replies

void URLCommandHandler::replySuccess(const Result& result, const CommandURL& url) {
    const auto& target = url.callback.success;
    if (!target) {
        return;
    }
    std::optional<std::string> text;
    if (result) {
        text = CallbackURLBuilder::resultText(*result);
    }
    openCallback(CallbackURLBuilder::successURL(*target, text), url.successScheme, url);
}

void URLCommandHandler::replyError(const URLCommandError& error, const CommandURL& url) {
    const std::string message = error.message();
    // The log is English, whatever the interface speaks.
    log().error("URL command failed: %{public}s \u2014 %{public}s", error.code(),
                loggedURL(error.message(SupportedLanguage::english)));
    const auto& target = url.callback.error;
    if (!target) {
        return;
    }
    openCallback(CallbackURLBuilder::errorURL(*target, error.code(), message), url.errorScheme,
                 url);
}

void URLCommandHandler::openCallback(const std::string& reply,
                                     const std::optional<std::string>& scheme,
                                     const CommandURL& url) {
    // A reply keeps the scheme of the target it was made on.
    if (!CallbackURLPolicy::isAllowedScheme(scheme, CallbackURLPolicy::ownURLSchemes())) {
        log().error("Refused callback URL with disallowed scheme: %{public}s",
                    scheme && !scheme->empty() ? *scheme : std::string("(none)"));
        return;
    }
    if (reply.size() <= CallbackURLPolicy::maximumURLBytes) {
        opener_->open(reply);
        return;
    }
    // The opener would fail without a word; tell the caller in a few words instead.
    log().error("A reply of %{public}s bytes is too large for the desktop to open; not sent",
                std::to_string(reply.size()));
    if (!url.callback.error ||
        !CallbackURLPolicy::isAllowedScheme(url.errorScheme, CallbackURLPolicy::ownURLSchemes())) {
        return;
    }
    const auto tooLarge = URLCommandError::notSupported(
        "a reply of " + std::to_string(reply.size()) + " bytes is too large to deliver");
    const std::string brief =
        CallbackURLBuilder::errorURL(*url.callback.error, tooLarge.code(), tooLarge.message());
    if (brief.size() <= CallbackURLPolicy::maximumURLBytes) {
        opener_->open(brief);
    }
}

}  // namespace tesvano
