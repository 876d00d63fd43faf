#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "TesvanoKit/Languages/Localization.h"

namespace tesvano {

// Why a command URL failed. Callers learn only `code()` and `message()`, through their x-error
// URL, so both texts are part of the interface.
struct URLCommandError {
    enum class Kind {
        unknownCommand,    // subject: the command name
        missingParameter,  // subject: the parameter name
        invalidParameter,  // subject: the parameter name; value: the rejected value
        unknownSource,     // subject: the source selector's text
        ruleNotFound,      // subject: what was looked for
        notSupported,      // subject: the reason
        malformedURL,
        notACommand,
        apiDisabled,
        noInputSources,
        notSaved,  // subject: why the change could not be kept
    };

    Kind kind = Kind::malformedURL;
    std::string subject;
    std::string value;

    static URLCommandError unknownCommand(std::string name);
    static URLCommandError missingParameter(std::string name);
    static URLCommandError invalidParameter(std::string name, std::string value);
    static URLCommandError unknownSource(std::string text);
    static URLCommandError ruleNotFound(std::string text);
    static URLCommandError notSupported(std::string reason);
    static URLCommandError malformedURL();
    static URLCommandError notACommand();
    static URLCommandError apiDisabled();
    static URLCommandError noInputSources();
    static URLCommandError notSaved(std::string reason);

    // How much of an overlong value a message repeats, and the longest subject repeated whole.
    static constexpr std::size_t echoedValueBytes = 64;
    static constexpr std::size_t longestEchoedSubject = 255;
    // The start of `value`, cut at a character boundary, and an ellipsis.
    static std::string shortened(std::string_view value);

    // The fixed code of the kind, e.g. "missing_parameter".
    std::string_view code() const;
    // The English sentence with the payload in its place. The one of apiDisabled names the
    // place of the switch in the words of `language` (by default the interface language; the
    // log says it in English).
    std::string message(SupportedLanguage language) const;
    std::string message() const { return message(LanguageOverride::currentLanguage()); }
    // "Tesvano → Settings → General → Automation", as the interface names those steps.
    static std::string apiSwitchPath(SupportedLanguage language);
    static std::string apiSwitchPath() {
        return apiSwitchPath(LanguageOverride::currentLanguage());
    }

    bool operator==(const URLCommandError&) const = default;

private:
    static std::string apiDisabledMessage(SupportedLanguage language);
};

}  // namespace tesvano
