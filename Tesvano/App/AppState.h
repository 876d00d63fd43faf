#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KeyboardShortcuts/Shortcut.h"
#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/Xkb/XkbNameTranslations.h"
#include "Tesvano/App/AppDisplay.h"
#include "Tesvano/Permissions/PermissionFlowController.h"
#include "Tesvano/Settings/SettingsTab.h"
#include "Tesvano/Windows/HostedWindowController.h"
#include "TesvanoKit/Automation/URLCommand.h"
#include "TesvanoKit/Backup/ConfigBackup.h"
#include "TesvanoKit/History/ActivationCountStore.h"
#include "TesvanoKit/History/LogStore.h"
#include "TesvanoKit/Languages/SupportedLanguage.h"
#include "TesvanoKit/Lock/LockEngine.h"
#include "TesvanoKit/LoginItem/LoginItemController.h"
#include "TesvanoKit/Monitors/AccessibilityGrantWatcher.h"
#include "TesvanoKit/Rules/RuleStore.h"
#include "TesvanoKit/Sources/SourceCycler.h"
#include "TesvanoKit/Updates/UpdateController.h"

namespace tesvano::platform {
class Accessibility;
class Defaults;
class LoginItemService;
class TextInputSources;
class GnomeShellExtension;
}  // namespace tesvano::platform

namespace tesvano {

// What the state runs on. The program passes the real backends; tests pass fakes.
struct AppServices {
    AppServices(platform::Runtime& theRuntime, platform::Defaults& theDefaults,
                platform::TextInputSources& theTextInput, platform::Workspace& theWorkspace,
                platform::Accessibility& theAccessibility,
                const platform::DesktopEntryIndex& theDesktopEntries,
                platform::LoginItemService& theLoginItems)
        : runtime(theRuntime),
          defaults(theDefaults),
          textInput(theTextInput),
          workspace(theWorkspace),
          accessibility(theAccessibility),
          desktopEntries(theDesktopEntries),
          loginItems(theLoginItems) {}

    platform::Runtime& runtime;
    platform::Defaults& defaults;
    platform::TextInputSources& textInput;
    platform::Workspace& workspace;
    platform::Accessibility& accessibility;
    const platform::DesktopEntryIndex& desktopEntries;
    platform::LoginItemService& loginItems;
    // The activation log: in memory only, or in this folder (default: its standard place).
    bool logInMemory = false;
    std::optional<std::filesystem::path> logFolder;
    // Collaborators the engine gets instead of its defaults (tests), and the URL reader.
    std::function<LockEngine::Parts()> engineParts;
    std::function<bool()> isSecureInputEnabled;
    // The updater on the event handler and delegate the update controller gives it (none: this
    // build has none), and the feed address this build checks (empty: none).
    UpdateController::MakeUpdater makeUpdater;
    std::string updateFeedURL;
    std::function<std::unique_ptr<PermissionFlowController>()> makePermissionFlow;
    // Why this session cannot give accessibility access at all; empty when it can.
    std::string accessibilityUnavailable;
    // Where the message catalogues of the keyboard layouts' names are; none: names stay as
    // the system gives them (in English).
    std::optional<std::filesystem::path> localeRoot =
        platform::XkbNameTranslations::standardLocaleRoot();
    // Our GNOME Shell extension, for the Permissions pane (none: the pane has no GNOME step).
    std::shared_ptr<platform::GnomeShellExtension> gnomeShellExtension;
    // Whether the desktop shows a system tray now (none: it does).
    std::function<bool()> isTrayAvailable;
};

// The one object the running program shares: the observable state every view reads, the
// owner of the stores, the engine and the auxiliary windows, and the only road by which a
// change of the configuration reaches the engine and the disk. Main thread only.
// Signals fire only when a value really changes, except configChanged after in-place edits.
class AppState final : public QObject {
    Q_OBJECT

public:
    static constexpr double logRetention = 86400.0;
    static constexpr double purgeInterval = 3600.0;
    static constexpr int urlReaderVisitBudget = 4000;

    explicit AppState(AppServices services, QObject* parent = nullptr);
    ~AppState() override;

    // Start-up, once; a second call does nothing.
    void start();
    // Shut-down at termination.
    void stop();
    void commitConfiguration(ActivationReason reason);

