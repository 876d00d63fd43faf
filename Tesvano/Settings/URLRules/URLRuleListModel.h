#pragma once

#include <QAbstractListModel>
#include <functional>
#include <string_view>
#include <vector>

#include "TesvanoKit/Rules/URLRuleDrag.h"

namespace tesvano {

class AppState;

// The URL rules as the list shows them, in the order in force or, while a row is dragged,
// in the draft order. Dragging a row starts with mimeData() (the rule id as text), hovering
// another row moves the dragged one into its place in the draft, and a drop that carries the
// dragged id commits the draft to AppState once. moveRows() outside a drag commits at once
// (the keyboard and menu moves).
class URLRuleListModel final : public QAbstractListModel {
public:
    enum Role {
        ruleIDRole = Qt::UserRole + 1,  // the id as text
        matchTypeRole,                  // the match type's label
        actionSummaryRole,              // "Lock to German"
        activeRole,                     // whether enhanced mode is on
        skippedRole,                    // matching the pattern took too long
    };

    explicit URLRuleListModel(AppState& state, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override;
    // Begins the drag of the first index's rule.
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    // Takes only the drop of the rule being dragged, wherever it lands: the draft already
    // holds the order the user sees.
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    bool moveRows(const QModelIndex& sourceParent, int sourceRow, int count,
                  const QModelIndex& destinationParent, int destinationChild) override;

    // The dragged rule hovers `row`: it takes that row's place in the draft.
    void hoverOver(const QString& draggedID, int row);
    // The drag is over without a drop on us: back to the order in force.
    void endDrag();
    bool isDragging() const { return drag_.isDragging(); }
    bool acceptsDrop(const QMimeData* data) const;

    // The text key naming a match type.
    static std::string_view matchTypeKey(URLMatchType type);

    const URLRule& rule(int row) const { return shown_.at(static_cast<std::size_t>(row)); }
    const std::vector<URLRule>& shownRules() const { return shown_; }

    // Whether a rule is skipped as too slow to match; AppState's answer unless replaced.
    std::function<bool(const Uuid&)> isSkipped;

private:
    void refresh();
    void moveShown(int from, int to);

    AppState& state_;
    std::vector<URLRule> shown_;
    // Starting a drag happens in the const mimeData().
    mutable URLRuleDrag drag_;
};

}  // namespace tesvano
