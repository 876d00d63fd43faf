#include "KeyboardShortcuts/Recorder/Recorder.h"

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <algorithm>
#include <string_view>
#include <utility>

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Library.h"
#include "KeyboardShortcuts/Recorder/LocalEventMonitor.h"
#include "KeyboardShortcuts/Recorder/MainMenu.h"
#include "KeyboardShortcuts/Recorder/QtInputEvent.h"
#include "KeyboardShortcuts/ShortcutDisplay.h"
#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace KeyboardShortcuts {

namespace {

using Action = RecorderDecision::Action;

std::function<void()>& beepHandler() {
    static std::function<void()> handler;
    return handler;
}

std::function<int(QWidget*, const RecorderAlert&)>& alertPresenter() {
    static std::function<int(QWidget*, const RecorderAlert&)> presenter;
    return presenter;
}

void beep() {
    if (beepHandler()) {
        beepHandler()();
    } else {
        QApplication::beep();
    }
}

int presentAlert(QWidget* parent, const RecorderAlert& alert) {
    if (alertPresenter()) {
        return alertPresenter()(parent, alert);
    }
    QMessageBox box(parent);
    box.setIcon(QMessageBox::NoIcon);
    box.setText(alert.messageText);
    box.setInformativeText(alert.informativeText);
    // Modal to the recorder's window when it has one, to the whole program otherwise.
    box.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    QList<QAbstractButton*> buttons;
    if (alert.buttons.isEmpty()) {
        buttons.append(box.addButton(QMessageBox::Ok));
    }
    for (qsizetype i = 0; i < alert.buttons.size(); ++i) {
        buttons.append(box.addButton(alert.buttons[i],
                                     i == 0 ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.exec();
    const auto chosen = buttons.indexOf(box.clickedButton());
    return chosen < 0 ? 0 : static_cast<int>(chosen);
}

// The recorder's texts follow the interface language.
QString localized(std::string_view key) {
    return QString::fromStdString(tesvano::LanguageOverride::text(key));
}

constexpr int kForceUseButton = 1;

}  // namespace

void setBeepHandler(std::function<void()> handler) {
    beepHandler() = std::move(handler);
}

void setAlertPresenter(std::function<int(QWidget*, const RecorderAlert&)> presenter) {
    alertPresenter() = std::move(presenter);
}

Recorder::Recorder(Name name, OnChange onChange, QWidget* parent)
    : QLineEdit(parent), shortcutName_(std::move(name)), onChange_(std::move(onChange)) {
    // Nothing is ever typed into the field: it shows what was recorded, without a caret.
    setReadOnly(true);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setAcceptDrops(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::ClickFocus);

    clearAction_ = addAction(style()->standardIcon(QStyle::SP_LineEditClearButton),
                             QLineEdit::TrailingPosition);
    connect(clearAction_, &QAction::triggered, this, [this] { clearShortcut(); });

    retranslate();
    showStoredShortcut();
    shortcutsNameChangeObserver_ = observeShortcutByNameDidChange([this](const Name& changed) {
        if (changed.rawValue == shortcutName_.rawValue) {
            showStoredShortcut();
        }
    });
}

Recorder::~Recorder() {
    shortcutsNameChangeObserver_.cancel();
    stopRecording();
}

void Recorder::setShortcutName(const Name& name) {
    const bool differs = name.rawValue != shortcutName_.rawValue;
    shortcutName_ = name;
    if (differs) {
        showStoredShortcut();
    }
}

bool Recorder::isRecording() const {
    return eventMonitor_ != nullptr;
}

bool Recorder::isClearButtonShown() const {
    return clearAction_->isVisible();
}

void Recorder::retranslate() {
    setPlaceholderText(localized(isRecording() ? "press_shortcut" : "record_shortcut"));
}

// Wide enough for the longest placeholder of any interface language, centred between the
// frame and room for the clear button on both sides.
QSize Recorder::sizeHint() const {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const auto& [language, code] : tesvano::EnumTable<tesvano::SupportedLanguage>::entries) {
        for (std::string_view key : {N_("record_shortcut"), N_("press_shortcut")}) {
            widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(
                                          tesvano::Localization::text(key, language))));
        }
    }
    const int button = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this) + 6;
    const int frame = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) + 8;
    return {std::max(minimumWidth, widest + 2 * button + frame), QLineEdit::sizeHint().height()};
}

// Qt hides the placeholder of a centred field that has the focus, which is exactly when a
// recorder records; the prompt is drawn here instead.
void Recorder::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    if (!isRecording() || !text().isEmpty() || placeholderText().isEmpty()) {
        return;
    }
    QPainter painter(this);
    QColor color = palette().color(QPalette::PlaceholderText);
    painter.setPen(color);
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect area = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    painter.drawText(area, Qt::AlignCenter,
                     fontMetrics().elidedText(placeholderText(), Qt::ElideRight, area.width()));
}

QSize Recorder::minimumSizeHint() const {
    return sizeHint();
}

void Recorder::showStoredShortcut() {
    const auto shortcut = getShortcut(shortcutName_);
    setText(shortcut ? QString::fromStdString(shortcut->description()) : QString());
    updateClearButton();
}

void Recorder::updateClearButton() {
    clearAction_->setVisible(!text().isEmpty());
}

bool Recorder::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::Show:
        case QEvent::WindowActivate:
            preventBecomingKey();
            break;
        case QEvent::WindowDeactivate:
            // Switching to another window ends recording, and the field does not take the
            // focus back when the window returns.
            if (hasFocus()) {
                endRecording();
            }
            break;
        default:
            break;
    }
    return QLineEdit::event(event);
}

void Recorder::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        retranslate();
    }
    QLineEdit::changeEvent(event);
}

