#include <QEvent>

#include "Tesvano/App/AppDelegate.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

using platform::Seconds;
using Phase = UpdateController::Phase;

class RecordingHandler final : public URLCommandHandling {
public:
    explicit RecordingHandler(std::vector<std::string>& log) : log_(log) {}
    void handle(const std::string& url) override { log_.push_back(url); }

private:
    std::vector<std::string>& log_;
};

class AppDelegateTest : public test::AppFixture {
protected:
    AppDelegate& makeDelegate() {
        AppDelegate::Hooks hooks;
        hooks.isTrayMissing = [this] { return trayMissing; };
        hooks.quitApplication = [this] { ++quits; };
        hooks.makeURLHandler = [this](AppState& s) -> std::unique_ptr<URLCommandHandling> {
            ++handlersMade;
            EXPECT_NE(s.engine(), nullptr) << "started before the first URL";
            return std::make_unique<RecordingHandler>(handled);
        };
        AppServices s = services();
        s.isTrayAvailable = [this] { return !trayMissing; };
        delegate = std::make_unique<AppDelegate>(std::move(s), hooks);
        delegate->appState().openSettingsAction = [this] { ++settingsOpened; };
        return *delegate;
    }

    bool trayMissing = false;
    int quits = 0;
    int settingsOpened = 0;
    int handlersMade = 0;
    std::vector<std::string> handled;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, TheQuitDecisionRefusesOrdinaryRequestsOnlyWhileTheIconIsHidden) {
    for (bool hidden : {false, true}) {
        EXPECT_TRUE(AppDelegate::shouldTerminateNow(true, Phase::idle, false, hidden));
        EXPECT_TRUE(AppDelegate::shouldTerminateNow(false, Phase::installing, false, hidden));
        EXPECT_TRUE(AppDelegate::shouldTerminateNow(false, Phase::idle, true, hidden));
        EXPECT_EQ(AppDelegate::shouldTerminateNow(false, Phase::readyToInstall, false, hidden),
                  !hidden);
    }
}

TEST_F(AppDelegateTest, EveryWayToQuitPassesOneGateThatEndsTheProgramOnce) {
    auto& d = makeDelegate();
    d.didFinishLaunching(true);
    d.appState().setTrayIconHidden(true);
    d.appState().accessibilityWatcher().start([] {});

    EXPECT_FALSE(d.requestTermination(TerminationSource::request)) << "Ctrl+Q, icon hidden";
    EXPECT_TRUE(d.appState().accessibilityWatcher().isPolling()) << "nothing stopped";
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(d.isTerminating());

    d.appState().updateController().model().setPhase(UpdatePhase::of(Phase::installing));
    EXPECT_TRUE(d.requestTermination(TerminationSource::request));
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(d.isTerminating());
    EXPECT_FALSE(d.appState().accessibilityWatcher().isPolling()) << "the state was stopped";

    // Later requests and the quit event that follows pass without a second shut-down.
    EXPECT_TRUE(d.requestTermination(TerminationSource::systemQuit));
    QEvent quit(QEvent::Quit);
    EXPECT_FALSE(d.eventFilter(QCoreApplication::instance(), &quit));
    EXPECT_EQ(quits, 1);
}

TEST_F(AppDelegateTest, TheQuitItemAndTheSystemEndTheProgramWithTheIconHidden) {
    auto& d = makeDelegate();
    d.didFinishLaunching(true);
    d.appState().setTrayIconHidden(true);
    d.appState().setTerminationRequested(true);
    EXPECT_TRUE(d.requestTermination(TerminationSource::request));
    EXPECT_EQ(quits, 1);

    delegate.reset();
    auto& other = makeDelegate();
    other.appState().setTrayIconHidden(true);
    // The session manager's quit event at log-out is the system's.
    QEvent quit(QEvent::Quit);
    EXPECT_FALSE(other.eventFilter(QCoreApplication::instance(), &quit));
    EXPECT_TRUE(other.isTerminating());
    EXPECT_EQ(quits, 1) << "the event already ends the loop";
}

