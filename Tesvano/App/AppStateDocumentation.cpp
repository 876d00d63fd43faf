#include <QCoreApplication>
#include <array>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/LaunchArguments.h"
#include "TesvanoKit/Automation/URLSchemeDocumentation.h"

namespace tesvano {

QUrl AppState::apiDocumentationURL() const {
    std::filesystem::path installed;
    if (QCoreApplication::instance() != nullptr) {
        installed = LaunchArguments::installedDocumentationFolder(
            QCoreApplication::applicationDirPath().toStdString());
    }
    const auto sources = LaunchArguments::sourceDocumentationFolder();
    // The build's own copy first, so a program run from its build shows the docs it was
    // built with; an installed copy, whose build folder is gone, finds its own.
    const std::array<std::filesystem::path, 2> folders{sources, installed};
    auto file = URLSchemeDocumentation::locate(effectiveLanguage(), folders);
    if (!file) {
        // Nothing there at all: name where the installed English file belongs.
        file = (installed.empty() ? sources : installed) /
               URLSchemeDocumentation::fileName(SupportedLanguage::english);
    }
    return QUrl::fromLocalFile(QString::fromStdString(file->string()));
}

}  // namespace tesvano
