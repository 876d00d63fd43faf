#pragma once

#include <QString>

#include "TesvanoKit/Languages/SupportedLanguage.h"

namespace tesvano {

// Qt's own texts (the file chooser Qt draws where no portal runs, standard buttons, the
// context menus of text fields) in the interface language, from the catalogues of the system's
// Qt (Debian's qt6-translations-l10n).
namespace QtTranslations {

// The catalogue's file name for the language ("qtbase_zh_CN"); empty for English, which Qt
// speaks without one.
QString catalogue(SupportedLanguage language);

// Loads the language's catalogue in place of the one loaded before, so that open windows of
// Qt's retranslate themselves. Answers whether one is loaded now.
bool apply(SupportedLanguage language);

}  // namespace QtTranslations

}  // namespace tesvano
