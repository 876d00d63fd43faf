#include "TesvanoKit/Languages/SupportedLanguage.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace tesvano {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> pieces(std::string_view identifier) {
    std::vector<std::string> out;
    std::string current;
    for (char c : lowered(identifier)) {
        if (c == '-') {
            if (!current.empty())
                out.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        out.push_back(std::move(current));
    return out;
}

// "pt_BR.UTF-8@euro" -> "pt-BR"; "C" and "POSIX" say nothing about a language.
std::optional<std::string> fromLocaleName(std::string_view name) {
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX")
        return std::nullopt;
    std::string out(name);
    std::replace(out.begin(), out.end(), '_', '-');
    return out;
}

}  // namespace

namespace Languages {

std::string_view nativeName(SupportedLanguage language) {
    switch (language) {
        case SupportedLanguage::english:
            return "English";
        case SupportedLanguage::simplifiedChinese:
            return "简体中文";
        case SupportedLanguage::traditionalChinese:
            return "繁體中文";
        case SupportedLanguage::japanese:
            return "日本語";
        case SupportedLanguage::french:
            return "Français";
        case SupportedLanguage::german:
            return "Deutsch";
        case SupportedLanguage::spanish:
            return "Español";
        case SupportedLanguage::portuguese:
            return "Português";
        case SupportedLanguage::russian:
            return "Русский";
    }
    return "English";
}

std::optional<SupportedLanguage> match(std::string_view identifier) {
    const auto parts = pieces(identifier);
    if (parts.empty())
        return std::nullopt;
    if (parts.size() >= 2) {
        const std::string pair = parts[0] + "-" + parts[1];
        for (auto language : allCases<SupportedLanguage>()) {
            if (lowered(rawValue(language)) == pair)
                return language;
        }
    }
    if (parts[0] == "zh") {
        const std::string second = parts.size() >= 2 ? parts[1] : "";
        const bool traditional =
            second == "tw" || second == "hk" || second == "mo" || second == "hant";
        return traditional ? SupportedLanguage::traditionalChinese
                           : SupportedLanguage::simplifiedChinese;
    }
    for (auto language : allCases<SupportedLanguage>()) {
        if (lowered(rawValue(language)) == parts[0])
            return language;
    }
    return std::nullopt;
}

SupportedLanguage firstSupported(std::span<const std::string> identifiers) {
    for (const auto& identifier : identifiers) {
        if (auto language = match(identifier))
            return *language;
    }
    return SupportedLanguage::english;
}

std::optional<std::string> localization(SupportedLanguage language,
                                        std::span<const std::string> names) {
    const std::string code = lowered(rawValue(language));
    for (const auto& name : names) {
        if (lowered(name) == code)
            return name;
    }
    for (const auto& name : names) {
        if (match(name) == language)
            return name;
    }
    return std::nullopt;
}

std::vector<std::string> gettextLocaleNames(SupportedLanguage language) {
    using L = SupportedLanguage;
    switch (language) {
        case L::english:
            return {};
        case L::simplifiedChinese:
            return {"zh_CN", "zh_Hans", "zh_SG"};
        case L::traditionalChinese:
            return {"zh_TW", "zh_Hant", "zh_HK"};
        case L::portuguese:
            return {"pt", "pt_BR", "pt_PT"};
        default:
            return {std::string(rawValue(language))};
    }
}

std::vector<std::string> systemPreferredLanguages() {
    std::vector<std::string> out;
    // LANGUAGE is a colon-separated priority list and only counts with a real locale set.
    const char* all = std::getenv("LC_ALL");
    const char* messages = std::getenv("LC_MESSAGES");
    const char* lang = std::getenv("LANG");
    const char* locale = (all && *all) ? all : (messages && *messages) ? messages : lang;
    if (const char* list = std::getenv("LANGUAGE");
        list && *list && locale && *locale && std::string_view(locale) != "C") {
        std::string_view rest(list);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            if (auto id = fromLocaleName(rest.substr(0, colon)))
                out.push_back(*id);
            if (colon == std::string_view::npos)
                break;
            rest.remove_prefix(colon + 1);
        }
    }
    if (locale && *locale) {
        if (auto id = fromLocaleName(locale))
            out.push_back(*id);
    }
    return out;
}

}  // namespace Languages

SupportedLanguage LanguagePreference::effectiveLanguage() const {
    if (language_)
        return *language_;
    const auto preferred = Languages::systemPreferredLanguages();
    return Languages::firstSupported(preferred);
}

LanguagePreference LanguagePreference::load(const platform::Defaults& defaults) {
    const auto stored = defaults.string("appLanguage");
    if (!stored || *stored == "system")
        return system();
    if (auto language = enumFromRawValue<SupportedLanguage>(*stored))
        return specific(*language);
    return system();
}

void LanguagePreference::save(platform::Defaults& defaults) const {
    defaults.set("appLanguage",
                 std::string(language_ ? rawValue(*language_) : std::string_view("system")));
}

}  // namespace tesvano