TEST_F(AppDelegateTest, SettingsOpenAboutOneSecondAfterALaunchWithoutAnIcon) {
    auto& d = makeDelegate();
    d.appState().setTrayIconHidden(true);
    d.didFinishLaunching(true);
    loop.advance(Seconds(0.99));
    EXPECT_EQ(settingsOpened, 0);
    loop.advance(Seconds(0.02));
    EXPECT_EQ(settingsOpened, 1);
    loop.runUntilIdle(50);
    EXPECT_EQ(settingsOpened, 1);
}

TEST_F(AppDelegateTest, SettingsStayClosedAtLoginForURLsAndWithAVisibleIcon) {
    // No tray on the desktop counts as a hidden icon.
    trayMissing = true;
    makeDelegate().didFinishLaunching(true);
    loop.advance(Seconds(1.5));
    EXPECT_EQ(settingsOpened, 1);

    delegate.reset();
    settingsOpened = 0;
    trayMissing = false;
    makeDelegate().didFinishLaunching(true);
    loop.advance(Seconds(1.5));
    EXPECT_EQ(settingsOpened, 0) << "icon shown";

    delegate.reset();
    defaults.set("menuBarIconHidden", true);
    loginItems.rawStatus = platform::LoginItemService::enabled;
    makeDelegate().didFinishLaunching(true);
    loop.advance(Seconds(1.5));
    EXPECT_EQ(settingsOpened, 0) << "launched at login";

    delegate.reset();
    loginItems.rawStatus = platform::LoginItemService::notRegistered;
    makeDelegate().didFinishLaunching(false);
    loop.advance(Seconds(1.5));
    EXPECT_EQ(settingsOpened, 0) << "launched to open a URL";

    // The delayed open holds the delegate weakly.
    makeDelegate().didFinishLaunching(true);
    delegate.reset();
    loop.advance(Seconds(1.5));
    EXPECT_EQ(settingsOpened, 0);
}

// A watcher that never shows the item (GNOME's at login) leaves the program with no icon after
// a start that found a tray: Settings opens then as at a start without one, once.
TEST_F(AppDelegateTest, SettingsOpenOnceWhenTheTrayProvesMissingAfterTheStart) {
    auto& d = makeDelegate();
    d.didFinishLaunching(true);
    loop.advance(Seconds(1.5));
    d.appState().trayHostsChanged();
    EXPECT_EQ(settingsOpened, 0);
    trayMissing = true;
    d.appState().trayHostsChanged();
    EXPECT_EQ(settingsOpened, 1);
    trayMissing = false;
    d.appState().trayHostsChanged();
    trayMissing = true;
    d.appState().trayHostsChanged();
    EXPECT_EQ(settingsOpened, 1) << "once";

    // At login the program opens nothing by itself, as without a tray.
    delegate.reset();
    settingsOpened = 0;
    trayMissing = false;
    loginItems.rawStatus = platform::LoginItemService::enabled;
    makeDelegate().didFinishLaunching(true);
    loop.advance(Seconds(1.5));
    trayMissing = true;
    delegate->appState().trayHostsChanged();
    EXPECT_EQ(settingsOpened, 0);
}

TEST_F(AppDelegateTest, URLsStartTheStateAndGoInOrderToOneHandlerAndReopenOpensSettings) {
    auto& d = makeDelegate();
    d.openURLs({QStringLiteral("tesvano://ping"), QStringLiteral("tesvano://status?x=%20")});
    d.openURLs({QStringLiteral("tesvano://toggle")});
    EXPECT_EQ(handled, (std::vector<std::string>{"tesvano://ping", "tesvano://status?x=%20",
                                                 "tesvano://toggle"}));
    EXPECT_EQ(handlersMade, 1);
    d.reopen();
    EXPECT_EQ(settingsOpened, 1);
}

}  // namespace
}  // namespace tesvano
