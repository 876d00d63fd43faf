#include "PermissionFlow/Panels/FloatingDropPanel.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace PermissionFlow {

namespace {

QRect toQRect(const Rect& r) {
    return QRect(qRound(r.x), qRound(r.y), qRound(r.width), qRound(r.height));
}

Rect toRect(const QRect& r) {
    return {double(r.x()), double(r.y()), double(r.width()), double(r.height())};
}

}  // namespace

PanelGeometry::Screens FloatingDropPanel::screens() {
    PanelGeometry::Screens out;
    for (QScreen* screen : QGuiApplication::screens()) {
        out.frames.push_back(toRect(screen->geometry()));
        out.available.push_back(toRect(screen->availableGeometry()));
    }
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        out.primaryAvailable = toRect(primary->availableGeometry());
    }
    return out;
}

FloatingDropPanel::FloatingDropPanel(PermissionFlowController& controller, SymbolProvider symbols)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      controller_(controller),
      localeIdentifier_(controller.localeIdentifier()) {
    setObjectName(QStringLiteral("floatingDropPanel"));
    setWindowTitle(QStringLiteral("Tesvano"));
    // Never activates: the settings program keeps the keyboard.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new PermissionFlowPanelView(controller, std::move(symbols), this);
    view_->onDragStateChange = [this](bool dragging) { setDragging(dragging); };
    layout->addWidget(view_);
    // A press anywhere on the panel brings the settings program forward, as clicking a window
    // of it would; the panel itself never becomes active.
    QApplication::instance()->installEventFilter(this);
    launchTimer_.setInterval(1000 / 60);
    connect(&launchTimer_, &QTimer::timeout, this, [this] { animationStep(); });
    resize(int(PanelGeometry::initialPanelWidth),
           int(std::max(fittingHeight(PanelGeometry::initialPanelWidth),
                        PanelGeometry::minimumPanelHeight)));
}

FloatingDropPanel::~FloatingDropPanel() {
    cancelLaunchAnimation();
}

bool FloatingDropPanel::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // The content's layout settled (texts changed, or the first show measured them in their
    // real fonts): a text that wraps onto more lines makes the panel taller, so none is cut.
    if (event->type() == QEvent::LayoutRequest) {
        fitToContent();
    }
    return handled;
}

bool FloatingDropPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto button = mouse->button();
        // A press no widget takes travels up the parents as copies: act on the first only.
        const auto press = std::pair(mouse->timestamp(), mouse->globalPosition());
        if (widget && widget->window() == this && press != lastPress_ &&
            (button == Qt::LeftButton || button == Qt::RightButton)) {
            lastPress_ = press;
            controller_.activateSettings();
            orderFrontRegardless();
        }
    }
    return false;
}

double FloatingDropPanel::fittingHeight(double width) const {
    const int w = qRound(width);
    if (view_->hasHeightForWidth()) {
        return view_->heightForWidth(w);
    }
    return view_->sizeHint().height();
}

void FloatingDropPanel::refreshContent() {
    view_->refresh();
}

void FloatingDropPanel::fitToContent() {
    // A flight in progress lands at its own fitted frame.
    if (!isVisible() || isAnimatingLaunch_) {
        return;
    }
    const int fitted = int(std::max(fittingHeight(width()), PanelGeometry::minimumPanelHeight));
    if (fitted != height()) {
        resize(width(), fitted);
    }
}

void FloatingDropPanel::setLocaleIdentifier(const std::optional<std::string>& identifier) {
    if (identifier == localeIdentifier_) {
        return;
    }
    localeIdentifier_ = identifier;
    refreshContent();
    resize(width(), int(std::max(fittingHeight(width()), PanelGeometry::minimumPanelHeight)));
}

void FloatingDropPanel::cancelLaunchAnimation() {
    launchTimer_.stop();
    revealPending_ = false;
}

void FloatingDropPanel::showAt(const Rect& frame, double opacity) {
    setGeometry(toQRect(frame));
    setWindowOpacity(opacity);
    setAttribute(Qt::WA_TransparentForMouseEvents, opacity <= 0);
    if (!isVisible()) {
        show();
    }
    raise();
}

void FloatingDropPanel::launchWhileAwaiting(const std::optional<Rect>& source) {
    cancelLaunchAnimation();
    isAnimatingLaunch_ = false;
    const double h = std::max(fittingHeight(PanelGeometry::initialPanelWidth),
                              PanelGeometry::minimumPanelHeight);
    showAt(PanelGeometry::awaitingFrame(source, h, screens()), 1);
}

