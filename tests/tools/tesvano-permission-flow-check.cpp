// Runs the permission guide against a real X display and session bus, as the end-to-end
// test sets them up (Xvfb, openbox, a private D-Bus with the accessibility bus, a stand-in
// settings program on PATH), and prints one JSON line per step:
//   {"step":"below","ok":true,"panel":[x,y,w,h],"settings":[x,y,w,h]}
// Steps: the other application is in front, assistive technologies are off, the guide opens
// the settings program with the panel below its window, the panel follows a move and goes
// when the window closes, and after the switch is turned on the guide ends and the other
// application is in front again. Ends with status 0 when every step passed.
//   tesvano-permission-flow-check --editor-pid PID [--screenshot FILE]
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "PermissionFlow/Panels/FloatingDropPanel.h"
#include "PermissionFlow/PermissionFlowController.h"
#include "Platform/Accessibility/AssistiveTechnologyStatus.h"
#include "Platform/Workspace/DesktopEntryIndex.h"
#include "Platform/Workspace/X11WindowList.h"
#include "Platform/Workspace/X11Workspace.h"
#include "Tesvano/App/AppDisplay.h"
#include "Tesvano/App/QtRuntime.h"
#include "Tesvano/App/Resources.h"
#include "Tesvano/App/Symbols.h"
#include "TesvanoKit/Monitors/AccessibilityGrantWatcher.h"

// Last: Xlib's macros would break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

using namespace tesvano;
using PermissionFlow::Rect;

struct Step {
    std::string name;
    std::function<void()> begin;
    std::function<bool()> done;
    int timeoutMs = 10000;
};

std::string rectJSON(const std::optional<Rect>& r) {
    if (!r) {
        return "null";
    }
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "[%g,%g,%g,%g]", r->x, r->y, r->width, r->height);
    return buffer;
}

PermissionFlow::FloatingDropPanel* shownPanel() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* panel = qobject_cast<PermissionFlow::FloatingDropPanel*>(w);
        if (panel && panel->isVisible()) {
            return panel;
        }
    }
    return nullptr;
}

