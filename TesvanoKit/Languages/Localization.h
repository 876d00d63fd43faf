#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "TesvanoKit/Languages/SupportedLanguage.h"

namespace tesvano {

// Interface texts: keys looked up in the language's table, compiled into the program. A key
// missing from the language's table shows its English text, and a key no table knows shows as
// itself.
namespace Localization {

using Entry = std::pair<std::string_view, std::string_view>;

// The table of one language (entries sorted by key is not required).
std::span<const Entry> table(SupportedLanguage language);

std::string text(std::string_view key, SupportedLanguage language);

// The key's text with a name (of an input source) in place of its "%@". Russian writes a
// common noun after a colon in lower case, and the layouts' Russian names start with a
// capital: there a Cyrillic name that follows ": " loses it ("Закрепить: русская"). Names in
// other scripts and words in capitals ("США") stay as they are.
std::string withName(std::string_view key, std::string_view name, SupportedLanguage language);

}  // namespace Localization

// The language every lookup without an explicit language follows (the shortcut recorder's
// texts among them). Shared between threads; each access holds the lock for one read or
// write only.
namespace LanguageOverride {

void apply(SupportedLanguage language);
SupportedLanguage currentLanguage();
// Localization::text in the current language.
std::string text(std::string_view key);

}  // namespace LanguageOverride

}  // namespace tesvano
