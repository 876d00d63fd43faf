#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "PermissionFlow/PanelGeometry.h"
#include "PermissionFlow/Panels/PermissionFlowPanelView.h"
#include "PermissionFlow/PermissionFlowController.h"

namespace PermissionFlow {

// The small panel that floats below the settings program's window, without title bar. It
// never takes the keyboard focus, so the settings program stays the active window. Its first
// appearance flies from the button the flow started from along an upward arc.
class FloatingDropPanel final : public QWidget, public FloatingPanel {
    Q_OBJECT

public:
    FloatingDropPanel(PermissionFlowController& controller, SymbolProvider symbols);
    ~FloatingDropPanel() override;

    void refreshContent() override;
    void launchWhileAwaiting(const std::optional<Rect>& source) override;
    void launch(const Rect& source, const Rect& settingsFrame) override;
    void place(const Rect& settingsFrame) override;
    void setLocaleIdentifier(const std::optional<std::string>& identifier) override;
    void orderFrontRegardless() override;
    void close() override;

    PermissionFlowPanelView* view() const { return view_; }
    bool isAnimatingLaunch() const { return isAnimatingLaunch_; }
    void cancelLaunchAnimation();
    // The screens as the geometry sees them.
    static PanelGeometry::Screens screens();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    double fittingHeight(double width) const;
    void fitToContent();
    void showAt(const Rect& frame, double opacity);
    void animationStep();
    void reveal();
    void setDragging(bool dragging);

    PermissionFlowController& controller_;
    PermissionFlowPanelView* view_ = nullptr;
    QTimer launchTimer_;
    bool revealPending_ = false;
    QElapsedTimer launchClock_;
    QPointF launchAnchor_;
    Rect launchFromFrame_;
    Rect launchToFrame_;
    bool isAnimatingLaunch_ = false;
    std::optional<std::string> localeIdentifier_;
    std::pair<quint64, QPointF> lastPress_{};
};

// The panel as the controller owns it: dropping it deletes the widget once control is back
// in the event loop, so the panel's own buttons may end the flow.
std::unique_ptr<FloatingPanel> makeFloatingDropPanel(PermissionFlowController& controller,
                                                     SymbolProvider symbols);

}  // namespace PermissionFlow
