#include "Tesvano/Settings/URLRules/URLRuleListView.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QHash>
#include <QHelpEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QToolTip>

#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Components/WarningLabel.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "Tesvano/Settings/URLRules/URLRuleListModel.h"

namespace tesvano {

namespace {

using Level = SettingsStyle::Level;

constexpr int symbolSize = 14;
constexpr int gap = 8;

// Where the parts of a row go; painting and the tooltips share it.
struct RowLayout {
    QRect handle;
    QRect globe;
    QRect pattern;
    QRect skipped;
    QRect badge;
    QRect summary;
    QRect chevron;
};

// `skipped` is the short reason shown in a skipped rule's row, empty for other rules.
RowLayout layOut(const QRect& row, const QFont& small, const QString& badge, const QString& summary,
                 const QString& skipped) {
    RowLayout parts;
    const int middle = row.center().y();
    parts.handle = URLRuleListView::handleRect(row);
    parts.globe =
        QRect(parts.handle.right() + 1 + gap, middle - symbolSize / 2, symbolSize, symbolSize);
    const QFontMetrics metrics(small);
    parts.chevron = QRect(row.right() - 6 - 9, middle - 5, 10, 10);
    const int summaryWidth = metrics.horizontalAdvance(summary);
    parts.summary =
        QRect(parts.chevron.left() - gap - summaryWidth, row.top(), summaryWidth, row.height());
    const int badgeWidth = metrics.horizontalAdvance(badge) + 12;
    const int badgeHeight = metrics.height() + 4;
    parts.badge = QRect(parts.summary.left() - gap - badgeWidth, middle - badgeHeight / 2,
                        badgeWidth, badgeHeight);
    int patternEnd = parts.badge.left() - gap;
    if (!skipped.isEmpty()) {
        const int width = symbolSize + 4 + metrics.horizontalAdvance(skipped);
        parts.skipped = QRect(parts.badge.left() - gap - width, row.top(), width, row.height());
        patternEnd = parts.skipped.left() - gap;
    }
    const int patternStart = parts.globe.right() + 1 + gap;
    parts.pattern =
        QRect(patternStart, row.top(), std::max(0, patternEnd - patternStart), row.height());
    return parts;
}

void drawBadge(QPainter* painter, const QRect& rect, const QString& text, const QFont& font,
               const QWidget* widget) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath capsule;
    capsule.addRoundedRect(QRectF(rect), rect.height() / 2.0, rect.height() / 2.0);
    painter->fillPath(capsule, SettingsStyle::color(widget, Level::quaternary));
    painter->setFont(font);
    painter->setPen(SettingsStyle::color(widget, Level::secondary));
    painter->drawText(rect, Qt::AlignCenter, text);
    painter->restore();
}

class RowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), URLRuleListView::rowHeight};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem panel = option;
        initStyleOption(&panel, index);
        panel.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : nullptr;
        if (style != nullptr) {
            style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
        }
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        const bool active = index.data(URLRuleListModel::activeRole).toBool();
        const QString skipped =
            index.data(URLRuleListModel::skippedRole).toBool() ? skippedLabel : QString();
        const QString badge = index.data(URLRuleListModel::matchTypeRole).toString();
        const QString summary = index.data(URLRuleListModel::actionSummaryRole).toString();
        const QFont small = SettingsStyle::caption2(widget);
        const RowLayout parts = layOut(option.rect, small, badge, summary, skipped);
        const auto tone = [&](Level level) {
            if (selected) {
                QColor c = option.palette.color(QPalette::HighlightedText);
                c.setAlphaF(level == Level::primary ? 1.0f : 0.75f);
                return c;
            }
            return SettingsStyle::color(widget, level);
        };
        const qreal ratio =
            painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1;

        painter->save();
        const auto symbol = [&](std::string_view name, const QRect& rect, const QColor& color) {
            const QRect square(rect.center().x() - symbolSize / 2 + 1,
                               rect.center().y() - symbolSize / 2 + 1, symbolSize, symbolSize);
            painter->drawPixmap(square, symbolPixmap(name, symbolSize, color, ratio));
        };
        symbol("line.3.horizontal", parts.handle, tone(Level::secondary));
        symbol("globe", parts.globe, tone(Level::secondary));

        painter->setFont(option.font);
        painter->setPen(tone(active ? Level::primary : Level::secondary));
        const QString pattern = option.fontMetrics.elidedText(
            index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, parts.pattern.width());
        painter->drawText(parts.pattern, Qt::AlignVCenter | Qt::AlignLeft, pattern);

        if (!skipped.isEmpty()) {
            const QColor warning = WarningLabel::color(widget);
            symbol("exclamationmark.triangle",
                   QRect(parts.skipped.left(), parts.skipped.top(), symbolSize,
                         parts.skipped.height()),
                   warning);
            painter->setFont(small);
            painter->setPen(warning);
            painter->drawText(parts.skipped.adjusted(symbolSize + 4, 0, 0, 0),
                              Qt::AlignVCenter | Qt::AlignLeft, skipped);
        }
        drawBadge(painter, parts.badge, badge, small, widget);
        painter->setFont(small);
        painter->setPen(tone(Level::secondary));
        painter->drawText(parts.summary, Qt::AlignVCenter | Qt::AlignLeft, summary);
        painter->drawPixmap(parts.chevron,
                            symbolPixmap("chevron.right", 10, tone(Level::tertiary), ratio));
        // A hairline between rows, as a grouped form draws it.
        if (index.row() + 1 < index.model()->rowCount()) {
            painter->setPen(SettingsStyle::color(widget, Level::quaternary));
            painter->drawLine(parts.globe.left(), option.rect.bottom(), option.rect.right(),
                              option.rect.bottom());
        }
        painter->restore();
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() != QEvent::ToolTip || !index.isValid()) {
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        }
        const RowLayout parts =
            layOut(option.rect, SettingsStyle::caption2(view),
                   index.data(URLRuleListModel::matchTypeRole).toString(),
                   index.data(URLRuleListModel::actionSummaryRole).toString(),
                   index.data(URLRuleListModel::skippedRole).toBool() ? skippedLabel : QString());
        QString tip;
        if (parts.handle.contains(event->pos())) {
            tip = handleTip;
        } else {
            // The reason a rule is skipped; nothing for other rules.
            tip = index.data(Qt::ToolTipRole).toString();
        }
        if (tip.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(event->globalPos(), tip, view);
        }
        return true;
    }

    QString handleTip;
    QString skippedLabel;

