#include "PermissionFlow/Panels/PermissionFlowPanelView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QTimerEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "PermissionFlow/PanelText.h"
#include "PermissionFlow/PermissionFlowResources.h"

namespace PermissionFlow {

HeaderDirectionIcon::HeaderDirectionIcon(SymbolProvider symbols, QWidget* parent)
    : QWidget(parent), symbols_(std::move(symbols)) {
    setFixedSize(sizeHint());
    timer_ = startTimer(220);
}

void HeaderDirectionIcon::setDragging(bool dragging) {
    if (dragging == dragging_) {
        return;
    }
    dragging_ = dragging;
    phase_ = dragging;
    killTimer(timer_);
    timer_ = startTimer(dragging ? 680 : 220);
    QWidget::update();
}

void HeaderDirectionIcon::timerEvent(QTimerEvent*) {
    phase_ = !phase_;
    QWidget::update();
}

void HeaderDirectionIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(width() / 2.0, height() / 2.0);
    if (dragging_) {
        const double scale = phase_ ? 1.18 : 0.88;
        painter.scale(scale, scale);
    } else {
        painter.translate(0, phase_ ? -2 : 1);
        painter.rotate(phase_ ? 12 : -12);
    }
    const QIcon icon = symbols_ ? symbols_("arrowshape.up.fill") : QIcon();
    painter.drawPixmap(QRectF(-8, -8, 16, 16).toRect(), icon.pixmap(16, 16));
}

PermissionFlowPanelView::PermissionFlowPanelView(PermissionFlowController& controller,
                                                 SymbolProvider symbols, QWidget* parent)
    : QWidget(parent), controller_(controller), symbols_(std::move(symbols)) {
    setObjectName(QStringLiteral("permissionFlowPanelView"));
    auto icon = [this](std::string_view name) { return symbols_ ? symbols_(name) : QIcon(); };
    auto closeButton = [this, icon] {
        auto* b = new QToolButton(this);
        b->setObjectName(QStringLiteral("closeFlow"));
        b->setAutoRaise(true);
        b->setIcon(icon("xmark.circle.fill"));
        b->setIconSize(QSize(18, 18));
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this] { controller_.stop(true); });
        return b;
    };

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 8, 12, 12);
    stack_ = new QStackedLayout;
    outer->addLayout(stack_);

    waitingRow_ = new QWidget(this);
    auto* waiting = new QHBoxLayout(waitingRow_);
    waiting->setContentsMargins(0, 0, 0, 0);
    waiting->setSpacing(10);
    auto* busy = new QProgressBar(waitingRow_);
    busy->setRange(0, 0);
    busy->setMaximumWidth(48);
    busy->setTextVisible(false);
    waitingLabel_ = new QLabel(waitingRow_);
    waiting->addWidget(busy);
    waiting->addWidget(waitingLabel_, 1);
    waiting->addWidget(closeButton(), 0, Qt::AlignTop);
    waitingRow_->setMinimumHeight(36);
    stack_->addWidget(waitingRow_);

    content_ = new QWidget(this);
    auto* column = new QVBoxLayout(content_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* header = new QHBoxLayout;
    header->setSpacing(3);
    arrow_ = new HeaderDirectionIcon(symbols_, content_);
    instruction_ = new QLabel(content_);
    instruction_->setObjectName(QStringLiteral("instruction"));
    instruction_->setTextFormat(Qt::RichText);
    instruction_->setWordWrap(true);
    QFont font = instruction_->font();
    font.setPointSizeF(font.pointSizeF() * 1.1);
    instruction_->setFont(font);
    gear_ = new QToolButton(content_);
    gear_->setObjectName(QStringLiteral("reopenSettings"));
    gear_->setAutoRaise(true);
    gear_->setIcon(icon("gearshape"));
    gear_->setIconSize(QSize(15, 15));
    gear_->setFocusPolicy(Qt::NoFocus);
    connect(gear_, &QToolButton::clicked, this, [this] { controller_.reopenSettings(); });
    header->addWidget(arrow_, 0, Qt::AlignTop);
    header->addWidget(instruction_, 1);
    header->addWidget(gear_, 0, Qt::AlignTop);
    header->addWidget(closeButton(), 0, Qt::AlignTop);
    column->addLayout(header);

    switchRow_ = new QWidget(content_);
    auto* switchColumn = new QVBoxLayout(switchRow_);
    switchColumn->setContentsMargins(0, 2, 0, 0);
    switchColumn->setSpacing(4);
    turnOn_ = new QPushButton(switchRow_);
    turnOn_->setObjectName(QStringLiteral("turnOnAssistiveTechnologies"));
    turnOn_->setFocusPolicy(Qt::NoFocus);
    connect(turnOn_, &QPushButton::clicked, this, [this] { turnOn(); });
    switchNote_ = new QLabel(switchRow_);
    switchNote_->setObjectName(QStringLiteral("switchNote"));
    switchNote_->setWordWrap(true);
    switchNote_->setForegroundRole(QPalette::PlaceholderText);
    switchColumn->addWidget(turnOn_, 0, Qt::AlignLeft);
    switchColumn->addWidget(switchNote_);
    column->addWidget(switchRow_);
    stack_->addWidget(content_);

    confirmTurnOn = [this](QWidget* parentWidget) {
        return QMessageBox::question(
                   parentWidget,
                   text("permission_flow.switch.confirm_title", "Turn On Assistive Technologies?"),
                   confirmationText()) == QMessageBox::Yes;
    };
    observer_ = controller_.addObserver([this] { refresh(); });
    refresh();
}

QString PermissionFlowPanelView::text(std::string_view key, std::string_view fallback) const {
    return QString::fromStdString(PermissionFlowResources::localizedString(
        key, std::string(fallback), controller_.localeIdentifier()));
}

