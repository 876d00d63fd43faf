#include "Tesvano/Settings/SettingsStyle.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace tesvano::SettingsStyle {

namespace {

QFont scaled(const QWidget* widget, double factor, QFont::Weight weight = QFont::Normal) {
    QFont font = widget != nullptr ? widget->font() : QApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(qRound(font.pixelSize() * factor));
    }
    font.setWeight(weight);
    return font;
}

}  // namespace

QFont title(const QWidget* widget) {
    return scaled(widget, 1.55, QFont::DemiBold);
}
QFont headline(const QWidget* widget) {
    return scaled(widget, 1.0, QFont::DemiBold);
}
QFont callout(const QWidget* widget) {
    return scaled(widget, 0.93);
}
QFont footnote(const QWidget* widget) {
    return scaled(widget, 0.85);
}
QFont caption(const QWidget* widget) {
    return scaled(widget, 0.82);
}
QFont caption2(const QWidget* widget) {
    return scaled(widget, 0.76);
}

QColor color(const QWidget* widget, Level level) {
    const QPalette palette = widget != nullptr ? widget->palette() : QApplication::palette();
    QColor c = palette.color(QPalette::Active, QPalette::WindowText);
    switch (level) {
        case Level::primary:
            break;
        case Level::secondary:
            c.setAlphaF(0.62f);
            break;
        case Level::tertiary:
            c.setAlphaF(0.42f);
            break;
        case Level::quaternary:
            c.setAlphaF(0.16f);
            break;
    }
    return c;
}

void setTextLevel(QWidget* widget, Level level) {
    QPalette palette = widget->palette();
    const QColor c = color(widget, level);
    palette.setColor(QPalette::WindowText, c);
    palette.setColor(QPalette::Text, c);
    palette.setColor(QPalette::ButtonText, c);
    widget->setPalette(palette);
}

}  // namespace tesvano::SettingsStyle
