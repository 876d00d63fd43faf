#include "Tesvano/Settings/Components/AccessibilityRequiredNote.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Components/LinkButton.h"
#include "Tesvano/Settings/SettingsStyle.h"

namespace tesvano {

AccessibilityRequiredNote::AccessibilityRequiredNote(AppState& state, std::string_view messageKey,
                                                     QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("accessibilityRequiredNote"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 2, 0, 2);
    row->setSpacing(8);

    auto* symbol = new QLabel(this);
    symbol->setPixmap(Symbols::pixmap("accessibility", 16,
                                      SettingsStyle::color(this, SettingsStyle::Level::secondary),
                                      devicePixelRatioF()));
    row->addWidget(symbol, 0, Qt::AlignVCenter);

    auto* message = new QLabel(state.text(messageKey), this);
    message->setWordWrap(true);
    message->setFont(SettingsStyle::footnote(this));
    SettingsStyle::setTextLevel(message, SettingsStyle::Level::secondary);
    row->addWidget(message, 1, Qt::AlignVCenter);

    row->addSpacing(6);

    button_ = new LinkButton(state.text("Set Up in Permissions…"), this);
    button_->setObjectName(QStringLiteral("setUpInPermissions"));
    row->addWidget(button_, 0, Qt::AlignVCenter);
    connect(button_, &QPushButton::clicked, this, [&state] {
        // Already there: nothing to announce.
        if (state.settingsTab() != SettingsTab::permissions) {
            state.setSettingsTab(SettingsTab::permissions);
        }
    });
}

}  // namespace tesvano