private:
    // Rows repeat the same few symbols in the same colours: render each once.
    QPixmap symbolPixmap(std::string_view name, int size, const QColor& color, qreal ratio) const {
        const QString key = QString::fromUtf8(name.data(), qsizetype(name.size())) +
                            QString::number(size) + color.name(QColor::HexArgb) +
                            QString::number(ratio);
        auto found = symbols_.find(key);
        if (found == symbols_.end()) {
            found = symbols_.insert(key, Symbols::pixmap(name, size, color, ratio));
        }
        return *found;
    }
    mutable QHash<QString, QPixmap> symbols_;
};

}  // namespace

URLRuleListView::URLRuleListView(URLRuleListModel* model, QWidget* parent)
    : QListView(parent), model_(model) {
    setObjectName(QStringLiteral("urlRuleList"));
    setModel(model);
    auto* delegate = new RowDelegate(this);
    setItemDelegate(delegate);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::InternalMove);
    setDefaultDropAction(Qt::MoveAction);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    const auto resized = [this] { updateGeometry(); };
    connect(model, &QAbstractItemModel::rowsInserted, this, resized);
    connect(model, &QAbstractItemModel::rowsRemoved, this, resized);
    connect(model, &QAbstractItemModel::modelReset, this, resized);
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid() && !handleRect(visualRect(index)).contains(pressPosition_) && onEdit) {
            onEdit(index.row());
        }
    });
}

void URLRuleListView::setTexts(const QString& handleTip, const QString& skippedLabel) {
    auto* delegate = static_cast<RowDelegate*>(itemDelegate());
    delegate->handleTip = handleTip;
    delegate->skippedLabel = skippedLabel;
}

QRect URLRuleListView::handleRect(const QRect& row) {
    return {row.left() + 4, row.center().y() - 12, 20, 24};
}

QSize URLRuleListView::sizeHint() const {
    const int rows = std::clamp(model_->rowCount(), 1, maxVisibleRows);
    return {QListView::sizeHint().width(), rows * rowHeight + 2 * frameWidth()};
}

QSize URLRuleListView::minimumSizeHint() const {
    return {QListView::minimumSizeHint().width(), sizeHint().height()};
}

