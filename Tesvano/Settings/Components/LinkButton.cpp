#include "Tesvano/Settings/Components/LinkButton.h"

#include <QPalette>

namespace tesvano {

LinkButton::LinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setAutoDefault(false);
    QPalette p = palette();
    p.setColor(QPalette::ButtonText, p.color(QPalette::Active, QPalette::Link));
    setPalette(p);
    // No padding of a bezelled button: the text sits where a link would.
    setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px; }"));
}

}  // namespace tesvano