    // Tracked values.
    const LockConfiguration& config() const { return config_; }
    std::int64_t activationCount() const { return activationCount_; }
    const std::string& currentSourceName() const { return currentSourceName_; }
    const std::optional<std::string>& activeAppId() const { return activeAppId_; }
    const std::vector<InputSource>& availableSources() const { return availableSources_; }
    LoginItemState loginItemState() const { return loginItemState_; }
    bool accessibilityGranted() const { return accessibilityGranted_; }
    // Accessibility on this session: why it cannot be had at all (empty when it can).
    const std::string& accessibilityUnavailableReason() const {
        return services_.accessibilityUnavailable;
    }
    platform::GnomeShellExtension* gnomeShellExtension() const {
        return services_.gnomeShellExtension.get();
    }
    bool apiEnabled() const { return apiEnabled_; }
    bool trayIconHidden() const { return trayIconHidden_; }
    // Read now: a tray may come and go with the desktop's panel.
    bool trayAvailable() const { return !services_.isTrayAvailable || services_.isTrayAvailable(); }
    AppRuleMode newAppRuleMode() const { return newAppRuleMode_; }
    const std::optional<KeyboardShortcuts::Shortcut>& toggleLockShortcut() const {
        return toggleLockShortcut_;
    }
    const LanguagePreference& languagePreference() const { return languagePreference_; }
    SettingsTab settingsTab() const { return settingsTab_; }
    bool terminationRequested() const { return terminationRequested_; }

    // Why changes to the settings are not being kept, while that lasts: the settings window
    // says so, as the log does.
    std::optional<std::string> settingsSaveProblem() const;
    // Writes the settings now, for a caller that must say whether its change was kept.
    std::optional<std::string> saveSettingsNow();
    // Counts every stored change, so that a caller can tell whether an action made one.
    std::uint64_t settingsChangeCount() const;

    // Whole-value writers of tracked fields (panes bind to these).
    void setConfig(const LockConfiguration& configuration);
    void setSettingsTab(SettingsTab tab);
    void setTerminationRequested(bool requested);
    void setLoginItemState(LoginItemState state);

    SupportedLanguage effectiveLanguage() const;
    std::string effectiveLanguageCode() const;
    // A text key in the interface language.
    QString text(std::string_view key) const;

    // Configuration actions.
    void toggleLock();
    void lockToSource(const std::optional<InputSourceID>& source);
    void cycleDefaultSource(CycleDirection direction);
    void setDefaultSourceID(const std::optional<InputSourceID>& source);
    void setDefaultSource(const std::optional<InputSourceID>& source, RuleAction action);
    void upsertAppRule(const AppRule& rule);
    void removeAppRule(const std::string& appId);
    void removeAllAppRules();
    bool cycleAppSource(const std::string& appId, CycleDirection direction);
    void cycleActiveAppSource(CycleDirection direction);
    void removeActiveAppRule();
    void upsertURLRule(const URLRule& rule);
    void removeURLRule(const Uuid& id);
    void removeAllURLRules();
    void reorderURLRules(const std::vector<URLRule>& proposed);
    void setAddressBarFocusEnabled(bool enabled);
    void setAddressBarSourceID(const std::optional<InputSourceID>& source);

    // Queries.
    std::optional<InputSource> resolveSource(const SourceSelector& selector) const;
    std::optional<std::string> sourceName(const InputSourceID& id) const;
    // A source's name as the system gives it (a layout's in English), in the interface
    // language; a name no catalogue knows stays as it is.
    std::string displaySourceName(std::string_view name) const;
    // The active application's identity (desktop-entry id or "process:" key), if any.
    std::optional<std::string> activeIdentity() const;
    QUrl apiDocumentationURL() const;
    // Whether the URL rule is passed over because matching its pattern took too long; such a
    // rule stays skipped until its pattern is edited.
    bool isURLRuleSkipped(const Uuid& id) const;
    // The selection the automation interface asks for (the engine's manual selection).
    void selectSource(const InputSourceID& id);

    // Application settings.
    void setApiEnabled(bool enabled);
    void setTrayIconHidden(bool hidden);
    // A tray host or an XEmbed tray came or went: whoever shows trayAvailable() hears of it
    // when the answer changed.
    void trayHostsChanged();
    void setNewAppRuleMode(AppRuleMode mode);
    void setLanguagePreference(const LanguagePreference& preference);
    std::optional<LoginItemError> setLoginItemEnabled(bool enabled);

    // Backup: the document of the current rules, with the names of the available sources.
    ConfigBackup makeBackupDocument() const;

    // Updates.
    void showUpdateWindow();
    void presentUpdateCheckResult(const UpdateCheckOutcome& outcome);
    // The update channel ("usesBetaChannel"); a change restarts the update cycle.
    bool usesBetaChannel() const;
    void setUsesBetaChannel(bool beta);

    // Engine callbacks and accessibility.
    void handleActivation(const ActivationEvent& event);
    void handleCurrentSourceChange(const std::string& name);
    void handleActiveAppChange(const std::optional<std::string>& appId);
    void handleSelectableSourcesChange(const std::vector<InputSource>& sources);
    void shortcutDidChange();
    void refreshAccessibilityStatus();
    void accessibilityDidGrant();

