#include "Tesvano/App/AppState.h"

namespace tesvano {

std::string AppState::displaySourceName(std::string_view name) const {
    return layoutNames_.translate(name);
}

void AppState::translateSourceNames() {
    const auto locales = Languages::gettextLocaleNames(effectiveLanguage());
    layoutNames_ = services_.localeRoot && !locales.empty()
                       ? platform::XkbNameTranslations(*services_.localeRoot, locales)
                       : platform::XkbNameTranslations();
    handleSelectableSourcesChange(engineSources_);
    if (!engineCurrentSourceName_.empty()) {
        assign(currentSourceName_, displaySourceName(engineCurrentSourceName_),
               &AppState::currentSourceNameChanged);
    }
}

}  // namespace tesvano
