#include "Tesvano/Settings/Components/GrantAccessibilityButton.h"

#include <QCoreApplication>
#include <QPointer>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"

namespace tesvano {

GrantAccessibilityButton::GrantAccessibilityButton(AppState& state, QWidget* parent)
    : QPushButton(Symbols::icon("arrow.right.circle.fill"),
                  state.text("Grant Accessibility Access"), parent),
      state_(state) {
    setObjectName(QStringLiteral("grantAccessibility"));
    connect(this, &QPushButton::clicked, this, [this] { grant(); });
}

void GrantAccessibilityButton::grant() {
    auto& flow = state_.permissionFlow();
    // The guidance speaks the language of the window it was started from.
    flow.setLocaleIdentifier(state_.effectiveLanguageCode());
    const std::vector<std::string> suggested{QCoreApplication::applicationFilePath().toStdString()};
    flow.open(PermissionFlowPane::accessibility, suggested);
    QPointer<AppState> weak(&state_);
    state_.accessibilityWatcher().start([weak] {
        if (weak) {
            weak->accessibilityDidGrant();
        }
    });
}

}  // namespace tesvano