QPixmap URLRuleListView::dragPreview(int row) const {
    const QModelIndex index = model_->index(row);
    const QFont small = SettingsStyle::caption2(this);
    const QString pattern = index.data(Qt::DisplayRole).toString();
    const QString badge = index.data(URLRuleListModel::matchTypeRole).toString();
    const QFontMetrics metrics(font());
    const QFontMetrics smallMetrics(small);
    const int patternWidth = std::min(metrics.horizontalAdvance(pattern), 360);
    const int badgeWidth = smallMetrics.horizontalAdvance(badge) + 12;
    const QSize size(12 + symbolSize + gap + patternWidth + gap + badgeWidth + 12,
                     8 + std::max(metrics.height(), smallMetrics.height() + 4) + 8);
    const qreal ratio = devicePixelRatioF();
    QPixmap picture(size * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 10, 10);
    painter.fillPath(card, palette().color(QPalette::Window));
    painter.setPen(SettingsStyle::color(this, Level::quaternary));
    painter.drawPath(card);
    const int middle = size.height() / 2;
    painter.drawPixmap(
        QRect(12, middle - symbolSize / 2, symbolSize, symbolSize),
        Symbols::pixmap("globe", symbolSize, SettingsStyle::color(this, Level::secondary), ratio));
    painter.setFont(font());
    painter.setPen(SettingsStyle::color(this, Level::primary));
    const QRect patternRect(12 + symbolSize + gap, 0, patternWidth, size.height());
    painter.drawText(patternRect, Qt::AlignVCenter | Qt::AlignLeft,
                     metrics.elidedText(pattern, Qt::ElideMiddle, patternWidth));
    const int badgeHeight = smallMetrics.height() + 4;
    drawBadge(
        &painter,
        QRect(patternRect.right() + 1 + gap, middle - badgeHeight / 2, badgeWidth, badgeHeight),
        badge, small, this);
    return picture;
}

void URLRuleListView::mousePressEvent(QMouseEvent* event) {
    pressPosition_ = event->position().toPoint();
    QListView::mousePressEvent(event);
}

void URLRuleListView::keyPressEvent(QKeyEvent* event) {
    const QModelIndex current = currentIndex();
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier && current.isValid() && onEdit) {
        onEdit(current.row());
        return;
    }
    // Alt+Up and Alt+Down move the current rule, for those who do not drag.
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) &&
        event->modifiers() == Qt::AltModifier && current.isValid()) {
        const int row = current.row();
        const int to = event->key() == Qt::Key_Up ? row - 1 : row + 2;
        if (to >= 0 && to <= model_->rowCount()) {
            model_->moveRows({}, row, 1, {}, to);
        }
        return;
    }
    QListView::keyPressEvent(event);
}

void URLRuleListView::startDrag(Qt::DropActions) {
    const QModelIndex index = indexAt(pressPosition_);
    // Only the handle starts a drag; elsewhere a press is the start of a click.
    if (!index.isValid() || !handleRect(visualRect(index)).contains(pressPosition_)) {
        return;
    }
    QMimeData* dragged = model_->mimeData({index});
    if (dragged == nullptr) {
        return;
    }
    hoveredID_.clear();
    auto* drag = new QDrag(this);
    drag->setMimeData(dragged);
    const QPixmap preview = dragPreview(index.row());
    drag->setPixmap(preview);
    drag->setHotSpot(
        QPoint(12, preview.height() / 2 / std::max<qreal>(1, preview.devicePixelRatio())));
    drag->exec(Qt::MoveAction, Qt::MoveAction);
    // Escape, or a drop anywhere but on us: the order in force comes back.
    model_->endDrag();
}

void URLRuleListView::dragEnterEvent(QDragEnterEvent* event) {
    hoveredID_.clear();
    if (model_->acceptsDrop(event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void URLRuleListView::dragMoveEvent(QDragMoveEvent* event) {
    if (!model_->acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    // The base class scrolls the list when the pointer nears its edge.
    QListView::dragMoveEvent(event);
    const QModelIndex over = indexAt(event->position().toPoint());
    const QString overID = over.data(URLRuleListModel::ruleIDRole).toString();
    if (over.isValid() && overID != hoveredID_) {
        model_->hoverOver(event->mimeData()->text(), over.row());
        // What lies under the pointer now, usually the dragged row itself.
        hoveredID_ =
            indexAt(event->position().toPoint()).data(URLRuleListModel::ruleIDRole).toString();
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void URLRuleListView::dropEvent(QDropEvent* event) {
    if (model_->dropMimeData(event->mimeData(), Qt::MoveAction, -1, -1, {})) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
    // Ends the base class's drag state and scrolling.
    QDragLeaveEvent leave;
    QListView::dragLeaveEvent(&leave);
}

}  // namespace tesvano
