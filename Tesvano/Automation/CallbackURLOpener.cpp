#include "Tesvano/Automation/CallbackURLOpener.h"

#include <QDesktopServices>
#include <QString>

namespace tesvano {

void DesktopCallbackURLOpener::open(std::string_view url) {
    QDesktopServices::openUrl(toQUrl(url));
}

QUrl DesktopCallbackURLOpener::toQUrl(std::string_view url) {
    return QUrl(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size())),
                QUrl::TolerantMode);
}

}  // namespace tesvano
