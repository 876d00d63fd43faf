#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Runtime/Runtime.h"
#include "TesvanoKit/History/ActivationEvent.h"
#include "TesvanoKit/Lock/LockController.h"
#include "TesvanoKit/Monitors/ActiveAppMonitoring.h"
#include "TesvanoKit/Monitors/AddressBarFocusMonitoring.h"
#include "TesvanoKit/Monitors/BrowserURLProviding.h"
#include "TesvanoKit/Monitors/FloatingAppMonitoring.h"
#include "TesvanoKit/Rules/LockConfiguration.h"
#include "TesvanoKit/Sources/InputSourceChangeObserver.h"
#include "TesvanoKit/Sources/InputSourceProviding.h"

namespace tesvano::platform {
class Accessibility;
class TextInputSources;
class Workspace;
}  // namespace tesvano::platform

namespace tesvano {

// Joins the event sources to the rules and the lock: on every change of the active
// application, launcher overlay, address-bar focus or browser URL it resolves the rules and
// turns the answer into a locked target, a one-shot switch fired once per context, or a
// release. Main thread only.
class LockEngine {
public:
    // What the engine runs on; the default collaborators are made from the platform objects.
    struct Parts {
        std::unique_ptr<InputSourceProviding> provider;
        std::unique_ptr<ActiveAppMonitoring> appMonitor;
        std::unique_ptr<FloatingAppMonitoring> floatingAppMonitor;
        std::unique_ptr<AddressBarFocusMonitoring> addressBarMonitor;
        std::unique_ptr<BrowserURLProviding> urlProvider;  // none: URL rules never apply
    };

    static constexpr double urlPollInterval = 1.5;
    static constexpr int addressBarAncestorDepth = 12;

    // Default collaborators (provider over the text-input layer, activation monitor with the
    // 0.04 s delay, launcher and address-bar monitors on the accessibility layer) for the
    // parts left empty.
    static Parts defaultParts(Parts given, platform::Runtime& runtime,
                              platform::TextInputSources& textInput, platform::Workspace& workspace,
                              platform::Accessibility& accessibility);

    LockEngine(Parts parts, platform::Runtime& runtime, platform::TextInputSources& textInput,
               LockController::SecureInputProbe isSecureInputEnabled = {});
    ~LockEngine();
    LockEngine(const LockEngine&) = delete;
    LockEngine& operator=(const LockEngine&) = delete;

    void start();
    void stop();
    void apply(const LockConfiguration& configuration, ActivationReason reason);
    void refreshAccessibilityMonitors();

    std::optional<InputSourceID> currentSourceID() { return provider_->currentSourceID(); }
    std::vector<InputSource> selectableSources() { return provider_->selectableSources(); }
    // Whether the system lets this program select the source now (see InputSourceProviding).
    bool canSelect(const InputSource& source) { return provider_->canSelect(source); }
    void select(const InputSourceID& source) { controller_.selectManually(source); }
    int activationCount() const { return controller_.activationCount(); }

    // The display name of the current source: "—" when there is none.
    std::string currentSourceName();

    std::function<void(const ActivationEvent&)> onActivation;
    std::function<void(const std::string&)> onCurrentSourceChange;
    std::function<void(const std::optional<std::string>&)> onActiveAppChange;
    std::function<void(const std::vector<InputSource>&)> onSelectableSourcesChange;

    const LockConfiguration& configuration() const { return config_; }
    const LockController& controller() const { return controller_; }
    bool isPollingURL() const { return urlPollTask_.active(); }

private:
    struct SwitchKey {
        RuleSource ruleSource;
        std::optional<std::string> context;
        InputSourceID sourceID;
        bool operator==(const SwitchKey&) const = default;
    };

    std::optional<std::string> effectiveAppId() const;
    void evaluate(ActivationReason trigger);
    void fireOneShot(const InputSourceID& source, RuleSource ruleSource, ActivationReason reason,
                     const std::optional<std::string>& context, std::optional<SwitchKey>& slot,
                     const SwitchKey& key);
    void restartURLPolling();
    void scheduleURLPoll();
    void syncAddressBarMonitor();
    void reportCurrentSource();

    void handleSelectionChanged();
    void handleEnabledSourcesChanged();
    std::vector<InputSourceID> listedSourceIDs();
    void handleActivationNoticed(const std::optional<std::string>& identity);
    void handleActiveApp(const std::optional<std::string>& identity);
    void handleLauncher(const std::optional<std::string>& launcher);
    void handleAddressBar(bool focused);

    // Wraps a handler so that it does nothing once the engine is gone.
    template <typename... A>
    std::function<void(A...)> weakly(void (LockEngine::*method)(A...));

    platform::Runtime& runtime_;
    std::unique_ptr<InputSourceProviding> provider_;
    LockController controller_;
    InputSourceChangeObserver observer_;
    InputSourceChangeObserver enabledSourcesObserver_;
    std::unique_ptr<ActiveAppMonitoring> appMonitor_;
    std::unique_ptr<FloatingAppMonitoring> floatingAppMonitor_;
    std::unique_ptr<AddressBarFocusMonitoring> addressBarMonitor_;
    std::unique_ptr<BrowserURLProviding> urlProvider_;
    platform::Registration urlPollTask_;

    LockConfiguration config_ = LockConfiguration::defaultConfiguration();
    std::optional<std::string> activeAppId_;
    std::optional<std::string> launcherAppId_;
    bool addressBarFocused_ = false;
    // The last URL read, and of which browser: kept while that browser does not answer.
    std::optional<std::pair<std::optional<std::string>, std::string>> lastURL_;
    std::optional<SwitchKey> lastSwitchKey_;
    std::optional<SwitchKey> lastLauncherSwitchKey_;
    std::optional<SwitchKey> lastFiredSwitchKey_;
    // The selectable sources as last listed, to tell a real change from a rewritten keymap.
    std::vector<InputSourceID> listedSourceIDs_;

    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano
