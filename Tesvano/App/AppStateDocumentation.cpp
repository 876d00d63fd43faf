#include <QCoreApplication>
#include <QDir>
#include <array>

#include "Tesvano/App/AppState.h"
#include "TesvanoKit/Automation/URLSchemeDocumentation.h"

// The documentation in the source tree the program was built from, and its place relative to
// the installed program (both set by the build).
#ifndef TESVANO_DOCS_DIR
#define TESVANO_DOCS_DIR ""
#endif
#ifndef TESVANO_INSTALLED_DOCS_RELATIVE
#define TESVANO_INSTALLED_DOCS_RELATIVE "../share/doc/tesvano/url-scheme"
#endif

namespace tesvano {

QUrl AppState::apiDocumentationURL() const {
    std::filesystem::path installed;
    if (QCoreApplication::instance() != nullptr) {
        installed = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                    QStringLiteral("/" TESVANO_INSTALLED_DOCS_RELATIVE))
                        .toStdString();
    }
    // The build's own copy first, so a program run from its build shows the docs it was
    // built with; an installed copy, whose build folder is gone, finds its own.
    const std::array<std::filesystem::path, 2> folders{std::filesystem::path(TESVANO_DOCS_DIR),
                                                       installed};
    auto file = URLSchemeDocumentation::locate(effectiveLanguage(), folders);
    if (!file) {
        // Nothing there at all: name where the installed English file belongs.
        file = (installed.empty() ? std::filesystem::path(TESVANO_DOCS_DIR) : installed) /
               URLSchemeDocumentation::fileName(SupportedLanguage::english);
    }
    return QUrl::fromLocalFile(QString::fromStdString(file->string()));
}

}  // namespace tesvano