std::optional<Rect> panelFrame() {
    if (auto* p = shownPanel()) {
        const QRect g = p->geometry();
        return Rect{double(g.x()), double(g.y()), double(g.width()), double(g.height())};
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    initResources();
    QApplication::setWindowIcon(AppDisplay::ownAppIcon());
    std::int32_t editorPid = -1;
    QString screenshot;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QStringLiteral("--editor-pid")) {
            editorPid = args[i + 1].toInt();
        } else if (args[i] == QStringLiteral("--screenshot")) {
            screenshot = args[i + 1];
        }
    }

    QtRuntime runtime;
    const auto entries = platform::DesktopEntryIndex::scanStandardFolders();
    auto workspace = platform::X11Workspace::open(runtime, entries);
    auto windows = platform::X11WindowList::open(runtime);
    Display* display = XOpenDisplay(nullptr);
    if (!workspace || !windows || !display) {
        std::printf("{\"step\":\"start\",\"ok\":false}\n");
        return 2;
    }
    // A desktop colour behind the windows, for the screenshot.
    XSetWindowBackground(display, DefaultRootWindow(display), 0x3b5b7a);
    XClearWindow(display, DefaultRootWindow(display));
    XFlush(display);
    auto status = std::make_shared<platform::SessionBusAssistiveTechnologyStatus>(
        std::chrono::milliseconds(5000));
    PermissionFlow::PermissionFlowEnvironment environment{runtime, **workspace, **windows,
                                                          SystemSettings::Catalogue::current()};
    environment.assistiveTechnologies = status;
    // Whatever the settings program's process turns out to be, it ends with us.
    std::vector<std::int32_t> started;
    environment.launcher = [&started](const std::vector<std::string>& command) {
        auto pid = SystemSettings::launchDetached(command);
        if (pid) {
            started.push_back(*pid);
        }
        return pid;
    };
    if (const auto* own = entries.entry("tesvano")) {
        environment.mainApplicationEntry = own->path;
    }
    PermissionFlow::PermissionFlowController flow(
        environment, {}, [](PermissionFlow::PermissionFlowController& c) {
            return PermissionFlow::makeFloatingDropPanel(c, Symbols::icon);
        });
    // As the program's state does: the grant ends the flow and brings back the other one.
    AccessibilityGrantWatcher watcher(runtime, platform::Seconds(0.5),
                                      [status] { return status->isEnabled() == true; });
    bool tookFocus = false;
    QObject::connect(&application, &QApplication::focusWindowChanged,
                     [&](QWindow* w) { tookFocus = tookFocus || w != nullptr; });

    auto activePid = [&] {
        auto app = (*workspace)->activeApplication();
        return app ? app->processIdentifier : -1;
    };
    // Placed when the panel's top edge is on the window's bottom edge, right of the sidebar.
    auto placedBelow = [&] {
        const auto panel = panelFrame();
        const auto& frame = flow.tracker().currentFrame();
        auto* shown = shownPanel();
        return panel && frame && shown && !shown->isAnimatingLaunch() &&
               std::abs(panel->x - (frame->x + 230)) <= 1 &&
               std::abs(panel->y - frame->maxY()) <= 1;
    };
    auto openFlow = [&] {
        flow.open(PermissionFlow::PermissionFlowPane::accessibility, {}, Rect{40, 40, 32, 32});
        watcher.start([&flow] { flow.stop(true); });
    };
    auto settingsWindow = [&]() -> unsigned long {
        return flow.tracker().observedWindow().value_or(0);
    };
    std::optional<Rect> frameBeforeMove;
    auto editorInFront = [&] {
        if (activePid() == editorPid) {
            return true;
        }
        const std::int32_t editor[] = {editorPid};
        for (const auto& window : (*windows)->windows(editor)) {
            (*windows)->activate(window.id);
            break;
        }
        return false;
    };

    std::vector<Step> steps = {
        // The window manager usually gives a new window the focus, but not always when the
        // machine is busy: the user brings the editor forward, once its window is there.
        {"editor in front", [] {}, editorInFront},
        {"assistive technologies off", [] {}, [&] { return status->isEnabled() == false; }, 15000},
        {"below", openFlow, [&] { return placedBelow() && settingsWindow() != 0; }},
        {"screenshot",
         [&] {
             if (!screenshot.isEmpty()) {
                 QApplication::primaryScreen()->grabWindow(0).save(screenshot, "PNG");
             }
         },
         [] { return true; }},
        {"follows a move",
         [&] {
             frameBeforeMove = flow.tracker().currentFrame();
             XWindowAttributes a;
             XGetWindowAttributes(display, settingsWindow(), &a);
             Window child = 0;
             int x = 0;
             int y = 0;
             XTranslateCoordinates(display, settingsWindow(), DefaultRootWindow(display), 0, 0, &x,
                                   &y, &child);
             XMoveWindow(display, settingsWindow(), x + 120, y + 60);
             XFlush(display);
         },
         [&] { return placedBelow() && flow.tracker().currentFrame() != frameBeforeMove; }},
        {"gone when the window closes",
         [&] {
             XEvent e{};
             e.xclient.type = ClientMessage;
             e.xclient.window = settingsWindow();
             e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
             e.xclient.format = 32;
             e.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
             e.xclient.data.l[1] = CurrentTime;
             XSendEvent(display, settingsWindow(), False, NoEventMask, &e);
             XFlush(display);
         },
         [&] { return shownPanel() == nullptr && flow.panel() == nullptr; }},
        // Whether the window manager gives the focus back to the editor after the settings
        // window closed is its own business; the user brings the editor forward again, and
        // the next guide starts from there.
        {"editor in front again", [] {}, editorInFront},
        {"below again", openFlow, [&] { return placedBelow(); }},
        {"turned on",
         [&] {
             auto* panel = shownPanel();
             if (!panel) {
                 return;
             }
             panel->view()->confirmTurnOn = [](QWidget*) { return true; };
             if (auto* button = panel->view()->findChild<QPushButton*>(
                     QStringLiteral("turnOnAssistiveTechnologies"))) {
                 button->click();
             }
         },
         [&] { return status->isEnabled() == true; }},
        {"ended with the editor in front", [] {},
         [&] { return flow.panel() == nullptr && activePid() == editorPid; }},
        {"never took the focus", [] {}, [&] { return !tookFocus; }, 100},
    };

    int failures = 0;
    std::size_t index = 0;
    QElapsedTimer clock;
    QTimer ticker;
    auto report = [&](const Step& step, bool ok) {
        std::printf("{\"step\":\"%s\",\"ok\":%s,\"panel\":%s,\"settings\":%s,\"active\":%d}\n",
                    step.name.c_str(), ok ? "true" : "false", rectJSON(panelFrame()).c_str(),
                    rectJSON(flow.tracker().currentFrame()).c_str(), activePid());
        std::fflush(stdout);
    };
    auto begin = [&] {
        steps[index].begin();
        clock.start();
    };
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const Step& step = steps[index];
        const bool ok = step.done();
        if (!ok && clock.elapsed() < step.timeoutMs) {
            return;
        }
        report(step, ok);
        failures += ok ? 0 : 1;
        // A failed step leaves the rest without their premise.
        if (!ok || ++index == steps.size()) {
            ticker.stop();
            QApplication::exit(0);
            return;
        }
        begin();
    });
    begin();
    ticker.start(50);
    QApplication::exec();

    flow.stop(false);
    watcher.stop();
    // The stand-in settings programs we started end with us.
    for (const auto pid : started) {
        ::kill(pid, SIGTERM);
    }
    XCloseDisplay(display);
    return failures == 0 && index == steps.size() ? 0 : 1;
}