    // Owned parts.
    RuleStore& store() { return store_; }
    LogStore& logStore() { return *logStore_; }
    LoginItemController& loginItem() { return loginItem_; }
    UpdateController& updateController() { return *updateController_; }
    AccessibilityGrantWatcher& accessibilityWatcher() { return accessibilityWatcher_; }
    // The permission guide (AppStatePermissions.cpp): made on first use, then kept.
    PermissionFlowController& permissionFlow();
    // The desktop entries to offer for a grant: the program's own, when it is installed.
    std::vector<std::string> ownApplicationEntries() const;
    LockEngine* engine() { return engine_.get(); }
    const AppDisplay& display() const { return display_; }
    HostedWindowController& aboutWindow();
    HostedWindowController& updateWindow();
    platform::Runtime& runtime() { return services_.runtime; }
    platform::Defaults& defaults() { return services_.defaults; }

    // Content of the auxiliary windows, supplied by the program (none: an empty window).
    std::function<QWidget*(std::function<void()> close)> makeAboutContent;
    std::function<QWidget*(std::function<void()> close)> makeUpdateContent;
    // Shows an alert; by default a message box. Tests replace it.
    struct Alert {
        bool warning = false;
        QString message;
        QString informativeText;
    };
    std::function<void(const Alert&)> presentAlert;
    // Installed by the program: opens the Settings window.
    std::function<void()> openSettingsAction;

signals:
    void configChanged();
    void activationCountChanged();
    void currentSourceNameChanged();
    void activeAppIdChanged();
    void availableSourcesChanged();
    void loginItemStateChanged();
    void accessibilityGrantedChanged();
    void apiEnabledChanged();
    void trayIconHiddenChanged();
    void trayAvailableChanged();
    void newAppRuleModeChanged();
    void toggleLockShortcutChanged();
    void languagePreferenceChanged();
    void settingsTabChanged();
    void terminationRequestedChanged();
    void updateStateChanged();
    void skippedURLRulesChanged();
    void settingsSaveProblemChanged();

private:
    void configWasEdited();
    void schedulePurge();
    std::vector<InputSourceID> availableSourceIDs() const;
    void applyInterfaceLanguage();
    // The names of the sources in the interface language, from the engine's.
    void translateSourceNames();

    template <typename T, typename Signal>
    void assign(T& field, const T& value, Signal signal) {
        if (field == value) {
            return;
        }
        field = value;
        emit(this->*signal)();
    }

    // URL rules skipped as too slow to match (AppStateSkippedURLRules.cpp).
    void watchSkippedURLRules();
    void refreshSkippedURLRules();
    platform::Registration exhaustionObserver_;
    std::vector<Uuid> skippedURLRules_;

    AppServices services_;
    LockConfiguration config_ = LockConfiguration::defaultConfiguration();
    std::int64_t activationCount_ = 0;
    std::string currentSourceName_ = "\u2014";
    std::optional<std::string> activeAppId_;
    std::vector<InputSource> availableSources_;
    // As the engine has them, and the layouts' names in the interface language.
    std::vector<InputSource> engineSources_;
    std::string engineCurrentSourceName_;
    platform::XkbNameTranslations layoutNames_;
    LoginItemState loginItemState_ = LoginItemState::unknown;
    bool accessibilityGranted_ = false;
    bool apiEnabled_ = false;
    bool trayIconHidden_ = false;
    // The answer last told; none before the first change was heard of.
    std::optional<bool> trayAvailable_;
    AppRuleMode newAppRuleMode_ = AppRuleMode::locked;
    std::optional<KeyboardShortcuts::Shortcut> toggleLockShortcut_;
    std::unique_ptr<UpdateController> updateController_;
    std::unique_ptr<HostedWindowController> aboutWindow_;
    std::unique_ptr<HostedWindowController> updateWindow_;
    RuleStore store_;
    ActivationCountStore activationStore_;
    LoginItemController loginItem_;
    std::unique_ptr<LogStore> logStore_;
    std::unique_ptr<LockEngine> engine_;
    platform::Registration purgeTask_;
    platform::Registration shortcutObserver_;
    std::unique_ptr<PermissionFlowController> permissionFlow_;
    AccessibilityGrantWatcher accessibilityWatcher_;
    // Assistive technologies switched on or off anywhere.
    platform::Registration trustObserver_;
    LanguagePreference languagePreference_ = LanguagePreference::system();
    SettingsTab settingsTab_ = SettingsTab::general;
    bool terminationRequested_ = false;
    AppDisplay display_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano
