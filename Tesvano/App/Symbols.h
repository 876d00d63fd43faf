#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <string_view>

namespace tesvano {

// The program's small monochrome symbols ("lock.fill", "gearshape", …), drawn in the
// interface's text colour like template images. Each icon is made once, on first use, and
// kept until releaseIcons(). An unknown name gives the blank symbol.
namespace Symbols {

QIcon icon(std::string_view name);
// Lets go of the icons made so far (those still shown stay with whoever shows them): for when
// the windows that used most of them have closed.
void releaseIcons();
// 16 × 16 and draws nothing: keeps rows without a symbol aligned with those that have one.
QIcon blank();
// One rendering in a colour of the caller's choice.
QPixmap pixmap(std::string_view name, int size, const QColor& color, qreal devicePixelRatio = 1);
bool exists(std::string_view name);

}  // namespace Symbols

}  // namespace tesvano