void FloatingDropPanel::launch(const Rect& source, const Rect& settingsFrame) {
    cancelLaunchAnimation();
    const auto all = screens();
    const Rect target = PanelGeometry::targetFrame(settingsFrame, all,
                                                   [this](double w) { return fittingHeight(w); });
    if (source.isEmpty()) {
        isAnimatingLaunch_ = false;
        showAt(target, 1);
        return;
    }
    const bool wasShowing = isVisible() && windowOpacity() > 0.01;
    isAnimatingLaunch_ = true;
    launchAnchor_ = QPointF(source.x + source.width / 2, source.y + source.height / 2);
    launchToFrame_ = target;
    launchFromFrame_ =
        PanelGeometry::clamp({launchAnchor_.x() - target.width / 2,
                              launchAnchor_.y() - target.height / 2, target.width, target.height},
                             all);
    if (wasShowing) {
        showAt(launchFromFrame_, 1);
        launchClock_.start();
        animationStep();
        launchTimer_.start();
        return;
    }
    showAt(launchFromFrame_, 0);
    revealPending_ = true;
    QPointer<FloatingDropPanel> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self) {
            self->reveal();
        }
    });
}

void FloatingDropPanel::reveal() {
    if (!revealPending_ || !isAnimatingLaunch_ || launchTimer_.isActive()) {
        return;
    }
    revealPending_ = false;
    launchFromFrame_ = PanelGeometry::clamp({launchAnchor_.x() - launchToFrame_.width / 2,
                                             launchAnchor_.y() - launchToFrame_.height / 2,
                                             launchToFrame_.width, launchToFrame_.height},
                                            screens());
    showAt(launchFromFrame_, PanelGeometry::initialAlpha);
    launchClock_.start();
    animationStep();
    launchTimer_.start();
}

void FloatingDropPanel::animationStep() {
    const double t = std::max(0.0, launchClock_.elapsed() / 1000.0);
    if (t >= PanelGeometry::animationDuration) {
        isAnimatingLaunch_ = false;
        cancelLaunchAnimation();
        setWindowOpacity(1);
        setGeometry(toQRect(launchToFrame_));
        return;
    }
    const double p = PanelGeometry::launchProgress(t);
    setWindowOpacity(PanelGeometry::initialAlpha + (1 - PanelGeometry::initialAlpha) * p);
    setGeometry(toQRect(PanelGeometry::interpolatedFrame(launchFromFrame_, launchToFrame_, p)));
}

void FloatingDropPanel::place(const Rect& settingsFrame) {
    const Rect target = PanelGeometry::targetFrame(settingsFrame, screens(),
                                                   [this](double w) { return fittingHeight(w); });
    if (isAnimatingLaunch_) {
        // The running flight re-aims.
        launchToFrame_ = target;
        return;
    }
    cancelLaunchAnimation();
    setGeometry(toQRect(target));
    if (!isVisible()) {
        show();
    }
    raise();
}

void FloatingDropPanel::orderFrontRegardless() {
    if (!isVisible()) {
        show();
    }
    raise();
}

void FloatingDropPanel::close() {
    isAnimatingLaunch_ = false;
    cancelLaunchAnimation();
    hide();
}

void FloatingDropPanel::setDragging(bool dragging) {
    setAttribute(Qt::WA_TransparentForMouseEvents, dragging);
    setWindowOpacity(dragging ? 0.72 : 1.0);
    if (dragging) {
        lower();
    } else {
        raise();
    }
}

namespace {

class DeferredPanel final : public FloatingPanel {
public:
    explicit DeferredPanel(FloatingDropPanel* panel) : panel_(panel) {}
    ~DeferredPanel() override {
        if (panel_) {
            panel_->hide();
            panel_->deleteLater();
        }
    }
    void refreshContent() override {
        if (panel_)
            panel_->refreshContent();
    }
    void launchWhileAwaiting(const std::optional<Rect>& source) override {
        if (panel_)
            panel_->launchWhileAwaiting(source);
    }
    void launch(const Rect& source, const Rect& settingsFrame) override {
        if (panel_)
            panel_->launch(source, settingsFrame);
    }
    void place(const Rect& settingsFrame) override {
        if (panel_)
            panel_->place(settingsFrame);
    }
    void setLocaleIdentifier(const std::optional<std::string>& identifier) override {
        if (panel_)
            panel_->setLocaleIdentifier(identifier);
    }
    void orderFrontRegardless() override {
        if (panel_)
            panel_->orderFrontRegardless();
    }
    void close() override {
        if (panel_)
            panel_->close();
    }

private:
    QPointer<FloatingDropPanel> panel_;
};

}  // namespace

std::unique_ptr<FloatingPanel> makeFloatingDropPanel(PermissionFlowController& controller,
                                                     SymbolProvider symbols) {
    return std::make_unique<DeferredPanel>(new FloatingDropPanel(controller, std::move(symbols)));
}

}  // namespace PermissionFlow
