#include "Tesvano/App/Program.h"

#include "TesvanoKit/Languages/TextKey.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QSessionManager>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "KeyboardShortcuts/Library.h"
#include "KeyboardShortcuts/Recorder/MainMenu.h"
#include "KeyboardShortcuts/Recorder/MenuModeFilter.h"
#include "PermissionFlow/PermissionStatus.h"
#include "Platform/Accessibility/AssistiveTechnologyStatus.h"
#include "Platform/Accessibility/AtspiAccessibility.h"
#include "Platform/Accessibility/NoAccessibility.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/X11HotKeys.h"
#include "Platform/Log/Log.h"
#include "Platform/LoginItems/LoginItemService.h"
#include "Platform/TextInput/GnomeShell/GnomeShellExtension.h"
#include "Platform/TextInput/SessionTextInputSources.h"
#include "Platform/Workspace/DesktopEntryIndex.h"
#include "Platform/Workspace/TrayHosts.h"
#include "Platform/Workspace/X11WindowList.h"
#include "Platform/Workspace/X11Workspace.h"
#include "Tesvano/App/AppDelegate.h"
#include "Tesvano/App/AppDisplay.h"
#include "Tesvano/App/ApplicationFolderWatcher.h"
#include "Tesvano/App/BackgroundLaunch.h"
#include "Tesvano/App/DataLock.h"
#include "Tesvano/App/DisplayLoss.h"
#include "Tesvano/App/LaunchArguments.h"
#include "Tesvano/App/QtRuntime.h"
#include "Tesvano/App/QuitSignals.h"
#include "Tesvano/App/Resources.h"
#include "Tesvano/App/SingleInstance.h"
#include "Tesvano/App/URLDeliveryQueue.h"
#include "Tesvano/Automation/URLCommandHandler.h"
#include "Tesvano/Menu/StatusMenu.h"
#include "Tesvano/Menu/TrayAvailability.h"
#include "Tesvano/Menu/TrayIcon.h"
#include "Tesvano/Permissions/GuidedPermissionFlow.h"
#include "Tesvano/Settings/Shortcuts/ShortcutsSettingsPane.h"
#include "Tesvano/Updates/ProgramUpdater.h"
#include "Tesvano/Updates/QtHttpTransport.h"
#include "Tesvano/Updates/UpdateWindowView.h"
#include "Tesvano/Windows/AboutView.h"
#include "TesvanoKit/Rules/RuleStore.h"

namespace tesvano::Program {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("Program");
    return logger;
}

// Standard error even where a journal exists ($TESVANO_LOG=stderr): for a terminal session
// and for the end-to-end tests, which read what the program says.
class StderrLogSink final : public platform::LogSink {
public:
    void write(const platform::LogRecord& record) override {
        std::fprintf(stderr, "tesvano[%s] %s\n", record.category.c_str(), record.message.c_str());
        std::fflush(stderr);
    }
};

// Qt and Xlib end the process with exit() when the X connection breaks, past every way of
// quitting the delegate sees; the settings are written on the way out even then.
platform::FileDefaults* defaultsAtExit = nullptr;

void flushSettingsAtExit() {
    if (defaultsAtExit != nullptr) {
        defaultsAtExit->flush();
    }
}

// Points the exit hook at the settings while they live.
class SettingsAtExit {
public:
    explicit SettingsAtExit(platform::FileDefaults& defaults) {
        static const bool registered = std::atexit(flushSettingsAtExit) == 0;
        if (!registered) {
            log().error("Could not arrange to save the settings when the display goes away");
        }
        defaultsAtExit = &defaults;
    }
    ~SettingsAtExit() { defaultsAtExit = nullptr; }
    SettingsAtExit(const SettingsAtExit&) = delete;
    SettingsAtExit& operator=(const SettingsAtExit&) = delete;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "tesvano: %s\n", message.c_str());
    return 1;
}

QStringList toQt(const std::vector<std::string>& urls) {
    QStringList out;
    for (const auto& url : urls) {
        out.push_back(QString::fromStdString(url));
    }
    return out;
}

// AT-SPI when the session has its bus and Qt runs on GLib's loop (libatspi needs both);
// otherwise why not, in words for the Permissions pane.
std::expected<std::unique_ptr<platform::AtspiAccessibility>, std::string> openAccessibility(
    platform::Runtime& runtime, platform::AssistiveTechnologyStatus& status) {
    if (!status.isEnabled()) {
        return std::unexpected(
            N_("This session has no accessibility bus (AT-SPI), so browsers and launchers cannot "
               "be read. Install at-spi2-core and log in again."));
    }
    const auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib")) {
        return std::unexpected(
            N_("Qt runs without the GLib event loop here (is QT_NO_GLIB set?), which the "
               "accessibility bus needs."));
    }
    return platform::AtspiAccessibility::open(runtime, status);
}

}  // namespace

