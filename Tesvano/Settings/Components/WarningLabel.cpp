#include "Tesvano/Settings/Components/WarningLabel.h"

#include <QHBoxLayout>
#include <QLabel>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/SettingsStyle.h"

namespace tesvano {

QColor WarningLabel::color(const QWidget* widget) {
    const QColor window =
        widget != nullptr ? widget->palette().color(QPalette::Window) : QColor(Qt::white);
    // A lighter orange on dark windows keeps the contrast.
    return window.lightnessF() < 0.5 ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xC9, 0x5F, 0x00);
}

WarningLabel::WarningLabel(const AppState& state, std::string_view key, QWidget* parent)
    : QWidget(parent), state_(state) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* symbol = new QLabel(this);
    symbol->setPixmap(
        Symbols::pixmap("exclamationmark.triangle", 13, color(this), devicePixelRatioF()));
    row->addWidget(symbol, 0, Qt::AlignTop);
    text_ = new QLabel(this);
    text_->setWordWrap(true);
    text_->setFont(SettingsStyle::footnote(this));
    QPalette palette = text_->palette();
    palette.setColor(QPalette::WindowText, color(this));
    text_->setPalette(palette);
    row->addWidget(text_, 1);
    setKey(key);
}

void WarningLabel::setKey(std::string_view key) {
    text_->setText(state_.text(key));
}

QString WarningLabel::text() const {
    return text_->text();
}

}  // namespace tesvano
