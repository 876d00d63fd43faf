#pragma once

#include <QColor>
#include <QFont>

class QWidget;

namespace tesvano {

// The few text styles the windows share, derived from the widget's own font and palette so
// that they follow the desktop's settings.
namespace SettingsStyle {

enum class Level { primary, secondary, tertiary, quaternary };

QFont title(const QWidget* widget);     // large, semibold
QFont headline(const QWidget* widget);  // body size, semibold
QFont callout(const QWidget* widget);   // slightly below body
QFont footnote(const QWidget* widget);
QFont caption(const QWidget* widget);
QFont caption2(const QWidget* widget);

QColor color(const QWidget* widget, Level level);
// Sets the widget's text colour to the level.
void setTextLevel(QWidget* widget, Level level);

}  // namespace SettingsStyle

}  // namespace tesvano
