#pragma once

#include <QApplication>

namespace tesvano::guitest {

// The one QApplication of the widget tests, made on first use and kept for the rest of the
// run. Widget tests never need a display: offscreen unless the environment says otherwise.
inline QApplication& guiApplication() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "tesvano_gui_tests";
    static char* argv[] = {name, nullptr};
    static auto* application = new QApplication(argc, argv);
    return *application;
}

}  // namespace tesvano::guitest
