#include "Tesvano/App/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

#include "Platform/Log/Log.h"

namespace tesvano::QtTranslations {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("language");
    return logger;
}

// The one loaded, owned by the application object.
QPointer<QTranslator>& installed() {
    static QPointer<QTranslator> translator;
    return translator;
}

}  // namespace

QString catalogue(SupportedLanguage language) {
    switch (language) {
        case SupportedLanguage::english:
            return {};
        case SupportedLanguage::simplifiedChinese:
            return QStringLiteral("qtbase_zh_CN");
        case SupportedLanguage::traditionalChinese:
            return QStringLiteral("qtbase_zh_TW");
        case SupportedLanguage::portuguese:
            // Qt's only Portuguese is Brazil's, which is also ours.
            return QStringLiteral("qtbase_pt_BR");
        case SupportedLanguage::japanese:
        case SupportedLanguage::french:
        case SupportedLanguage::german:
        case SupportedLanguage::spanish:
        case SupportedLanguage::russian:
            break;
    }
    const std::string_view code = rawValue(language);
    return QStringLiteral("qtbase_") + QString::fromLatin1(code.data(), qsizetype(code.size()));
}

bool apply(SupportedLanguage language) {
    auto* application = QCoreApplication::instance();
    if (application == nullptr) {
        return false;
    }
    if (installed()) {
        QCoreApplication::removeTranslator(installed());
        delete installed();
    }
    const QString name = catalogue(language);
    if (name.isEmpty()) {
        return false;
    }
    auto* translator = new QTranslator(application);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(name, folder) || !QCoreApplication::installTranslator(translator)) {
        // Qt's dialogs then speak English; everything of ours is translated all the same.
        log().info("No Qt catalogue %{public}s in %{public}s", name.toStdString(),
                   folder.toStdString());
        delete translator;
        return false;
    }
    installed() = translator;
    return true;
}

}  // namespace tesvano::QtTranslations
