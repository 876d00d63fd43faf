#include "Tesvano/Menu/TrayAvailability.h"

#include <QSystemTrayIcon>

namespace tesvano {

bool isTrayAvailable(bool qtReportsTray, const platform::TrayHosts& hosts) {
    if (!qtReportsTray) {
        return false;
    }
    return hosts.statusNotifierHost != false || hosts.xembedTray;
}

bool isTrayAvailable() {
    const bool qtReportsTray = QSystemTrayIcon::isSystemTrayAvailable();
    return qtReportsTray && isTrayAvailable(true, platform::probeTrayHosts());
}

}  // namespace tesvano
