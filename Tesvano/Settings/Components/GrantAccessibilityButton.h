#pragma once

#include <QPushButton>

namespace tesvano {

class AppState;

// Starts the guided Accessibility grant and watches for the grant.
class GrantAccessibilityButton final : public QPushButton {
public:
    explicit GrantAccessibilityButton(AppState& state, QWidget* parent = nullptr);

private:
    void grant();
    AppState& state_;
};

}  // namespace tesvano
