#pragma once

#include <QWidget>
#include <functional>

#include "PermissionFlow/Panels/AppDragSourceView.h"
#include "PermissionFlow/PermissionFlowController.h"

class QLabel;
class QPushButton;
class QToolButton;
class QStackedLayout;

namespace PermissionFlow {

// The arrow in the panel's header: it rocks while the panel waits and pulses while the user
// drags.
class HeaderDirectionIcon final : public QWidget {
public:
    HeaderDirectionIcon(SymbolProvider symbols, QWidget* parent = nullptr);
    void setDragging(bool dragging);
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SymbolProvider symbols_;
    bool dragging_ = false;
    bool phase_ = false;
    int timer_ = 0;
    void timerEvent(QTimerEvent* event) override;
};

// The content of the floating panel. Follows the controller: a waiting row while the
// settings window opens, else the instruction with the application's card, the button that
// brings the settings back and the one that ends the flow; for Accessibility, the switch
// that turns assistive technologies on.
class PermissionFlowPanelView final : public QWidget {
    Q_OBJECT

public:
    PermissionFlowPanelView(PermissionFlowController& controller, SymbolProvider symbols,
                            QWidget* parent = nullptr);

    // Asked before assistive technologies are turned on; true to go ahead. Tests replace it.
    std::function<bool(QWidget* parent)> confirmTurnOn;
    // Told of a drag's start and end (the panel fades and lets the mouse through).
    std::function<void(bool dragging)> onDragStateChange;

    void refresh();
    QString instructionText() const;
    // What turning assistive technologies on does, and how to turn them off again here.
    QString confirmationText() const;
    AppDragSourceView* card() const { return card_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void turnOn();
    QString text(std::string_view key, std::string_view fallback) const;

    PermissionFlowController& controller_;
    SymbolProvider symbols_;
    tesvano::platform::Registration observer_;
    QStackedLayout* stack_ = nullptr;
    QWidget* waitingRow_ = nullptr;
    QLabel* waitingLabel_ = nullptr;
    QWidget* content_ = nullptr;
    HeaderDirectionIcon* arrow_ = nullptr;
    QLabel* instruction_ = nullptr;
    QToolButton* gear_ = nullptr;
    AppDragSourceView* card_ = nullptr;
    QWidget* switchRow_ = nullptr;
    QPushButton* turnOn_ = nullptr;
    QLabel* switchNote_ = nullptr;
};

}  // namespace PermissionFlow
