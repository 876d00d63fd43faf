#include "Tesvano/Settings/Updates/UpdatesSettingsPane.h"

#include "TesvanoKit/Languages/TextKey.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTime>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Components/SectionFooter.h"
#include "Tesvano/Settings/SettingsStyle.h"

namespace tesvano {

UpdatesSettingsPane::UpdatesSettingsPane(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("updatesPane"));
    setWindowTitle(state.text("Updates"));
    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);

    // Why updates are unavailable, when they are: above everything it greys, read first.
    unavailable_ = new QLabel(this);
    unavailable_->setObjectName(QStringLiteral("updatesUnavailable"));
    unavailable_->setWordWrap(true);
    form->addWidget(unavailable_);

    auto* channelBox = new QGroupBox(state.text("Channel"), this);
    auto* channelRow = new QHBoxLayout(channelBox);
    channelRow->addWidget(new QLabel(state.text("Update channel"), channelBox));
    channelRow->addStretch(1);
    channel_ = new QButtonGroup(this);
    channel_->setExclusive(true);
    int id = 0;
    for (const char* key : {N_("Stable"), N_("Beta")}) {
        auto* segment = new QToolButton(channelBox);
        segment->setText(state.text(key));
        segment->setObjectName(id == 0 ? QStringLiteral("stable") : QStringLiteral("beta"));
        segment->setCheckable(true);
        segment->setAutoRaise(false);
        segment->setMinimumWidth(72);
        channel_->addButton(segment, id++);
        channelRow->addWidget(segment);
    }
    channel_->button(state.usesBetaChannel() ? 1 : 0)->setChecked(true);
    connect(channel_, &QButtonGroup::idClicked, this, [this](int chosen) {
        if ((chosen == 1) != state_.usesBetaChannel()) {
            state_.setUsesBetaChannel(chosen == 1);
        }
    });
    form->addWidget(channelBox);
    channelFooter_ = new SectionFooter(
        state,
        N_("Stable ships from tagged releases. Beta tracks the nightly build (built "
           "automatically around 01:00 UTC) — newer features, but less tested."),
        this);
    form->addWidget(channelFooter_);

    pendingRow_ = new QGroupBox(this);
    pendingRow_->setObjectName(QStringLiteral("pendingUpdateRow"));
    auto* pending = new QHBoxLayout(pendingRow_);
    auto* pendingIcon = new QLabel(pendingRow_);
    pendingIcon->setPixmap(Symbols::pixmap(
        "arrow.down.circle.fill", 16, palette().color(QPalette::Highlight), devicePixelRatioF()));
    pending->addWidget(pendingIcon);
    pendingLabel_ = new QLabel(pendingRow_);
    pendingLabel_->setObjectName(QStringLiteral("pendingVersion"));
    // The version comes from the feed: shown as written, never as markup.
    pendingLabel_->setTextFormat(Qt::PlainText);
    pending->addWidget(pendingLabel_, 1);
    auto* install = new QPushButton(state.text("Install Update…"), pendingRow_);
    install->setObjectName(QStringLiteral("installUpdate"));
    install->setDefault(true);
    connect(install, &QPushButton::clicked, this,
            [this] { state_.updateController().checkForUpdates(); });
    pending->addWidget(install);
    form->addWidget(pendingRow_);

    auto* checkBox = new QGroupBox(this);
    auto* rows = new QFormLayout(checkBox);
    automatic_ = new QCheckBox(state.text("Automatically check for updates"), checkBox);
    automatic_->setObjectName(QStringLiteral("automaticChecks"));
    connect(automatic_, &QCheckBox::toggled, this, [this](bool on) {
        if (auto* updater = state_.updateController().updater()) {
            updater->setAutomaticallyChecksForUpdates(on);
        }
        refresh();
    });
    rows->addRow(automatic_);
    lastChecked_ = new QLabel(checkBox);
    lastChecked_->setObjectName(QStringLiteral("lastChecked"));
    rows->addRow(state.text("Last checked"), lastChecked_);
    check_ = new QPushButton(state.text("Check for Updates…"), checkBox);
    check_->setObjectName(QStringLiteral("checkForUpdates"));
    connect(check_, &QPushButton::clicked, this,
            [this] { state_.updateController().checkForUpdates(); });
    auto* checkRow = new QHBoxLayout;
    checkRow->addStretch(1);
    checkRow->addWidget(check_);
    rows->addRow(checkRow);
    form->addWidget(checkBox);
    form->addStretch(1);

    refresh();
    connect(&state_, &AppState::updateStateChanged, this, [this] { refresh(); });
}

void UpdatesSettingsPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

QString UpdatesSettingsPane::lastCheckedText(const AppState& state,
                                             const std::optional<platform::WallTime>& lastCheck) {
    if (!lastCheck) {
        return state.text("Never");
    }
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(
        static_cast<qint64>(lastCheck->time_since_epoch().count() * 1000.0));
    // In the interface language, as every other pane writes dates and numbers.
    const QLocale locale(QString::fromStdString(state.effectiveLanguageCode()));
    return locale.toString(when.date(), QStringLiteral("d MMM yyyy")) + QStringLiteral(", ") +
           locale.toString(when.time(), QLocale::ShortFormat);
}

std::string_view UpdatesSettingsPane::unavailableReasonKey(const AppState& state) {
    const auto& error = const_cast<AppState&>(state).updateController().startError();
    if (!error) {
        return {};
    }
    switch (error->code) {
        case platform::UpdaterError::noFeedAddress:
            return N_("This build checks no update feed.");
        case platform::UpdaterError::notSelfUpdating:
            return N_(
                "This copy of Tesvano was installed by a package manager or runs from a build "
                "folder, and does not update itself. Update it the way it was installed.");
        default:
            return N_(
                "Checking for updates is unavailable: the updater could not start. The log says "
                "why.");
    }
}

void UpdatesSettingsPane::refresh() {
    UpdateController& controller = state_.updateController();
    const auto& pending = controller.pendingUpdateVersion();
    pendingRow_->setVisible(pending.has_value());
    if (pending) {
        pendingLabel_->setText(
            state_.text("Version %@ is available")
                .replace(QStringLiteral("%@"), QString::fromStdString(*pending)));
    }
    platform::Updater* updater = controller.updater();
    {
        const QSignalBlocker blocker(automatic_);
        automatic_->setChecked(updater != nullptr && updater->automaticallyChecksForUpdates());
    }
    automatic_->setEnabled(updater != nullptr);
    lastChecked_->setText(
        lastCheckedText(state_, updater ? updater->lastUpdateCheckDate() : std::nullopt));
    check_->setEnabled(controller.canCheckForUpdates());
    const std::string_view reason = unavailableReasonKey(state_);
    unavailable_->setVisible(!reason.empty());
    // What the channels would bring means nothing while nothing is checked.
    channelFooter_->setVisible(reason.empty());
    unavailable_->setText(reason.empty() ? QString() : state_.text(reason));
    // A channel means nothing to a build that checks nothing: greyed, with the reason.
    for (QAbstractButton* segment : channel_->buttons()) {
        segment->setEnabled(reason.empty());
        segment->setToolTip(unavailable_->text());
    }
    const QSignalBlocker blocker(channel_);
    channel_->button(state_.usesBetaChannel() ? 1 : 0)->setChecked(true);
}

}  // namespace tesvano
