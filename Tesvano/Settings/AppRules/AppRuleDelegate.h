#pragma once

#include <QStyledItemDelegate>
#include <functional>

namespace tesvano {

// Draws an application rule as one row: icon, name and identity at the leading edge; at the
// trailing edge the mode menu, the source menu (for modes that carry one) and a remove button,
// drawn as the style draws those controls. A click on one of them is reported; the owner opens
// the menu or removes the rule. One painter instead of a row of widgets per rule keeps a pane
// with hundreds of rules quick to open.
class AppRuleDelegate final : public QStyledItemDelegate {
public:
    enum class Control { none, mode, source, remove };
    struct Layout {
        QRect icon;
        QRect title;
        QRect caption;
        QRect mode;
        QRect source;  // empty when the mode carries no source
        QRect remove;
    };
    using OnControl =
        std::function<void(const QModelIndex& index, Control control, const QRect& rect)>;

    static constexpr int iconSize = 22;

    AppRuleDelegate(QWidget* view, OnControl onControl);

    // The widest mode and source texts, so the menus line up from row to row.
    void setMenuTexts(const QStringList& modes, const QStringList& sources);
    Layout layout(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    Control controlAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QPoint& point) const;
    int rowHeight() const;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    int menuWidth(const QStringList& texts) const;

    QWidget* view_;
    OnControl onControl_;
    int modeWidth_ = 100;
    int sourceWidth_ = 100;
};

}  // namespace tesvano
