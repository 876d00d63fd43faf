#include "Tesvano/Settings/Permissions/PermissionsSettingsPane.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Components/GrantAccessibilityButton.h"
#include "Tesvano/Settings/Components/SectionFooter.h"
#include "Tesvano/Settings/Permissions/GnomeShellExtensionSection.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "TesvanoKit/Languages/TextKey.h"
#include "system-settings-links/SystemSettingsDestination.h"

namespace tesvano {

namespace {

// A check mark and a feature, in the secondary style.
QWidget* featureBullet(const AppState& state, std::string_view key, QWidget* parent) {
    auto* bullet = new QWidget(parent);
    auto* row = new QHBoxLayout(bullet);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* mark = new QLabel(bullet);
    mark->setPixmap(Symbols::pixmap("checkmark", 11,
                                    SettingsStyle::color(bullet, SettingsStyle::Level::secondary),
                                    bullet->devicePixelRatioF()));
    row->addWidget(mark, 0, Qt::AlignTop);
    auto* text = new QLabel(state.text(key), bullet);
    text->setWordWrap(true);
    SettingsStyle::setTextLevel(text, SettingsStyle::Level::secondary);
    row->addWidget(text, 1);
    return bullet;
}

// A footnote in the secondary style.
QLabel* note(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    label->setFont(SettingsStyle::footnote(label));
    SettingsStyle::setTextLevel(label, SettingsStyle::Level::secondary);
    return label;
}

// An orange warning with its triangle, in the footnote font.
QWidget* warning(const QString& text, const char* name, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(QLatin1String(name));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const QColor orange(0xff, 0x95, 0x00);
    auto* mark = new QLabel(row);
    mark->setPixmap(
        Symbols::pixmap("exclamationmark.triangle", 12, orange, row->devicePixelRatioF()));
    layout->addWidget(mark, 0, Qt::AlignTop);
    auto* label = new QLabel(text, row);
    label->setWordWrap(true);
    label->setFont(SettingsStyle::footnote(label));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, orange);
    label->setPalette(palette);
    layout->addWidget(label, 1);
    return row;
}

// Some browsers decide at start-up whether to expose their pages: say what a running one
// needs.
void addBrowserNote(const AppState& state, QVBoxLayout* rows, QWidget* parent) {
    rows->addWidget(note(state.text("A browser that was already running may need a restart "
                                    "before its pages can be read. If a Chromium-based browser "
                                    "still shows nothing, start it with "
                                    "--force-renderer-accessibility."),
                         "browserRestartNote", parent));
}

}  // namespace

PermissionsSettingsPane::PermissionsSettingsPane(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("permissionsPane"));
    setWindowTitle(state.text("Permissions"));
    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);

    auto* section = new QGroupBox(state.text("Accessibility"), this);
    sectionRows_ = new QVBoxLayout(section);
    sectionRows_->setSpacing(10);
    form->addWidget(section);
    if (auto* extension = state.gnomeShellExtension()) {
        gnomeSection_ = new GnomeShellExtensionSection(state, *extension, this);
    }
    // On GNOME the lock does need something: the shell extension of the section below.
    const bool gnome = gnomeSection_ != nullptr && !gnomeSection_->isHidden();
    form->addWidget(new SectionFooter(
        state,
        gnome ? N_("The core lock needs no permission, but on GNOME it needs Tesvano's GNOME "
                   "Shell extension (below).")
              : N_("The core lock needs no permissions."),
        this));
    if (gnomeSection_ != nullptr) {
        form->addWidget(gnomeSection_);
    }
    form->addStretch(1);

    rebuildSection();
    connect(&state_, &AppState::accessibilityGrantedChanged, this, [this] { rebuildSection(); });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState applicationState) {
                if (applicationState == Qt::ApplicationActive && isVisible()) {
                    state_.refreshAccessibilityStatus();
                    if (gnomeSection_) {
                        gnomeSection_->refresh();
                    }
                }
            });
}

void PermissionsSettingsPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    state_.refreshAccessibilityStatus();
    if (gnomeSection_) {
        gnomeSection_->refresh();
    }
}

void PermissionsSettingsPane::rebuildSection() {
    const bool granted = state_.accessibilityGranted();
    if (built_ && granted == shownGranted_) {
        return;
    }
    built_ = true;
    shownGranted_ = granted;
    while (QLayoutItem* item = sectionRows_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            // Out of the pane at once; deleted once the signal that got us here returns.
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    auto* section = sectionRows_->parentWidget();
    if (granted) {
        auto* row = new QWidget(section);
        row->setObjectName(QStringLiteral("accessGranted"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        auto* mark = new QLabel(row);
        mark->setPixmap(Symbols::pixmap("checkmark.circle.fill", 16,
                                        SettingsStyle::color(row, SettingsStyle::Level::secondary),
                                        row->devicePixelRatioF()));
        layout->addWidget(mark);
        auto* text = new QLabel(state_.text("Accessibility access granted"), row);
        SettingsStyle::setTextLevel(text, SettingsStyle::Level::secondary);
        layout->addWidget(text, 1);
        sectionRows_->addWidget(row);
        addBrowserNote(state_, sectionRows_, section);
        return;
    }
    auto* explanation = new QWidget(section);
    explanation->setObjectName(QStringLiteral("grantExplanation"));
    auto* column = new QVBoxLayout(explanation);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* intro =
        new QLabel(state_.text("Grant once to unlock two optional features:"), explanation);
    intro->setWordWrap(true);
    column->addWidget(intro);
    auto* bullets = new QVBoxLayout;
    bullets->setSpacing(4);
    bullets->addWidget(featureBullet(state_, N_("Per-URL rules in your browser"), explanation));
    // KRunner is KDE's; elsewhere no launcher overlay comes with the desktop.
    const bool kde = SystemSettings::desktopFromEnvironment(
                         qEnvironmentVariable("XDG_CURRENT_DESKTOP").toStdString()) ==
                     SystemSettings::Desktop::kde;
    bullets->addWidget(featureBullet(state_,
                                     kde ? N_("Targeting launchers like KRunner in app rules")
                                         : N_("Targeting launcher overlays in app rules"),
                                     explanation));
    column->addLayout(bullets);
    sectionRows_->addWidget(explanation);
    // Without an accessibility bus there is nothing to grant.
    if (const auto& reason = state_.accessibilityUnavailableReason(); !reason.empty()) {
        sectionRows_->addWidget(warning(state_.text(reason), "accessibilityUnavailable", section));
        return;
    }
    auto* button = new GrantAccessibilityButton(state_, section);
    sectionRows_->addWidget(button, 0, Qt::AlignLeft);
    addBrowserNote(state_, sectionRows_, section);
}

}  // namespace tesvano
