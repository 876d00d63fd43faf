#include "Tesvano/Settings/General/GeneralSettingsPane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/Components/LinkButton.h"
#include "Tesvano/Settings/Components/SectionFooter.h"
#include "TesvanoKit/Languages/LocaleFormat.h"
#include "TesvanoKit/Languages/TextKey.h"
#include "TesvanoKit/LoginItem/AutostartSettings.h"

namespace tesvano {

namespace {

constexpr auto kSystemValue = "system";

std::optional<QStringList> desktopAutostartCommand() {
    const auto command = AutostartSettings::command(
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").toStdString(), AutostartSettings::isOnPath);
    if (!command) {
        return std::nullopt;
    }
    QStringList out;
    for (const auto& part : *command) {
        out << QString::fromStdString(part);
    }
    return out;
}

}  // namespace

GeneralSettingsPane::GeneralSettingsPane(AppState& state, QWidget* parent)
    : QWidget(parent),
      state_(state),
      format_(std::make_unique<LocaleFormat>(state.effectiveLanguageCode())),
      autostartCommand_(desktopAutostartCommand()) {
    setObjectName(QStringLiteral("generalPane"));
    setWindowTitle(state_.text("General"));
    openURL = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    runCommand = [](const QStringList& command) {
        if (!command.isEmpty()) {
            QProcess::startDetached(command.front(), command.mid(1));
        }
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    buildStatus();
    buildStartup();
    buildPasswordFields();
    buildTray();
    buildLanguage();
    buildAutomation();
    layout->addStretch(1);
    syncAll();

    connect(&state_, &AppState::configChanged, this, [this] { syncAll(); });
    connect(&state_, &AppState::currentSourceNameChanged, this, [this] { syncAll(); });
    connect(&state_, &AppState::activationCountChanged, this, [this] { syncAll(); });
    connect(&state_, &AppState::loginItemStateChanged, this, [this] { syncStartup(); });
    connect(&state_, &AppState::trayIconHiddenChanged, this, [this] {
        syncAll();
        syncTray();
    });
    connect(&state_, &AppState::apiEnabledChanged, this, [this] { syncAll(); });
    connect(&state_, &AppState::languagePreferenceChanged, this, [this] { syncAll(); });
}

GeneralSettingsPane::~GeneralSettingsPane() = default;

namespace {

QGroupBox* addSection(QWidget* pane, const AppState& state, std::string_view header,
                      const char* name) {
    auto* group = new QGroupBox(state.text(header), pane);
    group->setObjectName(QString::fromUtf8(name));
    pane->layout()->addWidget(group);
    return group;
}

QCheckBox* addToggle(QGroupBox* group, const AppState& state, std::string_view label,
                     const char* name) {
    auto* toggle = new QCheckBox(state.text(label), group);
    toggle->setObjectName(QString::fromUtf8(name));
    group->layout()->addWidget(toggle);
    return toggle;
}

}  // namespace

void GeneralSettingsPane::buildStatus() {
    auto* group = addSection(this, state_, N_("Status"), "statusSection");
    auto* rows = new QFormLayout(group);
    enabled_ = new QCheckBox(state_.text("Enable Tesvano"), group);
    enabled_->setObjectName(QStringLiteral("enableTesvano"));
    rows->addRow(enabled_);
    currentSource_ = new QLabel(group);
    currentSource_->setTextFormat(Qt::PlainText);
    currentSource_->setObjectName(QStringLiteral("currentSource"));
    currentSource_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rows->addRow(state_.text("Current source"), currentSource_);
    activations_ = new QLabel(group);
    activations_->setObjectName(QStringLiteral("activations"));
    rows->addRow(state_.text("Activations"), activations_);
    layout()->addWidget(new SectionFooter(state_, N_("Enable Tesvano to apply your rules."), this));

    connect(enabled_, &QCheckBox::clicked, this, [this](bool on) {
        auto configuration = state_.config();
        configuration.isEnabled = on;
        state_.setConfig(configuration);
        state_.commitConfiguration(ActivationReason::lockEngaged);
    });
}

void GeneralSettingsPane::buildStartup() {
    auto* group = addSection(this, state_, N_("Startup"), "startupSection");
    new QVBoxLayout(group);
    launchAtLogin_ = addToggle(group, state_, N_("Launch at login"), "launchAtLogin");
    openAutostart_ = new QPushButton(state_.text("Open Autostart Settings…"), group);
    openAutostart_->setObjectName(QStringLiteral("openAutostartSettings"));
    openAutostart_->setAutoDefault(false);
    group->layout()->addWidget(openAutostart_);
    group->layout()->setAlignment(openAutostart_, Qt::AlignLeft);
    approvalFooter_ = new SectionFooter(
        state_, N_("Approval is required in the autostart settings of your desktop."), this);
    layout()->addWidget(approvalFooter_);

    connect(launchAtLogin_, &QCheckBox::clicked, this, [this](bool on) {
        // A failure is logged by the state; the toggle shows whatever was read back.
        (void)state_.setLoginItemEnabled(on);
        refreshLoginItem();
        syncStartup();
    });
    connect(openAutostart_, &QPushButton::clicked, this, [this] {
        if (autostartCommand_ && runCommand) {
            runCommand(*autostartCommand_);
        }
    });
}

void GeneralSettingsPane::buildPasswordFields() {
    auto* group = addSection(this, state_, N_("Password Fields"), "passwordFieldsSection");
    new QVBoxLayout(group);
    enforceInPasswordFields_ =
        addToggle(group, state_, N_("Enforce in password fields"), "enforceInPasswordFields");
    layout()->addWidget(new SectionFooter(
        state_,
        N_("By default, Tesvano respects password fields and doesn't change your input source in "
           "them. It can tell a password field only while assistive technologies are turned on "
           "(see Permissions). Turn this on to keep enforcing the locked source even there."),
        this));
    connect(enforceInPasswordFields_, &QCheckBox::clicked, this, [this](bool on) {
        auto configuration = state_.config();
        configuration.revertsInSecureInput = on;
        state_.setConfig(configuration);
        state_.commitConfiguration(ActivationReason::configChanged);
    });
}

void GeneralSettingsPane::buildTray() {
    auto* group = addSection(this, state_, N_("System Tray"), "traySection");
    new QVBoxLayout(group);
    hideTrayIcon_ = addToggle(group, state_, N_("Hide tray icon"), "hideTrayIcon");
    trayFooter_ = new SectionFooter(
        state_,
        N_("Tesvano keeps running in the background with its icon hidden. To show this window "
           "again, open Tesvano from the application menu or launcher."),
        this);
    noTrayFooter_ = new SectionFooter(
        state_,
        N_("Your desktop shows no system tray, so Tesvano has no icon to hide: it runs in the "
           "background. To show this window again, open Tesvano from the application menu or "
           "launcher."),
        this);
    trayFooter_->setObjectName(QStringLiteral("trayFooter"));
    noTrayFooter_->setObjectName(QStringLiteral("noTrayFooter"));
    layout()->addWidget(trayFooter_);
    layout()->addWidget(noTrayFooter_);
    syncTray();
    connect(hideTrayIcon_, &QCheckBox::clicked, this,
            [this](bool on) { state_.setTrayIconHidden(on); });
    // A panel that starts (or quits) while the window is open.
    connect(&state_, &AppState::trayAvailableChanged, this, [this] { syncTray(); });
}

void GeneralSettingsPane::buildLanguage() {
    auto* group = addSection(this, state_, "Language", "languageSection");
    auto* rows = new QFormLayout(group);
    language_ = new QComboBox(group);
    language_->setObjectName(QStringLiteral("language"));
    language_->addItem(state_.text("Follow System"), QString::fromUtf8(kSystemValue));
    language_->insertSeparator(1);
    for (const auto& [language, code] : EnumTable<SupportedLanguage>::entries) {
        // Each language in its own words, whatever the interface language is.
        const auto name = Languages::nativeName(language);
        language_->addItem(QString::fromUtf8(name.data(), qsizetype(name.size())),
                           QString::fromUtf8(code.data(), qsizetype(code.size())));
    }
    rows->addRow(state_.text("Language"), language_);
    connect(language_, &QComboBox::activated, this, [this](int index) {
        const std::string value = language_->itemData(index).toString().toStdString();
        const auto language = enumFromRawValue<SupportedLanguage>(value);
        state_.setLanguagePreference(language ? LanguagePreference::specific(*language)
                                              : LanguagePreference::system());
    });
}

void GeneralSettingsPane::buildAutomation() {
    auto* group = addSection(this, state_, N_("Automation"), "automationSection");
    new QVBoxLayout(group);
    apiEnabled_ = addToggle(group, state_, N_("URL Scheme API"), "urlSchemeAPI");
    documentation_ = new LinkButton(state_.text("API documentation"), group);
    documentation_->setObjectName(QStringLiteral("apiDocumentation"));
    group->layout()->addWidget(documentation_);
    group->layout()->setAlignment(documentation_, Qt::AlignLeft);
    layout()->addWidget(new SectionFooter(
        state_,
        N_("When on, other apps and scripts can control Tesvano with `tesvano://` URL commands."),
        this));
    connect(apiEnabled_, &QCheckBox::clicked, this, [this](bool on) { state_.setApiEnabled(on); });
    connect(documentation_, &QPushButton::clicked, this, [this] {
        if (openURL) {
            openURL(state_.apiDocumentationURL());
        }
    });
}

void GeneralSettingsPane::setAutostartSettingsCommand(std::optional<QStringList> command) {
    autostartCommand_ = std::move(command);
    syncStartup();
}

void GeneralSettingsPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A change made outside the program while the tab was hidden shows up now.
    refreshLoginItem();
    syncTray();
}

void GeneralSettingsPane::refreshLoginItem() {
    state_.setLoginItemState(state_.loginItem().state());
}

void GeneralSettingsPane::syncStartup() {
    const LoginItemState loginItem = state_.loginItemState();
    const bool needsApproval = loginItem == LoginItemState::requiresApproval;
    {
        const QSignalBlocker blocker(launchAtLogin_);
        launchAtLogin_->setChecked(tesvano::isEnabled(loginItem));
    }
    // Only a desktop with such settings gets the button.
    openAutostart_->setVisible(needsApproval && autostartCommand_.has_value());
    approvalFooter_->setVisible(needsApproval);
}

void GeneralSettingsPane::syncTray() {
    // Without a tray there is no icon to hide (GNOME shows none without an extension); a
    // hidden one can still be shown again for a tray that comes later.
    const bool tray = state_.trayAvailable();
    hideTrayIcon_->setEnabled(tray || state_.trayIconHidden());
    trayFooter_->setVisible(tray);
    noTrayFooter_->setVisible(!tray);
}

void GeneralSettingsPane::syncAll() {
    const auto& configuration = state_.config();
    {
        const QSignalBlocker blockers[] = {
            QSignalBlocker(enabled_), QSignalBlocker(enforceInPasswordFields_),
            QSignalBlocker(hideTrayIcon_), QSignalBlocker(apiEnabled_), QSignalBlocker(language_)};
        enabled_->setChecked(configuration.isEnabled);
        enforceInPasswordFields_->setChecked(configuration.revertsInSecureInput);
        hideTrayIcon_->setChecked(state_.trayIconHidden());
        apiEnabled_->setChecked(state_.apiEnabled());
        const auto& preference = state_.languagePreference();
        const QString value = preference.isSystem()
                                  ? QString::fromUtf8(kSystemValue)
                                  : QString::fromUtf8(rawValue(*preference.language()).data());
        language_->setCurrentIndex(std::max(0, language_->findData(value)));
    }
    currentSource_->setText(QString::fromStdString(state_.currentSourceName()));
    activations_->setText(QString::fromStdString(format_->integer(state_.activationCount())));
    syncStartup();
}

}  // namespace tesvano