SettingsWindow::PaneFactories settingsPanes() {
    auto panes = SettingsWindow::defaultPanes();
    panes[static_cast<std::size_t>(SettingsTab::shortcuts)] = [](AppState& s) -> QWidget* {
        return new ShortcutsSettingsPane(s);
    };
    return panes;
}

namespace {

// The automation interface as the delegate sees it.
class URLCommands final : public URLCommandHandling {
public:
    URLCommands(AppState& state, std::function<void()> requestQuit) : handler_(state) {
        handler_.requestQuit = std::move(requestQuit);
    }
    void handle(const std::string& url) override { handler_.handle(url); }

private:
    URLCommandHandler handler_;
};

}  // namespace

int main(int argc, char** argv) {
    if (const char* sink = std::getenv("TESVANO_LOG"); sink && std::string_view(sink) == "stderr") {
        platform::setLogSink(std::make_shared<StderrLogSink>());
    }
    auto arguments = LaunchArguments::parse(argc, argv);
    if (!arguments) {
        std::fprintf(stderr, "tesvano: %s\n", arguments.error().c_str());
        return 2;
    }
    if (arguments->showHelp) {
        std::error_code ec;
        const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
        const auto documentation = LaunchArguments::documentationFolder(program.parent_path());
        std::fputs(LaunchArguments::usage(documentation).c_str(), stdout);
        return 0;
    }
    if (arguments->showVersion) {
        std::printf("Tesvano %s\n", ProgramInfo::version().c_str());
        return 0;
    }

    // A second launch hands its URLs (or a reopen) to the running one and is done.
    auto instance = SingleInstance::claim(SingleInstance::defaultFolder());
    if (!instance) {
        return fail(instance.error());
    }
    if (!(*instance)->isPrimary()) {
        const auto handed = (*instance)->handOver(arguments->urls);
        if (!handed) {
            return fail(handed.error());
        }
        if (*handed == SingleInstance::HandOver::delivered) {
            return 0;
        }
        // The copy that held the lock ended while this launch waited: this one runs instead.
    }
    // The settings are this copy's alone for its whole life. A copy that holds them but did
    // not answer above runs with another runtime folder; nothing here may touch its data.
    const auto settingsPath = platform::FileDefaults::standardPath();
    auto dataLock = DataLock::acquire(DataLock::pathFor(settingsPath));
    // A copy killed a moment ago lets go of its files one after the other: the instance lock
    // first, this one just after.
    for (int i = 0; i < 20 && dataLock && !*dataLock; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        dataLock = DataLock::acquire(DataLock::pathFor(settingsPath));
    }
    // A folder that is read-only or full cannot hold the lock; the settings may still be read,
    // and changes then stay in memory rather than race another copy on the file.
    std::optional<std::string> settingsInMemory;
    if (!dataLock) {
        settingsInMemory = dataLock.error();
    } else if (!*dataLock) {
        return fail("another Tesvano is already running with the settings in " +
                    settingsPath.parent_path().string() + ", but it does not answer at " +
                    (*instance)->socketPath().string() +
                    " (was it started with another XDG_RUNTIME_DIR?). Nothing was changed.");
    }
    // A new version's start is counted; one whose earlier start never confirmed is rolled back
    // and the previous version takes over this launch.
    const bool onProbation = ProgramUpdater::checkStartup(argc, argv);
    // Started for commands (by the desktop's URL opener, which waits for us): Tesvano goes on
    // in the background and this launch returns once the commands are taken. Before any
    // thread is started.
    std::optional<BackgroundLaunch> background;
    if (!arguments->isDefaultLaunch()) {
        background.emplace(BackgroundLaunch::detach());
        // The caller's terminal hears of trouble only, not of the start-up's progress.
        if (const char* sink = std::getenv("TESVANO_LOG");
            !sink || std::string_view(sink) != "stderr") {
            platform::setStandardErrorThreshold(platform::LogLevel::warning);
        }
    }

    // Every backend below talks to an X server; the session may offer Wayland to Qt too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            return fail("no X display: DISPLAY is not set. Tesvano needs an X11 session.");
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication application(argc, argv);
    // Qt ends the program when its X connection breaks: that end is the session's.
    DisplayLossWatch displayLoss;
    initResources();
    QApplication::setApplicationName(QStringLiteral("Tesvano"));
    QApplication::setApplicationVersion(QString::fromStdString(ProgramInfo::version()));
    QGuiApplication::setDesktopFileName(QStringLiteral("tesvano"));
    QApplication::setWindowIcon(AppDisplay::ownAppIcon());
    // The program lives in the tray; closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    QtRuntime runtime;
    if (onProbation) {
        ProgramUpdater::confirmAfter(runtime);
    }
    // A file is judged by what the start writes back: its rules in their current form.
    platform::FileDefaults defaults(settingsPath,
                                    {.startRewrite = RuleStore::rewriteStandardAsStartWould});
    if (settingsInMemory) {
        defaults.keepChangesInMemory(*settingsInMemory);
    }
    // A burst of changes (an activation counted on every window switch) is one write; a
    // crash loses at most the last second.
    defaults.deferWrites(runtime, platform::Seconds(1.0));
    SettingsAtExit settingsAtExit(defaults);
    // On GNOME through the shell (our extension), elsewhere the X server's layout groups.
    auto textInput = platform::openSessionTextInputSources(runtime);
    if (!textInput) {
        return fail("cannot read the keyboard layouts: " + textInput.error());
    }
    platform::DesktopEntryIndex entries = platform::DesktopEntryIndex::scanStandardFolders();
    auto workspace = platform::X11Workspace::open(runtime, entries);
    if (!workspace) {
        return fail("cannot watch the desktop's windows: " + workspace.error());
    }
    // Browsers, launchers and password fields are read over AT-SPI; without it those features
    // stay off and the Permissions pane says why.
    auto assistiveTechnologies = std::make_shared<platform::SessionBusAssistiveTechnologyStatus>();
    platform::NoAccessibility noAccessibility;
    auto atspi = openAccessibility(runtime, *assistiveTechnologies);
    if (!atspi) {
        log().notice("accessibility off: %{public}s", atspi.error());
    }
    platform::Accessibility& accessibility =
        atspi ? static_cast<platform::Accessibility&>(**atspi) : noAccessibility;
    // The permission guide follows the settings program's window on a connection of its own.
    auto windowList = platform::X11WindowList::open(runtime);
    if (!windowList) {
        return fail("cannot follow the desktop's windows: " + windowList.error());
    }
    PermissionFlow::PermissionStatusRegistry::registerAll(
        PermissionFlow::PermissionStatusRegistry::standardTable(assistiveTechnologies,
                                                                PermissionFlow::readGSetting));
    platform::XdgAutostartLoginItem loginItems = ProgramUpdater::loginItem();
    auto hotKeys = platform::X11HotKeys::open(runtime);
    if (!hotKeys) {
        return fail("cannot register global shortcuts: " + hotKeys.error());
    }
    KeyboardShortcuts::Library shortcuts(defaults, **hotKeys, **hotKeys);
    // While a menu of ours is open the grabs are given back and the menu's keys dispatched.
    KeyboardShortcuts::MenuModeFilter menuMode(&application);

    AppServices services(runtime, defaults, **textInput, **workspace, accessibility, entries,
                         loginItems);
    services.gnomeShellExtension = std::make_shared<platform::SessionGnomeShellExtension>();
    // A watcher that does not show our item is no tray either.
    TrayIcon* shownTray = nullptr;
    services.isTrayAvailable = [&shownTray] {
        return isTrayAvailable() && (shownTray == nullptr || shownTray->isReachable());
    };
    services.makePermissionFlow = [&]() -> std::unique_ptr<PermissionFlowController> {
        PermissionFlow::PermissionFlowEnvironment environment{runtime, **workspace, **windowList,
                                                              SystemSettings::Catalogue::current()};
        environment.assistiveTechnologies = assistiveTechnologies;
        if (const auto* own = entries.entry("tesvano")) {
            environment.mainApplicationEntry = own->path;
        }
        return std::make_unique<GuidedPermissionFlow>(std::move(environment));
    };
    if (atspi) {
        services.isSecureInputEnabled = [ax = atspi->get()] {
            return ax->focusedElementIsPasswordField();
        };
    } else {
        services.accessibilityUnavailable = atspi.error();
    }
    AppDelegate* running = nullptr;
    // Updates: our appcast updater over Qt Network; a build without a feed checks nothing.
    QtHttpTransport updateTransport;
    services.updateFeedURL = ProgramUpdater::feedURL();
    services.makeUpdater = ProgramUpdater::make(runtime, defaults, updateTransport, [&running] {
        if (running) {
            running->requestTermination(TerminationSource::request);
        }
    });
    AppDelegate::Hooks hooks;
    hooks.isTrayMissing = [&running] { return running && !running->appState().trayAvailable(); };
    // Every way of quitting passes the delegate's gate and ends here.
    hooks.quitApplication = [&defaults] {
        defaults.flush();
        QCoreApplication::quit();
    };
    hooks.makeURLHandler = [&running](AppState& s) -> std::unique_ptr<URLCommandHandling> {
        return std::make_unique<URLCommands>(s, [&running] {
            if (running) {
                running->requestTermination(TerminationSource::request);
            }
        });
    };
    AppDelegate delegate(std::move(services), std::move(hooks));
    running = &delegate;
    AppState& state = delegate.appState();
    application.installEventFilter(&delegate);
    state.makeAboutContent = [&state](const std::function<void()>&) -> QWidget* {
        return new AboutView(state);
    };
    state.makeUpdateContent = [&state](std::function<void()> close) -> QWidget* {
        return new UpdateWindowView(state, std::move(close));
    };

    StatusMenu menu(state,
                    [&delegate] { delegate.requestTermination(TerminationSource::request); });
    TrayIcon trayIcon(state, menu);
    shownTray = &trayIcon;
    struct ForgetTray {
        TrayIcon*& tray;
        ~ForgetTray() { tray = nullptr; }
    } forgetTray{shownTray};
    // Trays that come or go while the program runs (a panel started late) reach the panes;
    // a tray's new colours reach the icon.
    auto trayHosts = platform::TrayHostWatcher::open(runtime, [&state, &trayIcon] {
        state.trayHostsChanged();
        trayIcon.panelChanged();
    });
    if (!trayHosts) {
        log().notice("%{public}s", trayHosts.error());
    }
    // The recorder refuses combinations the menu already uses.
    KeyboardShortcuts::setMainMenuProvider([m = QPointer<QMenu>(menu.menu())] {
        return m ? KeyboardShortcuts::menuItems(*m) : std::vector<KeyboardShortcuts::MenuItem>{};
    });

    std::unique_ptr<SettingsWindow> settings;
    state.openSettingsAction = [&] {
        if (!settings) {
            settings = std::make_unique<SettingsWindow>(state, settingsPanes());
            settings->onQuitKey = [&delegate] {
                return delegate.requestTermination(TerminationSource::request);
            };
        }
        settings->present();
    };

    // Applications installed or removed while the program runs: their names and icons, and
    // the identity of their windows, without a restart.
    ApplicationFolderWatcher applicationFolders(
        platform::DesktopEntryIndex::standardApplicationFolders(), [&entries, &workspace] {
            entries = platform::DesktopEntryIndex::scanStandardFolders();
            (*workspace)->setDesktopEntries(entries);
            log().debug("Desktop entries read again: %d",
                        static_cast<int>(entries.entries().size()));
        });

    QuitSignals quitSignals(
        runtime, [&delegate](int) { delegate.requestTermination(TerminationSource::systemQuit); });
    // The login item starts the program at login; a session restart would start it twice.
    QObject::connect(&application, &QGuiApplication::commitDataRequest,
                     [&defaults](QSessionManager& manager) {
                         manager.setRestartHint(QSessionManager::RestartNever);
                         // The session may end the process without a quit of its own.
                         defaults.flush();
                     });

    // A long hand-over is handled a slice per turn of the loop, in order; what waits is
    // bounded, and a launch that gave up waiting has its message withdrawn.
    URLDeliveryQueue handedOver(runtime, [&delegate](std::vector<std::string> urls) {
        if (urls.empty()) {
            delegate.reopen();
        } else {
            delegate.openURLs(toQt(urls));
        }
    });
    SingleInstance::Receiver receiver;
    receiver.admit = [&handedOver](const std::vector<std::string>& urls) {
        return handedOver.reserve(URLDeliveryQueue::cost(urls));
    };
    receiver.deliver = [&handedOver](std::vector<std::string> urls) {
        handedOver.push(std::move(urls));
    };
    receiver.withdraw = [&handedOver](const std::vector<std::string>& urls) {
        handedOver.release(URLDeliveryQueue::cost(urls));
    };
    if (auto listening = (*instance)->listen(std::move(receiver)); !listening) {
        log().error("Later launches cannot reach this one: %{public}s", listening.error());
    }

    // From within the run loop: accessibility reads over AT-SPI are made only there.
    runtime.post(platform::Seconds(0), [&delegate, &arguments, &background] {
        delegate.didFinishLaunching(arguments->isDefaultLaunch());
        if (!arguments->isDefaultLaunch()) {
            delegate.openURLs(toQt(arguments->urls));
        }
        log().info("Tesvano %{public}s is running", ProgramInfo::version());
        if (background) {
            background->taken();
        }
    });

    const int status = QApplication::exec();
    defaults.flush();
    ProgramUpdater::confirmStart();
    // Windows go before the state they show.
    settings.reset();
    return status;
}

}  // namespace tesvano::Program
