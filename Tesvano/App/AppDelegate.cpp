#include "Tesvano/App/AppDelegate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSystemTrayIcon>

#include "Platform/Log/Log.h"
#include "Tesvano/Menu/TrayAvailability.h"

namespace tesvano {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("AppDelegate");
    return logger;
}

}  // namespace

AppDelegate::AppDelegate(AppServices services, Hooks hooks)
    : hooks_(std::move(hooks)), appState_(std::make_unique<AppState>(std::move(services))) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::didFinishLaunching(bool isDefaultLaunch) {
    appState_->start();
    if (!isDefaultLaunch) {
        return;
    }
    // Started at login: never a window, even with the icon hidden.
    if (appState_->loginItem().isEnabled()) {
        log().debug("Launched with the login item enabled; Settings stays closed");
        return;
    }
    std::weak_ptr<int> alive = lifetime_;
    appState_->runtime().post(platform::Seconds(settingsDelay), [this, alive] {
        if (alive.expired() || openSettingsIfIconHidden()) {
            return;
        }
        trayWatch_ = connect(appState_.get(), &AppState::trayAvailableChanged, this, [this] {
            if (openSettingsIfIconHidden()) {
                disconnect(trayWatch_);
            }
        });
    });
}

bool AppDelegate::openSettingsIfIconHidden() {
    if (!isTrayMissing() && !appState_->trayIconHidden()) {
        return false;
    }
    // Without an icon the user has no other way in.
    if (appState_->openSettingsAction) {
        appState_->openSettingsAction();
    }
    return true;
}

bool AppDelegate::isTrayMissing() const {
    if (hooks_.isTrayMissing) {
        return hooks_.isTrayMissing();
    }
    return !isTrayAvailable();
}

void AppDelegate::reopen() {
    if (appState_->openSettingsAction) {
        appState_->openSettingsAction();
    }
}

URLCommandHandling& AppDelegate::urlHandler() {
    if (!urlHandler_) {
        urlHandler_ = hooks_.makeURLHandler ? hooks_.makeURLHandler(*appState_)
                                            : std::make_unique<URLCommandStandIn>();
    }
    return *urlHandler_;
}

void AppDelegate::openURLs(const QStringList& urls) {
    appState_->start();
    for (const QString& url : urls) {
        urlHandler().handle(url.toStdString());
    }
}

bool AppDelegate::shouldTerminateNow(bool terminationRequested, UpdateController::Phase phase,
                                     bool isSystemQuit, bool trayIconHidden) {
    if (terminationRequested || phase == UpdateController::Phase::installing || isSystemQuit) {
        return true;
    }
    return !trayIconHidden;
}

bool AppDelegate::approveTermination(TerminationSource source) {
    if (terminating_) {
        return true;
    }
    const bool hidden = isTrayMissing() || appState_->trayIconHidden();
    if (!shouldTerminateNow(appState_->terminationRequested(),
                            appState_->updateController().phase(),
                            source == TerminationSource::systemQuit, hidden)) {
        log().info(
            "Quit refused: no tray icon is shown, so Tesvano keeps running in the "
            "background; Settings offers Quit Tesvano");
        return false;
    }
    terminating_ = true;
    appState_->stop();
    return true;
}

bool AppDelegate::requestTermination(TerminationSource source) {
    const bool wasTerminating = terminating_;
    if (!approveTermination(source)) {
        return false;
    }
    if (!wasTerminating) {
        if (hooks_.quitApplication) {
            hooks_.quitApplication();
        } else {
            QCoreApplication::quit();
        }
    }
    return true;
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        // Our own requests arrive here already approved; anything else is the system's.
        return !approveTermination(TerminationSource::systemQuit);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tesvano