// A window that becomes active gives the focus to the first widget that takes it from the
// keyboard; that must not be a recorder, or opening the window would start recording. Until
// the event loop has turned once the field takes the focus from clicks only.
void Recorder::preventBecomingKey() {
    canBecomeKey_ = false;
    setFocusPolicy(Qt::ClickFocus);
    QTimer::singleShot(0, this, [this] {
        canBecomeKey_ = true;
        setFocusPolicy(Qt::StrongFocus);
    });
}

void Recorder::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    startRecording();
}

void Recorder::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    stopRecording();
}

void Recorder::hideEvent(QHideEvent* event) {
    stopRecording();
    QLineEdit::hideEvent(event);
}

void Recorder::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    // A click on the focused field after Tab ended recording without moving the focus.
    if (hasFocus()) {
        startRecording();
    }
}

void Recorder::startRecording() {
    if (isRecording()) {
        return;
    }
    eventMonitor_ = std::make_unique<LocalEventMonitor>(
        QSet<QEvent::Type>{QEvent::KeyPress, QEvent::ShortcutOverride, QEvent::MouseButtonRelease},
        [this](QObject* receiver, QEvent* event) { return handleEvent(receiver, event); });
    eventMonitor_->start();
    retranslate();
    updateClearButton();
    setPaused(true);
}

void Recorder::stopRecording() {
    if (!isRecording()) {
        return;
    }
    // May run inside the monitor's own callback, which touches nothing of it afterwards.
    eventMonitor_.reset();
    retranslate();
    updateClearButton();
    if (Library::isInstalled()) {
        setPaused(false);
    }
}

void Recorder::endRecording() {
    stopRecording();
    if (hasFocus()) {
        clearFocus();
    }
}

int Recorder::presentAlertAndResume(const RecorderAlert& alert) {
    const QPointer<Recorder> self(this);
    endRecording();
    const int answer = presentAlert(window(), alert);
    if (self) {
        setFocus(Qt::OtherFocusReason);
    }
    return answer;
}

void Recorder::clearShortcut() {
    const QPointer<Recorder> self(this);
    setText(QString());
    setShortcut(std::nullopt, shortcutName_);
    if (onChange_) {
        onChange_(std::nullopt);
    }
    if (!self) {
        return;
    }
    updateClearButton();
    // Recording goes on (or starts, after a click on the clear button of an idle field).
    if (!hasFocus()) {
        setFocus(Qt::OtherFocusReason);
    }
}

void Recorder::accept(const Shortcut& shortcut) {
    const QPointer<Recorder> self(this);
    setText(QString::fromStdString(shortcut.description()));
    updateClearButton();
    userDefaultsSet(shortcutName_, shortcut);
    if (onChange_) {
        onChange_(shortcut);
    }
    if (self) {
        endRecording();
    }
}

RecorderContext Recorder::context() const {
    RecorderContext out;
    out.width = width();
    out.height = height();
    out.cancelButtonShown = isClearButtonShown();
    out.menuItemUsing = [](const Shortcut& shortcut) -> std::optional<std::string> {
        const auto menu = mainMenu();
        if (const MenuItem* item = takenByMainMenu(shortcut, menu, keyboardLayout())) {
            return item->title;
        }
        return std::nullopt;
    };
    out.isReservedBySystem = [](const Shortcut& shortcut) {
        return hotKeyRegistrar().isReservedBySystem(shortcut);
    };
    return out;
}

bool Recorder::handleEvent(QObject* receiver, QEvent* event) {
    // Events reach the window object first and then the widget; decide once, at the widget.
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (widget == nullptr) {
        return false;
    }

    InputEvent input;
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            // No action of the program may take the key from the recorder.
            event->accept();
            return true;
        case QEvent::KeyPress:
            input = inputEventFromQt(*static_cast<QKeyEvent*>(event));
            break;
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton) {
                return false;
            }
            // The clear button must get its click.
            if (widget != this && isAncestorOf(widget)) {
                return false;
            }
            input.type = mouse->button() == Qt::LeftButton ? InputEvent::Type::leftMouseUp
                                                           : InputEvent::Type::rightMouseUp;
            const QPointF position = mapFromGlobal(mouse->globalPosition());
            input.x = position.x();
            input.y = position.y();
            break;
        }
        default:
            return false;
    }

    const RecorderDecision decision = decideRecorderEvent(input, context());
    switch (decision.action) {
        case Action::passOn:
            return false;
        case Action::swallow:
            return true;
        case Action::endAndPassOn:
            if (event->type() == QEvent::KeyPress) {
                // Tab: the focus moves on with the key.
                stopRecording();
            } else {
                endRecording();
            }
            return false;
        case Action::endAndSwallow:
            endRecording();
            return true;
        case Action::clear:
            clearAction_->trigger();
            return true;
        case Action::beep:
            beep();
            return true;
        case Action::menuConflict:
            presentAlertAndResume({localized("keyboard_shortcut_used_by_menu_item")
                                       .arg(QString::fromStdString(decision.menuItemTitle)),
                                   {},
                                   {}});
            return true;
        case Action::systemConflict: {
            const QPointer<Recorder> self(this);
            const int answer =
                presentAlertAndResume({localized("keyboard_shortcut_used_by_system"),
                                       localized("keyboard_shortcuts_can_be_changed"),
                                       {localized("ok"), localized("force_use_shortcut")}});
            if (self && answer == kForceUseButton && decision.shortcut) {
                accept(*decision.shortcut);
            }
            return true;
        }
        case Action::accept:
            if (decision.shortcut) {
                accept(*decision.shortcut);
            }
            return true;
    }
    return true;
}

}  // namespace KeyboardShortcuts
