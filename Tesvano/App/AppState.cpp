#include "Tesvano/App/AppState.h"

#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/Log/Log.h"
#include "Tesvano/App/QtTranslations.h"
#include "Tesvano/App/ShortcutNames.h"
#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Monitors/AccessibilityBrowserURLReader.h"
#include "TesvanoKit/Monitors/ProcessIdentity.h"
#include "TesvanoKit/Rules/URLRuleList.h"

namespace tesvano {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("AppState");
    return logger;
}

std::unique_ptr<UpdateController> makeUpdater(const AppServices& services) {
    return std::make_unique<UpdateController>(services.runtime, services.defaults,
                                              services.updateFeedURL, services.makeUpdater);
}

bool identityEquals(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return a == b;
}

}  // namespace

AppState::AppState(AppServices services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      updateController_(makeUpdater(services_)),
      store_(services_.defaults, RuleStore::standardKey),
      activationStore_(services_.defaults, "activationCount"),
      loginItem_(services_.loginItems),
      logStore_(std::make_unique<LogStore>(services_.logInMemory, services_.logFolder,
                                           &services_.runtime)),
      accessibilityWatcher_(services_.runtime, platform::Seconds(0.5),
                            [&ax = services_.accessibility] { return ax.isProcessTrusted(); }),
      display_(services_.workspace, services_.desktopEntries) {
    languagePreference_ = LanguagePreference::load(services_.defaults);
    apiEnabled_ = services_.defaults.boolean("apiEnabled").value_or(false);
    // Stored under its historical key "menuBarIconHidden" (setTrayIconHidden too).
    trayIconHidden_ = services_.defaults.boolean("menuBarIconHidden").value_or(false);
    if (auto mode = services_.defaults.string("newAppRuleMode")) {
        newAppRuleMode_ = enumFromRawValue<AppRuleMode>(*mode).value_or(AppRuleMode::locked);
    }
    applyInterfaceLanguage();
    watchSkippedURLRules();
    services_.defaults.setSaveProblemObserver([this] { emit settingsSaveProblemChanged(); });
}

AppState::~AppState() {
    services_.defaults.setSaveProblemObserver({});
    purgeTask_.cancel();
    shortcutObserver_.cancel();
    if (engine_) {
        engine_->stop();
    }
}

void AppState::applyInterfaceLanguage() {
    LanguageOverride::apply(effectiveLanguage());
    QtTranslations::apply(effectiveLanguage());
    translateSourceNames();
}

SupportedLanguage AppState::effectiveLanguage() const {
    return languagePreference_.effectiveLanguage();
}

std::string AppState::effectiveLanguageCode() const {
    return std::string(rawValue(effectiveLanguage()));
}

QString AppState::text(std::string_view key) const {
    return QString::fromStdString(Localization::text(key, effectiveLanguage()));
}

void AppState::start() {
    if (engine_) {
        return;
    }
    const bool hadStoredConfiguration = store_.hasStoredConfiguration();
    setConfig(store_.load());
    assign(activationCount_, activationStore_.value(), &AppState::activationCountChanged);

    LockEngine::Parts parts = services_.engineParts ? services_.engineParts() : LockEngine::Parts{};
    if (!parts.urlProvider) {
        parts.urlProvider = std::make_unique<AccessibilityBrowserURLReader>(
            services_.workspace, services_.accessibility, urlReaderVisitBudget);
    }
    parts = LockEngine::defaultParts(std::move(parts), services_.runtime, services_.textInput,
                                     services_.workspace, services_.accessibility);
    engine_ = std::make_unique<LockEngine>(std::move(parts), services_.runtime, services_.textInput,
                                           services_.isSecureInputEnabled);

    assign(accessibilityGranted_, services_.accessibility.isProcessTrusted(),
           &AppState::accessibilityGrantedChanged);
    trustObserver_ =
        services_.accessibility.observeTrust([this, alive = std::weak_ptr<int>(lifetime_)] {
            if (!alive.expired()) {
                refreshAccessibilityStatus();
            }
        });

    std::weak_ptr<int> alive = lifetime_;
    engine_->onActivation = [this, alive](const ActivationEvent& event) {
        if (!alive.expired())
            handleActivation(event);
    };
    engine_->onCurrentSourceChange = [this, alive](const std::string& name) {
        if (!alive.expired())
            handleCurrentSourceChange(name);
    };
    engine_->onActiveAppChange = [this, alive](const std::optional<std::string>& id) {
        if (!alive.expired())
            handleActiveAppChange(id);
    };
    engine_->onSelectableSourcesChange = [this, alive](const std::vector<InputSource>& sources) {
        if (!alive.expired())
            handleSelectableSourcesChange(sources);
    };
    engine_->start();
    handleSelectableSourcesChange(engine_->selectableSources());

    if (!hadStoredConfiguration && !config_.defaultSourceID) {
        if (auto current = engine_->currentSourceID()) {
            auto configuration = config_;
            configuration.defaultSourceID = current;
            setConfig(configuration);
        }
    }
    engine_->apply(config_, ActivationReason::startupApplied);
    store_.save(config_);

    setLoginItemState(loginItem_.state());

    updateController_->onPresentUpdateWindow = [this, alive] {
        if (!alive.expired())
            showUpdateWindow();
    };
    updateController_->onCheckOutcome = [this, alive](const UpdateCheckOutcome& outcome) {
        if (!alive.expired())
            presentUpdateCheckResult(outcome);
    };
    updateController_->onStateChange = [this, alive] {
        if (!alive.expired())
            emit updateStateChanged();
    };
    updateController_->start();

    auto bind = [this, alive](const KeyboardShortcuts::Name& name, std::function<void()> action) {
        KeyboardShortcuts::onKeyUp(name, [alive, action = std::move(action)] {
            if (!alive.expired())
                action();
        });
    };
    bind(ShortcutNames::toggleLock(), [this] { toggleLock(); });
    bind(ShortcutNames::globalPreviousSource(),
         [this] { cycleDefaultSource(CycleDirection::previous); });
    bind(ShortcutNames::globalNextSource(), [this] { cycleDefaultSource(CycleDirection::next); });
    bind(ShortcutNames::appPreviousSource(),
         [this] { cycleActiveAppSource(CycleDirection::previous); });
    bind(ShortcutNames::appNextSource(), [this] { cycleActiveAppSource(CycleDirection::next); });
    bind(ShortcutNames::removeActiveAppRule(), [this] { removeActiveAppRule(); });
    assign(toggleLockShortcut_, KeyboardShortcuts::getShortcut(ShortcutNames::toggleLock()),
           &AppState::toggleLockShortcutChanged);
    shortcutObserver_ =
        KeyboardShortcuts::observeShortcutByNameDidChange([this, alive](const auto&) {
            if (!alive.expired())
                shortcutDidChange();
        });

    logStore_->purgeExpired(services_.runtime.now(), platform::Seconds(logRetention));
    schedulePurge();
}

void AppState::schedulePurge() {
    std::weak_ptr<int> alive = lifetime_;
    purgeTask_ = services_.runtime.after(platform::Seconds(purgeInterval), [this, alive] {
        if (alive.expired()) {
            return;
        }
        schedulePurge();
        logStore_->purgeExpired(services_.runtime.now(), platform::Seconds(logRetention));
    });
}

void AppState::stop() {
    if (engine_) {
        engine_->stop();
    }
    purgeTask_.cancel();
    accessibilityWatcher_.stop();
    shortcutObserver_.cancel();
    trustObserver_.cancel();
}

void AppState::commitConfiguration(ActivationReason reason) {
    if (engine_) {
        engine_->apply(config_, reason);
    }
    store_.save(config_);
}

std::optional<std::string> AppState::settingsSaveProblem() const {
    return services_.defaults.saveProblem();
}

std::optional<std::string> AppState::saveSettingsNow() {
    return services_.defaults.saveNow();
}

std::uint64_t AppState::settingsChangeCount() const {
    return services_.defaults.changeCount();
}

void AppState::setConfig(const LockConfiguration& configuration) {
    assign(config_, configuration, &AppState::configChanged);
}

void AppState::configWasEdited() {
    emit configChanged();
}

void AppState::setSettingsTab(SettingsTab tab) {
    assign(settingsTab_, tab, &AppState::settingsTabChanged);
}

void AppState::setTerminationRequested(bool requested) {
    assign(terminationRequested_, requested, &AppState::terminationRequestedChanged);
}

void AppState::setLoginItemState(LoginItemState state) {
    assign(loginItemState_, state, &AppState::loginItemStateChanged);
}

// --- Configuration actions

void AppState::toggleLock() {
    config_.isEnabled = !config_.isEnabled;
    configWasEdited();
    commitConfiguration(ActivationReason::lockEngaged);
}

void AppState::lockToSource(const std::optional<InputSourceID>& source) {
    config_.defaultSourceID = source;
    config_.isEnabled = true;
    configWasEdited();
    commitConfiguration(ActivationReason::lockEngaged);
}

std::vector<InputSourceID> AppState::availableSourceIDs() const {
    std::vector<InputSourceID> ids;
    ids.reserve(availableSources_.size());
    for (const auto& source : availableSources_)
        ids.push_back(source.id);
    return ids;
}

void AppState::cycleDefaultSource(CycleDirection direction) {
    std::optional<InputSourceID> start = config_.defaultSourceID;
    if (!start && engine_) {
        start = engine_->currentSourceID();
    }
    const auto ids = availableSourceIDs();
    const auto next = SourceCycler::next(start, ids, direction);
    if (!next) {
        return;
    }
    config_.defaultSourceID = next;
    config_.isEnabled = true;
    configWasEdited();
    commitConfiguration(ActivationReason::lockEngaged);
}

void AppState::setDefaultSourceID(const std::optional<InputSourceID>& source) {
    config_.defaultSourceID = source;
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

void AppState::setDefaultSource(const std::optional<InputSourceID>& source, RuleAction action) {
    config_.defaultSourceID = source;
    if (source) {
        config_.defaultAction = action;
    }
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

void AppState::upsertAppRule(const AppRule& rule) {
    std::erase_if(config_.appRules, [&](const AppRule& r) { return r.appId == rule.appId; });
    config_.appRules.push_back(rule);
    // std::string compares UTF-8 bytes, which orders like Unicode scalar values.
    std::stable_sort(config_.appRules.begin(), config_.appRules.end(),
                     [](const AppRule& a, const AppRule& b) { return a.appId < b.appId; });
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

void AppState::removeAppRule(const std::string& appId) {
    std::erase_if(config_.appRules, [&](const AppRule& r) { return r.appId == appId; });
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

void AppState::removeAllAppRules() {
    if (config_.appRules.empty()) {
        return;
    }
    config_.appRules.clear();
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

bool AppState::cycleAppSource(const std::string& appId, CycleDirection direction) {
    const AppRule* rule = config_.appRule(appId);
    if (rule == nullptr) {
        return false;
    }
    std::optional<InputSourceID> start = rule->lockedSourceID;
    if (!start && engine_) {
        start = engine_->currentSourceID();
    }
    const auto ids = availableSourceIDs();
    const auto next = SourceCycler::next(start, ids, direction);
    if (!next) {
        return false;
    }
    const AppRuleMode mode = requiresSource(rule->mode) ? rule->mode : AppRuleMode::locked;
    upsertAppRule(AppRule{appId, mode, next});
    return true;
}

std::optional<std::string> AppState::activeIdentity() const {
    auto app = services_.workspace.activeApplication();
    if (!app) {
        return std::nullopt;
    }
    return ProcessIdentity::identifier({app->appId, app->executablePath});
}

void AppState::cycleActiveAppSource(CycleDirection direction) {
    if (auto identity = activeIdentity()) {
        cycleAppSource(*identity, direction);
    }
}

void AppState::removeActiveAppRule() {
    auto identity = activeIdentity();
    if (identity && config_.appRule(*identity) != nullptr) {
        removeAppRule(*identity);
    }
}

void AppState::upsertURLRule(const URLRule& rule) {
    config_.urlRules = URLRuleList::upsert(rule, std::move(config_.urlRules));
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

void AppState::removeURLRule(const Uuid& id) {
    std::erase_if(config_.urlRules, [&](const URLRule& r) { return r.id == id; });
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

void AppState::removeAllURLRules() {
    if (config_.urlRules.empty()) {
        return;
    }
    config_.urlRules.clear();
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

void AppState::reorderURLRules(const std::vector<URLRule>& proposed) {
    auto reordered = URLRuleList::reorder(config_.urlRules, proposed);
    if (!reordered) {
        return;
    }
    config_.urlRules = std::move(*reordered);
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

void AppState::setAddressBarFocusEnabled(bool enabled) {
    config_.addressBarFocusEnabled = enabled;
    if (enabled && !config_.addressBarSourceID) {
        config_.addressBarSourceID = config_.defaultSourceID;
    }
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

void AppState::setAddressBarSourceID(const std::optional<InputSourceID>& source) {
    config_.addressBarSourceID = source;
    configWasEdited();
    commitConfiguration(ActivationReason::configChanged);
}

// --- Queries

std::optional<InputSource> AppState::resolveSource(const SourceSelector& selector) const {
    for (const auto& source : availableSources_) {
        if (selector.kind == SourceSelector::Kind::id) {
            if (source.id.rawValue == selector.text)
                return source;
        } else {
            // By the name shown, or by the system's (English) one.
            const auto named = [&](const std::string& name) {
                return QString::fromStdString(name).compare(QString::fromStdString(selector.text),
                                                            Qt::CaseInsensitive) == 0;
            };
            const auto engine = std::ranges::find(engineSources_, source.id, &InputSource::id);
            if (named(source.localizedName) ||
                (engine != engineSources_.end() && named(engine->localizedName))) {
                return source;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> AppState::sourceName(const InputSourceID& id) const {
    for (const auto& source : availableSources_) {
        if (source.id == id)
            return source.localizedName;
    }
    return std::nullopt;
}

void AppState::selectSource(const InputSourceID& id) {
    if (engine_) {
        engine_->select(id);
    }
}

// --- Application settings

void AppState::setApiEnabled(bool enabled) {
    assign(apiEnabled_, enabled, &AppState::apiEnabledChanged);
    services_.defaults.set("apiEnabled", enabled);
}

void AppState::trayHostsChanged() {
    const bool available = trayAvailable();
    if (trayAvailable_ != available) {
        trayAvailable_ = available;
        emit trayAvailableChanged();
    }
}

void AppState::setTrayIconHidden(bool hidden) {
    assign(trayIconHidden_, hidden, &AppState::trayIconHiddenChanged);
    services_.defaults.set("menuBarIconHidden", hidden);
}

void AppState::setNewAppRuleMode(AppRuleMode mode) {
    assign(newAppRuleMode_, mode, &AppState::newAppRuleModeChanged);
    services_.defaults.set("newAppRuleMode", std::string(rawValue(mode)));
}

void AppState::setLanguagePreference(const LanguagePreference& preference) {
    // The lookup must answer in the new language before anybody hears of the change.
    const bool changed = !(languagePreference_ == preference);
    languagePreference_ = preference;
    preference.save(services_.defaults);
    applyInterfaceLanguage();
    if (changed) {
        emit languagePreferenceChanged();
    }
    aboutWindow().refreshTitle();
    updateWindow().refreshTitle();
    aboutWindow().rebuildContent();
    updateWindow().rebuildContent();
}

std::optional<LoginItemError> AppState::setLoginItemEnabled(bool enabled) {
    auto result = loginItem_.setEnabled(enabled);
    setLoginItemState(loginItem_.state());
    if (!result) {
        log().error("Could not change the login item: %{public}s", result.error().message);
        return result.error();
    }
    return std::nullopt;
}

// --- Windows and updates

HostedWindowController& AppState::aboutWindow() {
    if (!aboutWindow_) {
        std::weak_ptr<int> alive = lifetime_;
        aboutWindow_ = std::make_unique<HostedWindowController>(HostedWindowController::Options{
            "about",
            [this, alive] {
                return alive.expired() ? QStringLiteral("About Tesvano") : text("About Tesvano");
            },
            [this, alive](std::function<void()> close) -> QWidget* {
                if (alive.expired() || !makeAboutContent)
                    return new QWidget;
                return makeAboutContent(std::move(close));
            },
            {},
            true});
    }
    return *aboutWindow_;
}

HostedWindowController& AppState::updateWindow() {
    if (!updateWindow_) {
        std::weak_ptr<int> alive = lifetime_;
        updateWindow_ = std::make_unique<HostedWindowController>(HostedWindowController::Options{
            "update",
            [this, alive] { return alive.expired() ? QStringLiteral("Updates") : text("Updates"); },
            [this, alive](std::function<void()> close) -> QWidget* {
                if (alive.expired() || !makeUpdateContent)
                    return new QWidget;
                return makeUpdateContent(std::move(close));
            },
            [this, alive] {
                if (!alive.expired())
                    updateController_->dismiss();
            },
            false});
    }
    return *updateWindow_;
}

void AppState::showUpdateWindow() {
    updateWindow().show();
}

void AppState::presentUpdateCheckResult(const UpdateCheckOutcome& outcome) {
    Alert alert;
    if (outcome.upToDate) {
        alert.message = text("You're up to date.");
        alert.informativeText =
            text("Tesvano %@ is currently the newest version available.")
                .replace(QStringLiteral("%@"), QString::fromStdString(ProgramInfo::version()));
    } else {
        alert.warning = true;
        alert.message = text("Update failed");
        switch (outcome.failure) {
            case UpdateFailure::checkFailed:
                alert.informativeText = text(
                    "Couldn't check for updates. Please check your internet connection and try "
                    "again later.");
                break;
            case UpdateFailure::downloadFailed:
                alert.informativeText = text(
                    "The update couldn't be downloaded. Please check your internet connection "
                    "and try again.");
                break;
            case UpdateFailure::verificationFailed:
                alert.informativeText =
                    text("The update couldn't be verified. Please try again later.");
                break;
            case UpdateFailure::installationFailed:
                alert.informativeText =
                    text("The update couldn't be installed. Please try again later.");
                break;
            case UpdateFailure::unknown:
                alert.informativeText =
                    text("An unexpected error occurred. Please try again later.");
                break;
        }
    }
    if (presentAlert) {
        presentAlert(alert);
        return;
    }
    QMessageBox box(alert.warning ? QMessageBox::Warning : QMessageBox::Information,
                    QStringLiteral("Tesvano"), alert.message, QMessageBox::NoButton);
    box.setInformativeText(alert.informativeText);
    box.addButton(text("OK"), QMessageBox::AcceptRole);
    QPixmap icon(256, 256);
    icon.fill(Qt::transparent);
    {
        QPainter painter(&icon);
        AppDisplay::drawRoundedIcon(painter, AppDisplay::ownAppIcon(), QRectF(0, 0, 256, 256), 256);
    }
    box.setIconPixmap(icon.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    box.activateWindow();
    box.exec();
}

// --- Engine callbacks

void AppState::handleActivation(const ActivationEvent& event) {
    if (event.reason != ActivationReason::conflictPaused) {
        assign(activationCount_, activationStore_.increment(), &AppState::activationCountChanged);
    }
    std::optional<std::string> name;
    if (event.triggeringAppId) {
        name = display_.displayName(*event.triggeringAppId, effectiveLanguage());
    }
    logStore_->record(event, name);
}

void AppState::handleCurrentSourceChange(const std::string& name) {
    engineCurrentSourceName_ = name;
    assign(currentSourceName_, displaySourceName(name), &AppState::currentSourceNameChanged);
}

void AppState::handleActiveAppChange(const std::optional<std::string>& appId) {
    if (identityEquals(activeAppId_, appId)) {
        return;
    }
    activeAppId_ = appId;
    emit activeAppIdChanged();
}

void AppState::handleSelectableSourcesChange(const std::vector<InputSource>& sources) {
    engineSources_ = sources;
    auto shown = sources;
    for (auto& source : shown) {
        source.localizedName = displaySourceName(source.localizedName);
    }
    assign(availableSources_, shown, &AppState::availableSourcesChanged);
}

void AppState::shortcutDidChange() {
    assign(toggleLockShortcut_, KeyboardShortcuts::getShortcut(ShortcutNames::toggleLock()),
           &AppState::toggleLockShortcutChanged);
}

void AppState::refreshAccessibilityStatus() {
    const bool trusted = services_.accessibility.isProcessTrusted();
    if (trusted == accessibilityGranted_) {
        return;
    }
    assign(accessibilityGranted_, trusted, &AppState::accessibilityGrantedChanged);
    if (trusted) {
        permissionFlow().stop(true);
        accessibilityWatcher_.stop();
    }
    if (engine_) {
        engine_->refreshAccessibilityMonitors();
    }
}

void AppState::accessibilityDidGrant() {
    assign(accessibilityGranted_, true, &AppState::accessibilityGrantedChanged);
    permissionFlow().stop(true);
    accessibilityWatcher_.stop();
    if (engine_) {
        engine_->refreshAccessibilityMonitors();
    }
}

}  // namespace tesvano