QString PermissionFlowPanelView::instructionText() const {
    const auto url = controller_.primaryAppURL();
    const std::string app =
        url ? applicationLook(*url, controller_.localeIdentifier()).second.toStdString()
            : text("permission_flow.app.this_app", "This App").toStdString();
    const auto& pane = controller_.currentPane();
    const std::string permission =
        pane ? localizedName(*pane, controller_.localeIdentifier())
             : text("permission_flow.pane.permission", "Permission").toStdString();
    if (controller_.offersAppDrag()) {
        const auto templ =
            text("permission_flow.panel.title", "Allow **%@** to use **%@** in the settings above.")
                .toStdString();
        return QString::fromStdString(instructionHTML(templ, app, permission));
    }
    // Said as the desktop's settings really offer it.
    const std::string desktop(SystemSettings::desktopName(controller_.desktop()));
    std::string html;
    if (controller_.settingsGrant() == SystemSettings::AccessGrant::assistiveTechnologies) {
        html = instructionHTML(text("permission_flow.panel.settings_switch",
                                    "Turn on **Enable assistive technologies** in the settings "
                                    "above; %@ applies it at your next login.")
                                   .toStdString(),
                               desktop, {});
    } else {
        html = instructionHTML(text("permission_flow.panel.no_grant",
                                    "The accessibility settings of %@ have no switch that lets "
                                    "**%@** read the windows of other programs.")
                                   .toStdString(),
                               desktop, app);
    }
    if (controller_.offersAssistiveTechnologySwitch()) {
        // Appended in two steps: GCC 12 sees an overlap that is not there in `" " + temporary`
        // once optimised (-Wrestrict).
        html += ' ';
        html += escapeHTML(text("permission_flow.panel.use_switch",
                                "The button below turns assistive technologies on now, which is "
                                "all Tesvano needs.")
                               .toStdString());
    }
    return QString::fromStdString(html);
}

QString PermissionFlowPanelView::confirmationText() const {
    const QString what = text("permission_flow.switch.confirm_what",
                              "Programs that support assistive technologies will then let Tesvano "
                              "read their windows, such as the address of the page a browser "
                              "shows.");
    // Only a settings program with a switch of its own can turn them off again.
    const bool settingsSwitch =
        controller_.hasSettingsWindow() &&
        controller_.settingsGrant() == SystemSettings::AccessGrant::assistiveTechnologies;
    const QString off =
        settingsSwitch
            ? text("permission_flow.switch.confirm_off_settings",
                   "You can turn them off again in the settings above.")
            : text("permission_flow.switch.confirm_off_command",
                   "They stay on, also after you log in again. To turn them off, run: gsettings "
                   "set org.gnome.desktop.interface toolkit-accessibility false");
    return what + QLatin1Char(' ') + off;
}

void PermissionFlowPanelView::refresh() {
    const bool awaiting = controller_.isAwaitingSettingsWindow();
    stack_->setCurrentWidget(awaiting ? waitingRow_ : content_);
    waitingLabel_->setText(text("permission_flow.panel.opening_settings", "Opening Settings..."));
    arrow_->setDragging(controller_.isDraggingApp());
    arrow_->setVisible(controller_.hasSettingsWindow());
    if (controller_.hasSettingsWindow()) {
        instruction_->setText(instructionText());
    } else {
        instruction_->setText(QString::fromStdString(escapeHTML(
            text("permission_flow.panel.no_settings",
                 "No settings program of this desktop could be opened. Turn the permission "
                 "on here.")
                .toStdString())));
    }
    gear_->setVisible(controller_.hasSettingsWindow() && !controller_.isSettingsActive());

    const auto url = controller_.primaryAppURL();
    if (url && controller_.offersAppDrag()) {
        if (!card_) {
            card_ = new AppDragSourceView(*url, controller_.localeIdentifier(), symbols_, content_);
            card_->onDragStateChange = [this](bool dragging) {
                controller_.setDraggingApp(dragging);
                if (onDragStateChange) {
                    onDragStateChange(dragging);
                }
            };
            static_cast<QVBoxLayout*>(content_->layout())->insertWidget(1, card_);
        } else {
            card_->update(*url, controller_.localeIdentifier());
        }
    } else if (card_) {
        card_->deleteLater();
        card_ = nullptr;
    }

    switchRow_->setVisible(controller_.offersAssistiveTechnologySwitch());
    turnOn_->setText(text("permission_flow.switch.turn_on", "Turn On Assistive Technologies"));
    if (switchNote_->property("error").toString().isEmpty()) {
        switchNote_->setText(text("permission_flow.switch.note",
                                  "A browser that is already running may need a restart before "
                                  "Tesvano can read its pages."));
    }
}

void PermissionFlowPanelView::turnOn() {
    if (confirmTurnOn && !confirmTurnOn(window())) {
        return;
    }
    auto done = controller_.turnOnAssistiveTechnologies();
    if (!done) {
        const QString message =
            text("permission_flow.switch.failed",
                 "Assistive technologies could not be turned "
                 "on: %@")
                .replace(QStringLiteral("%@"), QString::fromStdString(done.error()));
        switchNote_->setProperty("error", message);
        switchNote_->setText(message);
        return;
    }
    switchNote_->setProperty("error", QString());
    turnOn_->setEnabled(false);
}

void PermissionFlowPanelView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    painter.fillPath(path, palette().color(QPalette::Window));
    QColor stroke = palette().color(QPalette::WindowText);
    stroke.setAlphaF(0.14f);
    painter.setPen(QPen(stroke, 1));
    painter.drawPath(path);
}

}  // namespace PermissionFlow
