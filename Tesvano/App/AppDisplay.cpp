#include "Tesvano/App/AppDisplay.h"

#include <QApplication>
#include <QFileInfo>
#include <QPainterPath>

#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Monitors/ProcessIdentity.h"

#ifndef TESVANO_VERSION
#define TESVANO_VERSION "0"
#endif
#ifndef TESVANO_BUILD
#define TESVANO_BUILD "0"
#endif

namespace tesvano {

namespace {

// The Name[locale] keys that can serve an interface language, best first.
std::vector<std::string> localeKeys(SupportedLanguage language) {
    switch (language) {
        case SupportedLanguage::english:
            return {"en_US", "en_GB", "en"};
        case SupportedLanguage::simplifiedChinese:
            return {"zh_CN", "zh_SG", "zh_Hans", "zh"};
        case SupportedLanguage::traditionalChinese:
            return {"zh_TW", "zh_HK", "zh_Hant"};
        case SupportedLanguage::japanese:
            return {"ja"};
        case SupportedLanguage::french:
            return {"fr"};
        case SupportedLanguage::german:
            return {"de"};
        case SupportedLanguage::spanish:
            return {"es"};
        case SupportedLanguage::portuguese:
            return {"pt", "pt_BR", "pt_PT"};
        case SupportedLanguage::russian:
            return {"ru"};
    }
    return {};
}

}  // namespace

std::string AppDisplay::displayName(const std::string& identity, SupportedLanguage language) const {
    if (const auto* entry = entries_.entry(identity)) {
        for (const auto& key : localeKeys(language)) {
            auto it = entry->localizedNames.find(key);
            if (it != entry->localizedNames.end() && !it->second.empty()) {
                return it->second;
            }
        }
        if (!entry->name.empty()) {
            return entry->name;
        }
        return entry->path.stem().string();
    }
    if (identity.starts_with(ProcessIdentity::prefix)) {
        const auto name = identity.substr(ProcessIdentity::prefix.size());
        if (!name.empty()) {
            return name;
        }
    }
    return identity;
}

std::optional<platform::RunningApplication> AppDisplay::runningApplication(
    const std::string& identity) const {
    for (const auto& app : workspace_.runningApplications()) {
        if (ProcessIdentity::identifier({app.bundleIdentifier, app.executablePath}) == identity) {
            return app;
        }
    }
    return std::nullopt;
}

QIcon AppDisplay::icon(const std::string& identity) const {
    const auto* entry = entries_.entry(identity);
    if (entry && entry->icon) {
        const QString name = QString::fromStdString(*entry->icon);
        if (QFileInfo(name).isAbsolute()) {
            return QIcon(name);
        }
        return QIcon::fromTheme(name);
    }
    if (auto app = runningApplication(identity); app && app->executablePath) {
        // A program without a desktop entry may still have a theme icon named after it.
        return QIcon::fromTheme(
            QString::fromStdString(std::filesystem::path(*app->executablePath).filename()));
    }
    return {};
}

QIcon AppDisplay::ownAppIcon() {
    QIcon own(QStringLiteral(":/icons/AppIcon.svg"));
    if (!own.availableSizes().isEmpty() || !own.pixmap(64).isNull()) {
        return own;
    }
    if (qApp != nullptr && !QApplication::windowIcon().isNull()) {
        return QApplication::windowIcon();
    }
    return {};
}

bool AppDisplay::drawRoundedIcon(QPainter& painter, const QIcon& image, const QRectF& destination,
                                 double sideLength) {
    const double radius = sideLength * 0.2237;
    QPainterPath clip;
    clip.addRoundedRect(destination, radius, radius);
    painter.save();
    painter.setClipPath(clip);
    image.paint(&painter, destination.toRect());
    painter.restore();
    return true;
}

std::string AppDisplay::localizedString(std::string_view key, SupportedLanguage language) {
    return Localization::text(key, language);
}

namespace BundleInfo {
std::string shortVersion() {
    return TESVANO_VERSION;
}
std::string buildVersion() {
    return TESVANO_BUILD;
}
std::string copyright() {
    return "\u00A9 2026 Quorvel";
}
}  // namespace BundleInfo

}  // namespace tesvano
