#include "Tesvano/App/AppDisplay.h"

#include <QApplication>
#include <QFileInfo>
#include <QPainterPath>

#include "TesvanoKit/Apps/InstalledAppsScanner.h"
#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Monitors/ProcessIdentity.h"

#ifndef TESVANO_VERSION
#define TESVANO_VERSION "0"
#endif
#ifndef TESVANO_BUILD
#define TESVANO_BUILD "0"
#endif

namespace tesvano {

std::string AppDisplay::displayName(const std::string& identity, SupportedLanguage language) const {
    if (const auto* entry = entries_.entry(identity)) {
        return InstalledAppsScanner::displayName(*entry, language);
    }
    if (identity.starts_with(ProcessIdentity::prefix)) {
        const auto name = identity.substr(ProcessIdentity::prefix.size());
        if (!name.empty()) {
            return name;
        }
    }
    return identity;
}

std::vector<platform::RunningApplication> AppDisplay::runningApplications() const {
    return workspace_.runningApplications();
}

std::optional<platform::RunningApplication> AppDisplay::runningApplication(
    const std::string& identity) const {
    for (const auto& app : workspace_.runningApplications()) {
        if (ProcessIdentity::identifier({app.appId, app.executablePath}) == identity) {
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

namespace ProgramInfo {
std::string version() {
    return TESVANO_VERSION;
}
std::string build() {
    return TESVANO_BUILD;
}
std::string copyright() {
    return "\u00A9 2026 Quorvel";
}
}  // namespace ProgramInfo

}  // namespace tesvano
