#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

#include "Tesvano/App/AppState.h"
#include "Tesvano/Automation/URLCommandHandling.h"
#include "TesvanoKit/Updates/UpdateController.h"

namespace tesvano {

// Who asks the program to end.
enum class TerminationSource {
    // The Quit item, a quit key in one of our windows, the automation interface.
    request,
    // The system: SIGTERM, SIGINT, the desktop session ending.
    systemQuit,
};

// Owns the one AppState and the policies around it: start-up (and whether Settings opens by
// itself), the reopen of a second launch, opened URLs, and the one gate every way to quit
// passes through.
class AppDelegate final : public QObject {
public:
    static constexpr double settingsDelay = 1.0;

    struct Hooks {
        // True while the desktop shows no icon of ours for reasons of its own (no tray).
        // Default: no system tray available.
        std::function<bool()> isTrayMissing;
        // Ends the event loop once the gate has let a request through. Default:
        // QCoreApplication::quit.
        std::function<void()> quitApplication;
        // Makes the URL-command handler on first use. Default: the stand-in.
        std::function<std::unique_ptr<URLCommandHandling>(AppState&)> makeURLHandler;
    };

    explicit AppDelegate(AppServices services, Hooks hooks = {});
    ~AppDelegate() override;

    AppState& appState() { return *appState_; }

    // The application has finished launching. A launch to open URLs is not a default one.
    void didFinishLaunching(bool isDefaultLaunch);
    // Another launch without URLs: come forward and open Settings.
    void reopen();
    // Starts the state (so a URL that launched the program finds it running), then hands
    // each URL over in the order given.
    void openURLs(const QStringList& urls);

    // The quit gate. True when the program is ending (the loop has been asked to quit).
    bool requestTermination(TerminationSource source);
    bool isTerminating() const { return terminating_; }

    // The decision alone: a requested quit, an installing update and the system always end
    // the program; any other request is refused while the tray icon is hidden.
    static bool shouldTerminateNow(bool terminationRequested, UpdateController::Phase phase,
                                   bool isSystemQuit, bool trayIconHidden);

    bool isTrayMissing() const;
    URLCommandHandling& urlHandler();

    // Catches the quit event the session manager sends at log-out, so that it passes the
    // gate too. Install on the application object.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Answers whether it opened Settings.
    bool openSettingsIfIconHidden();
    bool approveTermination(TerminationSource source);

    Hooks hooks_;
    std::unique_ptr<AppState> appState_;
    std::unique_ptr<URLCommandHandling> urlHandler_;
    bool terminating_ = false;
    // A tray that proves missing after the start (a watcher that never shows the item) opens
    // Settings as a start without a tray does, once.
    QMetaObject::Connection trayWatch_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano
