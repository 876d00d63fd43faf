#pragma once

#include <QPushButton>
#include <filesystem>
#include <memory>
#include <vector>

#include "PermissionFlow/Panels/AppDragSourceView.h"
#include "PermissionFlow/PermissionFlowButtonState.h"
#include "PermissionFlow/PermissionFlowController.h"

namespace PermissionFlow {

// The library's ready-made grant button: shows whether the permission is granted and, when
// pressed, opens the guided flow (or, for the devices and calendars, the settings after a
// fresh look at the state).
class PermissionFlowButton final : public QPushButton {
    Q_OBJECT

public:
    PermissionFlowButton(PermissionFlowPane pane, std::vector<std::filesystem::path> suggested,
                         std::unique_ptr<PermissionFlowController> controller,
                         SymbolProvider symbols, QWidget* parent = nullptr);

    const PermissionFlowButtonState& buttonState() const { return state_; }
    PermissionFlowController& controller() { return *controller_; }
    void refreshStatus();
    void handleTap();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setButtonState(const PermissionFlowButtonState& state);

    PermissionFlowPane pane_;
    std::vector<std::filesystem::path> suggested_;
    std::unique_ptr<PermissionFlowController> controller_;
    SymbolProvider symbols_;
    PermissionFlowButtonState state_ =
        PermissionFlowButtonState::forState(PermissionAuthorizationState::checking);
};

}  // namespace PermissionFlow
