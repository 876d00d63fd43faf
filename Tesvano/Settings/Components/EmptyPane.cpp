#include "Tesvano/Settings/Components/EmptyPane.h"

#include <QLabel>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/SettingsStyle.h"

namespace tesvano {

EmptyPane::EmptyPane(const AppState& state, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("emptyPane"));
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(state.text("This pane is not available yet."), this);
    note->setAlignment(Qt::AlignCenter);
    note->setWordWrap(true);
    SettingsStyle::setTextLevel(note, SettingsStyle::Level::tertiary);
    layout->addStretch(1);
    layout->addWidget(note);
    layout->addStretch(1);
}

}  // namespace tesvano
