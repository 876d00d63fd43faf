#include "TesvanoKit/Automation/URLCommandError.h"

#include <algorithm>

#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

URLCommandError make(URLCommandError::Kind kind, std::string subject = {}, std::string value = {}) {
    return URLCommandError{kind, std::move(subject), std::move(value)};
}

// What the caller sent, repeated whole unless it is longer than any real name: a reply must
// stay small enough for the desktop to deliver.
std::string echoed(std::string text) {
    if (text.size() <= URLCommandError::longestEchoedSubject) {
        return text;
    }
    return URLCommandError::shortened(text);
}

}  // namespace

URLCommandError URLCommandError::unknownCommand(std::string name) {
    return make(Kind::unknownCommand, std::move(name));
}
URLCommandError URLCommandError::missingParameter(std::string name) {
    return make(Kind::missingParameter, std::move(name));
}
URLCommandError URLCommandError::invalidParameter(std::string name, std::string value) {
    return make(Kind::invalidParameter, std::move(name), std::move(value));
}
URLCommandError URLCommandError::unknownSource(std::string text) {
    return make(Kind::unknownSource, echoed(std::move(text)));
}
URLCommandError URLCommandError::ruleNotFound(std::string text) {
    return make(Kind::ruleNotFound, echoed(std::move(text)));
}
URLCommandError URLCommandError::notSupported(std::string reason) {
    return make(Kind::notSupported, std::move(reason));
}
URLCommandError URLCommandError::malformedURL() {
    return make(Kind::malformedURL);
}
URLCommandError URLCommandError::notACommand() {
    return make(Kind::notACommand);
}
URLCommandError URLCommandError::apiDisabled() {
    return make(Kind::apiDisabled);
}
URLCommandError URLCommandError::noInputSources() {
    return make(Kind::noInputSources);
}
URLCommandError URLCommandError::notSaved(std::string reason) {
    return make(Kind::notSaved, std::move(reason));
}

std::string URLCommandError::shortened(std::string_view value) {
    std::size_t cut = std::min(value.size(), echoedValueBytes);
    while (cut > 0 && cut < value.size() &&
           (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(value.substr(0, cut)) + "\u2026";
}

std::string_view URLCommandError::code() const {
    switch (kind) {
        case Kind::unknownCommand:
            return "unknown_command";
        case Kind::missingParameter:
            return "missing_parameter";
        case Kind::invalidParameter:
            return "invalid_parameter";
        case Kind::unknownSource:
            return "unknown_source";
        case Kind::ruleNotFound:
            return "rule_not_found";
        case Kind::notSupported:
            return "not_supported";
        case Kind::malformedURL:
            return "malformed_url";
        case Kind::notACommand:
            return "no_command";
        case Kind::apiDisabled:
            return "api_disabled";
        case Kind::noInputSources:
            return "no_input_sources";
        case Kind::notSaved:
            return "not_saved";
    }
    return "malformed_url";
}

std::string URLCommandError::apiSwitchPath(SupportedLanguage language) {
    // The names the program shows: the tray menu's item, the tab, the section.
    constexpr std::string_view separator = " \u2192 ";
    std::string path = Localization::text("Tesvano", language);
    for (std::string_view step : {N_("Settings"), N_("General"), N_("Automation")}) {
        path += separator;
        path += Localization::text(step, language);
    }
    return path;
}

std::string URLCommandError::apiDisabledMessage(SupportedLanguage language) {
    std::string text =
        Localization::text("The URL scheme API is disabled. Enable it in %@.", language);
    if (const auto at = text.find("%@"); at != std::string::npos) {
        text.replace(at, 2, apiSwitchPath(language));
    }
    return text;
}

std::string URLCommandError::message(SupportedLanguage language) const {
    switch (kind) {
        case Kind::unknownCommand:
            return "Unknown command \"" + subject + "\".";
        case Kind::missingParameter:
            return "Missing required parameter \"" + subject + "\".";
        case Kind::invalidParameter:
            return "Invalid value \"" + value + "\" for parameter \"" + subject + "\".";
        case Kind::unknownSource:
            return "No installed input source matches \"" + subject + "\".";
        case Kind::ruleNotFound:
            return "No rule matches \"" + subject + "\".";
        case Kind::notSupported:
            return "Operation not supported: " + subject + ".";
        case Kind::malformedURL:
            return "The URL could not be parsed.";
        case Kind::notACommand:
            return "No command was specified.";
        case Kind::apiDisabled:
            return apiDisabledMessage(language);
        case Kind::noInputSources:
            return "No selectable input sources are installed.";
        case Kind::notSaved:
            return "The change is in effect but could not be saved, so it lasts only until "
                   "Tesvano quits: " +
                   subject + ".";
    }
    return "The URL could not be parsed.";
}

}  // namespace tesvano
