#pragma once

#include <QListView>
#include <QString>
#include <functional>

namespace tesvano {

class URLRuleListModel;

// The URL rule list: one summary row per rule (a drag handle, the pattern, its match type,
// what it does, and a warning when the rule is skipped), rows painted rather than built from
// widgets so that a thousand rules stay cheap. A drag starts at a row's handle; while it
// lasts, the dragged row takes the place of the row under the pointer. A drag that ends
// without a drop on the list returns it to the order in force.
class URLRuleListView final : public QListView {
public:
    static constexpr int rowHeight = 32;
    // Beyond this many rows the list scrolls by itself.
    static constexpr int maxVisibleRows = 10;

    explicit URLRuleListView(URLRuleListModel* model, QWidget* parent = nullptr);

    URLRuleListModel* ruleModel() const { return model_; }
    // The drag handle's place in a row.
    static QRect handleRect(const QRect& row);

    // The handle's tooltip and the short mark of a skipped rule, in the interface language.
    void setTexts(const QString& handleTip, const QString& skippedLabel);

    // A click on a row outside its handle, or Return on the current row.
    std::function<void(int row)> onEdit;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The picture that follows the pointer while a rule is dragged.
    QPixmap dragPreview(int row) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    URLRuleListModel* model_;
    QPoint pressPosition_;
    // The rule last under the pointer in this drag: a row counts once each time it is entered.
    QString hoveredID_;
};

}  // namespace tesvano
