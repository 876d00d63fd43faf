#pragma once

#include <QIcon>
#include <QPainter>
#include <QRectF>
#include <optional>
#include <string>

#include "Platform/Workspace/DesktopEntryIndex.h"
#include "Platform/Workspace/Workspace.h"
#include "TesvanoKit/Languages/SupportedLanguage.h"

namespace tesvano {

// How other applications and the program itself are shown: names and icons by identity
// (desktop-entry id or "process:" form), and texts in a given interface language.
// Nothing is cached; each call asks again. Main thread only.
class AppDisplay {
public:
    AppDisplay(platform::Workspace& workspace, const platform::DesktopEntryIndex& entries)
        : workspace_(workspace), entries_(entries) {}

    // The desktop entry's name in the interface language, else its plain name; a running
    // program's executable for a "process:" identity; else the identity itself.
    std::string displayName(const std::string& identity, SupportedLanguage language) const;
    QIcon icon(const std::string& identity) const;
    std::optional<platform::RunningApplication> runningApplication(
        const std::string& identity) const;
    std::vector<platform::RunningApplication> runningApplications() const;

    static QIcon ownAppIcon();
    // Draws `image` clipped to a rounded square whose corner radius is 0.2237 of the side.
    static bool drawRoundedIcon(QPainter& painter, const QIcon& image, const QRectF& destination,
                                double sideLength);
    static std::string localizedString(std::string_view key, SupportedLanguage language);

private:
    platform::Workspace& workspace_;
    const platform::DesktopEntryIndex& entries_;
};

// The program's own version information.
namespace ProgramInfo {
std::string version();
std::string build();
std::string copyright();
}  // namespace ProgramInfo

}  // namespace tesvano
