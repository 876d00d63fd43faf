#include "Tesvano/Settings/AppRules/AppRuleDelegate.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionComboBox>

#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/AppRules/AppRulesModel.h"
#include "Tesvano/Settings/Components/AppRowLabel.h"
#include "Tesvano/Settings/SettingsStyle.h"

namespace tesvano {

namespace {

constexpr int spacing = 12;
constexpr int removeSize = 24;

QStyle* styleOf(const QWidget* widget) {
    return widget != nullptr ? widget->style() : QApplication::style();
}

QSize comboSize(const QWidget* widget, int textWidth) {
    QStyleOptionComboBox option;
    if (widget != nullptr) {
        option.initFrom(widget);
    }
    const int height = QFontMetrics(option.fontMetrics).height();
    return styleOf(widget)->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(textWidth, height),
                                             widget);
}

}  // namespace

AppRuleDelegate::AppRuleDelegate(QWidget* view, OnControl onControl)
    : QStyledItemDelegate(view), view_(view), onControl_(std::move(onControl)) {}

int AppRuleDelegate::menuWidth(const QStringList& texts) const {
    const QFontMetrics metrics(view_->font());
    int widest = 0;
    for (const auto& text : texts) {
        widest = std::max(widest, metrics.horizontalAdvance(text));
    }
    // Room for the arrow, as a combo box sizes itself to its contents.
    return comboSize(view_, widest + metrics.height()).width();
}

void AppRuleDelegate::setMenuTexts(const QStringList& modes, const QStringList& sources) {
    modeWidth_ = menuWidth(modes);
    sourceWidth_ = menuWidth(sources);
}

int AppRuleDelegate::rowHeight() const {
    const int text = QFontMetrics(view_->font()).height() +
                     QFontMetrics(SettingsStyle::caption2(view_)).height() + 2;
    const int combo = comboSize(view_, 40).height();
    return std::max({iconSize, text, combo}) + 4;
}

QSize AppRuleDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.rect.width(), rowHeight()};
}

AppRuleDelegate::Layout AppRuleDelegate::layout(const QStyleOptionViewItem& option,
                                                const QModelIndex& index) const {
    Layout out;
    const QRect area = option.rect.adjusted(4, 2, -4, -2);
    const int middle = area.center().y() + 1;
    const int comboHeight = comboSize(view_, 40).height();
    int right = area.right() + 1;
    out.remove = QRect(right - removeSize, middle - removeSize / 2, removeSize, removeSize);
    right = out.remove.left() - spacing;
    // The source menu's place stays taken when it is hidden, so the mode menus line up.
    const QRect source(right - sourceWidth_, middle - comboHeight / 2, sourceWidth_, comboHeight);
    if (index.data(AppRulesModel::RequiresSourceRole).toBool()) {
        out.source = source;
    }
    right = source.left() - spacing;
    out.mode = QRect(right - modeWidth_, middle - comboHeight / 2, modeWidth_, comboHeight);
    out.icon = QRect(area.left(), middle - iconSize / 2, iconSize, iconSize);
    const int left = out.icon.right() + 1 + spacing;
    const int textRight = out.mode.left() - 8;
    const int titleHeight = QFontMetrics(view_->font()).height();
    const int captionHeight = QFontMetrics(SettingsStyle::caption2(view_)).height();
    const int top = middle - (titleHeight + 2 + captionHeight) / 2;
    out.title = QRect(left, top, std::max(0, textRight - left), titleHeight);
    out.caption = QRect(left, top + titleHeight + 2, out.title.width(), captionHeight);
    return out;
}

AppRuleDelegate::Control AppRuleDelegate::controlAt(const QStyleOptionViewItem& option,
                                                    const QModelIndex& index,
                                                    const QPoint& point) const {
    const Layout parts = layout(option, index);
    if (parts.mode.contains(point)) {
        return Control::mode;
    }
    if (!parts.source.isEmpty() && parts.source.contains(point)) {
        return Control::source;
    }
    if (parts.remove.contains(point)) {
        return Control::remove;
    }
    return Control::none;
}

void AppRuleDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const Layout parts = layout(option, index);
    const QWidget* widget = option.widget;
    QStyle* style = styleOf(widget);

    const QVariant icon = index.data(Qt::DecorationRole);
    if (icon.canConvert<QIcon>() && !icon.value<QIcon>().isNull()) {
        icon.value<QIcon>().paint(painter, parts.icon);
    } else {
        painter->drawPixmap(parts.icon.topLeft(), AppRowLabel::placeholder(widget, iconSize));
    }

    painter->save();
    painter->setPen(option.palette.color(QPalette::WindowText));
    painter->setFont(option.font);
    painter->drawText(parts.title, Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                    Qt::ElideRight, parts.title.width()));
    const QFont captionFont = SettingsStyle::caption2(widget);
    painter->setFont(captionFont);
    painter->setPen(SettingsStyle::color(widget, SettingsStyle::Level::secondary));
    painter->drawText(parts.caption, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(captionFont)
                          .elidedText(index.data(AppRulesModel::IdentityRole).toString(),
                                      Qt::ElideMiddle, parts.caption.width()));
    painter->restore();

    auto drawMenu = [&](const QRect& rect, const QString& text) {
        QStyleOptionComboBox combo;
        combo.initFrom(widget);
        combo.rect = rect;
        combo.currentText = text;
        combo.state = QStyle::State_Enabled | QStyle::State_Active;
        if ((option.state & QStyle::State_MouseOver) && widget != nullptr &&
            rect.contains(widget->mapFromGlobal(QCursor::pos()))) {
            combo.state |= QStyle::State_MouseOver;
        }
        style->drawComplexControl(QStyle::CC_ComboBox, &combo, painter, widget);
        style->drawControl(QStyle::CE_ComboBoxLabel, &combo, painter, widget);
    };
    drawMenu(parts.mode, index.data(AppRulesModel::ModeTextRole).toString());
    if (!parts.source.isEmpty()) {
        drawMenu(parts.source, index.data(AppRulesModel::SourceTextRole).toString());
    }
    const int symbol = 16;
    painter->drawPixmap(parts.remove.center() - QPoint(symbol / 2 - 1, symbol / 2 - 1),
                        Symbols::pixmap("trash", symbol,
                                        SettingsStyle::color(widget, SettingsStyle::Level::primary),
                                        widget != nullptr ? widget->devicePixelRatioF() : 1.0));
}

bool AppRuleDelegate::editorEvent(QEvent* event, QAbstractItemModel*,
                                  const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease) {
        // Presses on a control are taken, so that they do not start a selection drag.
        if (event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            return controlAt(option, index, mouse->position().toPoint()) != Control::none;
        }
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) {
        return false;
    }
    const Control control = controlAt(option, index, mouse->position().toPoint());
    if (control == Control::none) {
        return false;
    }
    const Layout parts = layout(option, index);
    const QRect rect = control == Control::mode     ? parts.mode
                       : control == Control::source ? parts.source
                                                    : parts.remove;
    if (onControl_) {
        onControl_(index, control, rect);
    }
    return true;
}

}  // namespace tesvano
