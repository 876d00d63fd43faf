#pragma once

#include <QWidget>
#include <string_view>

class QPushButton;

namespace tesvano {

class AppState;

// An inline note beside controls that need Accessibility access: the message and a link that
// switches the Settings window to the Permissions tab.
class AccessibilityRequiredNote final : public QWidget {
public:
    AccessibilityRequiredNote(AppState& state, std::string_view messageKey,
                              QWidget* parent = nullptr);

    QPushButton* setUpButton() const { return button_; }

private:
    QPushButton* button_;
};

}  // namespace tesvano
