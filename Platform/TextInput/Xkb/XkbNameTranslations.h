#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano::platform {

// The messages of one compiled gettext catalogue (.mo), read whole: the untranslated text
// (context and plural forms left out) and its first translation. A file that cannot be read
// or is no catalogue gives none.
std::optional<std::map<std::string, std::string, std::less<>>> readMessageCatalogue(
    const std::filesystem::path& file);

// The layout descriptions of the XKB data in another language, from the data's own message
// catalogue (the `xkeyboard-config` gettext domain), whatever the process's locale is.
class XkbNameTranslations {
public:
    // No translation: every name stays as given.
    XkbNameTranslations() = default;
    // The catalogue of the first of `locales` (gettext's names: "ru", "zh_CN", "pt_BR") that
    // has one under `localeRoot` (/usr/share/locale).
    XkbNameTranslations(const std::filesystem::path& localeRoot,
                        const std::vector<std::string>& locales);

    // The description in the catalogue's language; names it does not know come back as they
    // are (an input method's, one the keymap gave).
    std::string translate(std::string_view description) const;
    bool empty() const { return messages_.empty(); }

    static std::filesystem::path standardLocaleRoot();

private:
    std::map<std::string, std::string, std::less<>> messages_;
};

}  // namespace tesvano::platform
