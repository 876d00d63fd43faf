#include "Tesvano/App/DisplayLoss.h"

#include <QGuiApplication>

#include "Platform/Updater/StartJudgement.h"

// After Qt's headers: Xlib's macros (Bool, Status) would break them.
#include <X11/Xlib.h>

namespace tesvano {

namespace {

XIOErrorHandler previousHandler = nullptr;

int onIOError(Display* display) {
    platform::noteDisplayLost();
    // Xlib ends the process when this returns, as it would have without us.
    return previousHandler != nullptr ? previousHandler(display) : 0;
}

}  // namespace

DisplayLossWatch::DisplayLossWatch() {
    const auto* x11 = qGuiApp != nullptr
                          ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                          : nullptr;
    if (x11 == nullptr || x11->display() == nullptr) {
        return;  // not on X (offscreen): nothing to lose
    }
    // Xlib's display shares the socket of Qt's XCB connection.
    platform::watchDisplayConnection(XConnectionNumber(x11->display()));
    previousHandler = XSetIOErrorHandler(onIOError);
}

DisplayLossWatch::~DisplayLossWatch() {
    // Qt closes its connection after this, and its descriptor may then name something else:
    // a connection lost by now (a start that gives up over it) is remembered as lost.
    if (platform::displayLost()) {
        platform::noteDisplayLost();
    }
    platform::watchDisplayConnection(-1);
    if (previousHandler != nullptr) {
        XSetIOErrorHandler(previousHandler);
        previousHandler = nullptr;
    }
}

}  // namespace tesvano
