#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Runtime/Runtime.h"
#include "Tesvano/Automation/CallbackURLOpener.h"
#include "TesvanoKit/Automation/URLCommand.h"
#include "TesvanoKit/Automation/URLCommandError.h"
#include "TesvanoKit/History/ActivationLogEntry.h"

namespace tesvano {

class AppState;

// Runs the tesvano:// commands other programs send: checks that the automation interface is
// on, parses the URL, acts through the application state and answers on the caller's
// x-success or x-error URL. One URL is handled completely before the next. Main thread only.
class URLCommandHandler {
public:
    // A command's result: a JSON object or array, or nothing.
    using Result = std::optional<nlohmann::json>;

    static constexpr std::int64_t logEntryLimit = 200;
    static constexpr double logMaximumAge = 86400.0;

    // Without an opener the callbacks go to the desktop.
    explicit URLCommandHandler(AppState& state, std::shared_ptr<CallbackURLOpener> opener = {});
    URLCommandHandler(const URLCommandHandler&) = delete;
    URLCommandHandler& operator=(const URLCommandHandler&) = delete;

    void handle(std::string_view url);
    std::expected<Result, URLCommandError> execute(const URLCommand& command);

    // Ends the program. The quit command calls it from a task that runs after the current
    // URL is handled, so the caller gets its reply first. Unset: the Qt application quits.
    std::function<void()> requestQuit;

    // How much of a received URL the log shows.
    static constexpr std::size_t loggedURLBytes = 2000;
    // The URL as logged: whole, or its start and its length when it is long.
    static std::string loggedURL(std::string_view url);

    // Internet date-time in UTC, whole seconds, with "Z".
    static std::string iso8601(platform::WallTime time);
    // One entry of the log as list-log and recent-activations answer it.
    static nlohmann::json logEntryPayload(const ActivationLogEntry& entry);

private:
    using Outcome = std::expected<Result, URLCommandError>;

    Outcome run(const URLCommand::LockToSource& command);
    Outcome run(const URLCommand::SetDefaultSource& command);
    Outcome run(const URLCommand::CycleSource& command);
    Outcome run(const URLCommand::SwitchSource& command);
    Outcome run(const URLCommand::SetAppRule& command);
    Outcome run(const URLCommand::RemoveAppRule& command);
    Outcome run(const URLCommand::CycleAppSource& command);
    Outcome run(const URLCommand::SetLaunchAtLogin& command);
    Outcome run(const URLCommand::SetEnhancedMode& command);
    Outcome run(const URLCommand::SetURLRule& command);
    Outcome run(const URLCommand::RemoveURLRule& command);
    Outcome run(const URLCommand::SetLanguage& command);
    Outcome run(const URLCommand::Lock&);
    Outcome run(const URLCommand::Unlock&);
    Outcome run(const URLCommand::ToggleLock&);
    Outcome run(const URLCommand::RemoveActiveAppRule&);
    Outcome run(const URLCommand::ClearAppRules&);
    Outcome run(const URLCommand::ClearURLRules&);
    Outcome run(const URLCommand::Quit&);
    Outcome run(const URLCommand::Status&);
    Outcome run(const URLCommand::CurrentSource&);
    Outcome run(const URLCommand::ListSources&);
    Outcome run(const URLCommand::ListAppRules&);
    Outcome run(const URLCommand::ListURLRules&);
    Outcome run(const URLCommand::ListLog&);
    Outcome run(const URLCommand::GetConfig&);
    Outcome run(const URLCommand::Version&);
    Outcome run(const URLCommand::Ping&);

    std::expected<InputSourceID, URLCommandError> resolveSource(const SourceSelector& selector);
    // Writes `config.isEnabled` and commits, also when it did not change.
    void setLockEnabled(bool enabled);

    nlohmann::json sourcePayload(const InputSourceID& id) const;
    nlohmann::json statusPayload();
    static nlohmann::json versionPayload();
    Outcome configPayload() const;

    // The replies go to the targets of `url` as read when it arrived.
    void replySuccess(const Result& result, const CommandURL& url);
    void replyError(const URLCommandError& error, const CommandURL& url);
    // Opens `reply`, made on a target of `url` whose scheme is `scheme`, if the policy allows
    // that scheme; one too long for the desktop is replaced by a short error on the caller's
    // x-error URL.
    void openCallback(const std::string& reply, const std::optional<std::string>& scheme,
                      const CommandURL& url);

    AppState& state_;
    std::shared_ptr<CallbackURLOpener> opener_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano
