#include "Tesvano/Settings/Components/GrantAccessibilityButton.h"

#include <QCursor>
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
    // The panel flies out of a 32-pixel square around the pointer.
    const QPoint at = QCursor::pos();
    flow.open(PermissionFlowPane::accessibility, state_.ownApplicationEntries(),
              platform::Rect{at.x() - 16.0, at.y() - 16.0, 32, 32});
    QPointer<AppState> weak(&state_);
    state_.accessibilityWatcher().start([weak] {
        if (weak) {
            weak->accessibilityDidGrant();
        }
    });
}

}  // namespace tesvano
