#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "TesvanoKit/Languages/SupportedLanguage.h"
#include "TesvanoKit/Rules/LockConfiguration.h"
#include "TesvanoKit/Rules/Uuid.h"
#include "TesvanoKit/Sources/SourceCycler.h"

namespace tesvano {

// Which input source a command means: by identifier or by display name. Whether it exists is
// for the handler to find out.
struct SourceSelector {
    enum class Kind { id, name };

    Kind kind = Kind::id;
    std::string text;  // the identifier or the name exactly as the caller wrote it

    static SourceSelector byID(std::string id) { return {Kind::id, std::move(id)}; }
    static SourceSelector byName(std::string name) { return {Kind::name, std::move(name)}; }

    // The identifier, for a selector of kind `id`.
    InputSourceID inputSourceID() const { return InputSourceID(text); }

    bool operator==(const SourceSelector&) const = default;
};

// Which URL rule a removal means: by identifier or by host pattern (compared ignoring case).
struct URLRuleSelector {
    enum class Kind { id, host };

    Kind kind = Kind::id;
    Uuid id;           // for kind `id`
    std::string host;  // for kind `host`, as the caller wrote it

    static URLRuleSelector byID(Uuid id) { return {Kind::id, id, {}}; }
    static URLRuleSelector byHost(std::string host) { return {Kind::host, {}, std::move(host)}; }

    bool operator==(const URLRuleSelector&) const = default;
};

enum class FlagArg { on, off, toggle };

// One command of the automation interface. The alternatives of `value` stand in the order the
// handler goes through them; the nine from Status to Ping only read.
struct URLCommand {
    struct LockToSource {
        SourceSelector source;
        bool operator==(const LockToSource&) const = default;
    };
    struct SetDefaultSource {
        std::optional<SourceSelector> source;  // none clears the default source
        RuleAction action = RuleAction::lock;
        bool operator==(const SetDefaultSource&) const = default;
    };
    struct CycleSource {
        CycleDirection direction = CycleDirection::next;
        bool operator==(const CycleSource&) const = default;
    };
    struct SwitchSource {
        SourceSelector source;
        bool operator==(const SwitchSource&) const = default;
    };
    struct SetAppRule {
        std::string appId;
        AppRuleMode mode = AppRuleMode::locked;
        std::optional<SourceSelector> source;  // present exactly when the mode requires one
        bool operator==(const SetAppRule&) const = default;
    };
    struct RemoveAppRule {
        std::string appId;
        bool operator==(const RemoveAppRule&) const = default;
    };
    struct CycleAppSource {
        std::optional<std::string> appId;  // none: the active application
        CycleDirection direction = CycleDirection::next;
        bool operator==(const CycleAppSource&) const = default;
    };
    struct SetLaunchAtLogin {
        FlagArg flag = FlagArg::on;
        bool operator==(const SetLaunchAtLogin&) const = default;
    };
    struct SetEnhancedMode {
        FlagArg flag = FlagArg::on;
        bool operator==(const SetEnhancedMode&) const = default;
    };
    struct SetURLRule {
        std::optional<Uuid> id;  // none: the handler picks the rule by its host
        std::string host;        // trimmed, letter case as sent
        SourceSelector source;
        RuleAction action = RuleAction::lock;
        URLMatchType matchType = URLMatchType::domainSuffix;
        bool operator==(const SetURLRule&) const = default;
    };
    struct RemoveURLRule {
        URLRuleSelector selector;
        bool operator==(const RemoveURLRule&) const = default;
    };
    struct SetLanguage {
        std::optional<SupportedLanguage> language;  // none: follow the system
        bool operator==(const SetLanguage&) const = default;
    };

    // The commands without parameters, told apart by their place in `Value`.
    template <int Index>
    struct Bare {
        bool operator==(const Bare&) const = default;
    };
    using Lock = Bare<12>;
    using Unlock = Bare<13>;
    using ToggleLock = Bare<14>;
    using RemoveActiveAppRule = Bare<15>;
    using ClearAppRules = Bare<16>;
    using ClearURLRules = Bare<17>;
    using Quit = Bare<18>;
    using Status = Bare<19>;
    using CurrentSource = Bare<20>;
    using ListSources = Bare<21>;
    using ListAppRules = Bare<22>;
    using ListURLRules = Bare<23>;
    using ListLog = Bare<24>;
    using GetConfig = Bare<25>;
    using Version = Bare<26>;
    using Ping = Bare<27>;

    using Value =
        std::variant<LockToSource, SetDefaultSource, CycleSource, SwitchSource, SetAppRule,
                     RemoveAppRule, CycleAppSource, SetLaunchAtLogin, SetEnhancedMode, SetURLRule,
                     RemoveURLRule, SetLanguage, Lock, Unlock, ToggleLock, RemoveActiveAppRule,
                     ClearAppRules, ClearURLRules, Quit, Status, CurrentSource, ListSources,
                     ListAppRules, ListURLRules, ListLog, GetConfig, Version, Ping>;

    Value value;

    static_assert(std::variant_size_v<Value> == 28);

    template <typename C>
    bool is() const {
        return std::holds_alternative<C>(value);
    }
    template <typename C>
    const C* as() const {
        return std::get_if<C>(&value);
    }

    bool operator==(const URLCommand&) const = default;
};

// The x-callback targets of one command URL. The URLs are valid URL references (maybe without a
// scheme, which the callback policy then refuses).
struct CallbackTargets {
    std::optional<std::string> source;  // "x-source", as sent; never used in replies
    std::optional<std::string> success;
    std::optional<std::string> error;
    std::optional<std::string> cancel;  // never answered

    bool operator==(const CallbackTargets&) const = default;
};

// A command URL read once: the parts the parser, the handler and the callback policy need, so
// that none of them splits the text again.
struct CommandURL {
    std::optional<std::string> scheme;  // as written
    std::optional<std::string>
        host;          // as written, still percent-encoded; present with an authority
    std::string path;  // percent-decoded, its segments joined by "/"
    // The query items by lower-cased name; of equal names the last wins.
    std::map<std::string, std::string, std::less<>> items;
    CallbackTargets callback;
    // The schemes of the success and error targets as written, for the callback policy.
    std::optional<std::string> successScheme;
    std::optional<std::string> errorScheme;
    // The callback items ("x-success", "x-error") given but no URL, which cannot be answered.
    std::vector<std::string> unusableCallbacks;

    bool operator==(const CommandURL&) const = default;
};

struct ParsedURLCommand {
    URLCommand command;
    CallbackTargets callback;

    bool operator==(const ParsedURLCommand&) const = default;
};

}  // namespace tesvano
