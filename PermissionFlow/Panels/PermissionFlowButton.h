#pragma once

#include <QPushButton>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "PermissionFlow/Panels/AppDragSourceView.h"
#include "PermissionFlow/PermissionFlowButtonState.h"
#include "PermissionFlow/PermissionFlowController.h"

namespace PermissionFlow {

// The library's ready-made grant button: shows whether the permission is granted and, when
// pressed, opens the guided flow (or, for the devices and calendars, the settings after a
// fresh look at the state).
// Its texts are in the button's locale (QWidget::locale), which it hands to the flow it opens;
// a granted permission shows in green.
class PermissionFlowButton final : public QPushButton {
    Q_OBJECT

public:
    // What the button says for a state, in place of the state's own title.
    using Label = std::function<QString(const PermissionFlowButtonState&)>;

    PermissionFlowButton(PermissionFlowPane pane, std::vector<std::filesystem::path> suggested,
                         std::unique_ptr<PermissionFlowController> controller,
                         SymbolProvider symbols, QWidget* parent = nullptr);
    // With a title of the caller's own, shown whatever the state (the symbol still follows it).
    PermissionFlowButton(PermissionFlowPane pane, std::vector<std::filesystem::path> suggested,
                         std::unique_ptr<PermissionFlowController> controller,
                         SymbolProvider symbols, QString title, QWidget* parent = nullptr);
    // With a label the caller makes from the state.
    PermissionFlowButton(PermissionFlowPane pane, std::vector<std::filesystem::path> suggested,
                         std::unique_ptr<PermissionFlowController> controller,
                         SymbolProvider symbols, Label label, QWidget* parent = nullptr);

    const PermissionFlowButtonState& buttonState() const { return state_; }
    PermissionFlowController& controller() { return *controller_; }
    void refreshStatus();
    void handleTap();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setButtonState(const PermissionFlowButtonState& state);
    void handLocaleToFlow();

    PermissionFlowPane pane_;
    std::vector<std::filesystem::path> suggested_;
    std::unique_ptr<PermissionFlowController> controller_;
    SymbolProvider symbols_;
    Label label_;
    PermissionFlowButtonState state_ =
        PermissionFlowButtonState::forState(PermissionAuthorizationState::checking);
};

}  // namespace PermissionFlow
