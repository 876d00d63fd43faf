#include "Tesvano/Settings/URLRules/URLRuleListModel.h"

#include <QMimeData>
#include <algorithm>
#include <span>
#include <utility>

#include "Tesvano/App/AppState.h"
#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

const QString idMimeType = QStringLiteral("text/plain");

}  // namespace

std::string_view URLRuleListModel::matchTypeKey(URLMatchType type) {
    switch (type) {
        case URLMatchType::domainSuffix:
            return N_("Domain suffix");
        case URLMatchType::domain:
            return N_("Exact domain");
        case URLMatchType::domainKeyword:
            return N_("Domain keyword");
        case URLMatchType::urlRegex:
            return N_("URL regex");
    }
    return N_("Domain suffix");
}

URLRuleListModel::URLRuleListModel(AppState& state, QObject* parent)
    : QAbstractListModel(parent),
      isSkipped([&state](const Uuid& id) { return state.isURLRuleSkipped(id); }),
      state_(state) {
    const auto& stored = state_.config().urlRules;
    shown_.assign(stored.begin(), stored.end());
    connect(&state_, &AppState::configChanged, this, [this] { refresh(); });
    connect(&state_, &AppState::availableSourcesChanged, this, [this] {
        if (!shown_.empty()) {
            emit dataChanged(index(0), index(rowCount() - 1), {actionSummaryRole});
        }
    });
    connect(&state_, &AppState::skippedURLRulesChanged, this, [this] {
        if (!shown_.empty()) {
            emit dataChanged(index(0), index(rowCount() - 1), {skippedRole, Qt::ToolTipRole});
        }
    });
}

int URLRuleListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant URLRuleListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const URLRule& shown = rule(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return QString::fromStdString(shown.hostPattern);
        case ruleIDRole:
            return QString::fromStdString(shown.id.string());
        case matchTypeRole:
            return state_.text(matchTypeKey(shown.matchType));
        case actionSummaryRole: {
            const auto name = state_.sourceName(shown.lockedSourceID);
            // A source that is not installed shows as its raw id.
            return QString::fromStdString(Localization::withName(
                shown.action == RuleAction::lock ? N_("Lock to %@") : N_("Switch to %@"),
                name ? *name : shown.lockedSourceID.rawValue, state_.effectiveLanguage()));
        }
        case activeRole:
            return state_.config().enhancedModeEnabled;
        case skippedRole:
            return isSkipped && isSkipped(shown.id);
        case Qt::ToolTipRole:
            if (isSkipped && isSkipped(shown.id)) {
                return state_.text(
                    "Matching this pattern took too long, so it is skipped. Edit the pattern to "
                    "try it again.");
            }
            return {};
        default:
            return {};
    }
}

Qt::ItemFlags URLRuleListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        // Rows drop between rows, never onto one.
        return Qt::ItemIsDropEnabled;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

QStringList URLRuleListModel::mimeTypes() const {
    return {idMimeType};
}

QMimeData* URLRuleListModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.isEmpty() || !indexes.front().isValid() || indexes.front().row() >= rowCount()) {
        return nullptr;
    }
    const URLRule& dragged = rule(indexes.front().row());
    drag_.begin(state_.config().urlRules, dragged.id);
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(dragged.id.string()));
    return data;
}

bool URLRuleListModel::acceptsDrop(const QMimeData* data) const {
    return data != nullptr && data->hasText() && drag_.accepts(data->text().toStdString());
}

bool URLRuleListModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                       const QModelIndex&) const {
    return action == Qt::MoveAction && acceptsDrop(data);
}

bool URLRuleListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                    int column, const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) {
        return false;
    }
    auto draft = drag_.drop(data->text().toStdString());
    if (draft) {
        // A draft that no longer fits the stored rules, or keeps their order, changes nothing.
        state_.reorderURLRules(*draft);
    }
    refresh();
    return true;
}

void URLRuleListModel::moveShown(int from, int to) {
    // beginMoveRows counts the destination before the move: one row down is r → r + 2.
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    auto moved = std::move(shown_[static_cast<std::size_t>(from)]);
    shown_.erase(shown_.begin() + from);
    shown_.insert(shown_.begin() + to, std::move(moved));
    endMoveRows();
}

bool URLRuleListModel::moveRows(const QModelIndex& sourceParent, int sourceRow, int count,
                                const QModelIndex& destinationParent, int destinationChild) {
    if (sourceParent.isValid() || destinationParent.isValid() || count != 1 || sourceRow < 0 ||
        sourceRow >= rowCount() || destinationChild < 0 || destinationChild > rowCount()) {
        return false;
    }
    // Qt names the row the moved one goes before; the draft names the place it takes.
    const int to = destinationChild > sourceRow ? destinationChild - 1 : destinationChild;
    if (to == sourceRow) {
        return false;
    }
    if (drag_.isDragging()) {
        hoverOver(QString::fromStdString(rule(sourceRow).id.string()), to);
        return true;
    }
    std::vector<URLRule> proposed = shown_;
    auto moved = std::move(proposed[static_cast<std::size_t>(sourceRow)]);
    proposed.erase(proposed.begin() + sourceRow);
    proposed.insert(proposed.begin() + to, std::move(moved));
    state_.reorderURLRules(proposed);
    return true;
}

void URLRuleListModel::hoverOver(const QString& draggedID, int row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    if (drag_.reorder(draggedID.toStdString(), rule(row).id, state_.config().urlRules)) {
        refresh();
    }
}

void URLRuleListModel::endDrag() {
    if (!drag_.isDragging()) {
        return;
    }
    drag_.end();
    refresh();
}

void URLRuleListModel::refresh() {
    const auto wanted = drag_.displayedRules(state_.config().urlRules);
    const auto sameIDs = [](std::span<const URLRule> a, std::span<const URLRule> b) {
        return std::ranges::equal(a, b, {}, &URLRule::id, &URLRule::id);
    };
    if (sameIDs(wanted, shown_)) {
        shown_.assign(wanted.begin(), wanted.end());
        if (!shown_.empty()) {
            // Contents, source names or enhanced mode may have changed.
            emit dataChanged(index(0), index(rowCount() - 1));
        }
        return;
    }
    // One rule moved (a hover step, a menu move): move its row, so the view keeps its place.
    if (wanted.size() == shown_.size()) {
        const auto differs = std::ranges::mismatch(wanted, shown_, {}, &URLRule::id, &URLRule::id);
        const int first = static_cast<int>(differs.in1 - wanted.begin());
        const auto placeIn = [](std::span<const URLRule> list, const Uuid& id) {
            return static_cast<int>(std::ranges::find(list, id, &URLRule::id) - list.begin());
        };
        // Either the first differing row went down, or another row came up to its place.
        for (const auto& [from, to] :
             {std::pair{first, placeIn(wanted, shown_[static_cast<std::size_t>(first)].id)},
              std::pair{placeIn(shown_, wanted[static_cast<std::size_t>(first)].id), first}}) {
            if (from >= rowCount() || to >= rowCount()) {
                continue;
            }
            std::vector<URLRule> probe = shown_;
            auto moved = probe[static_cast<std::size_t>(from)];
            probe.erase(probe.begin() + from);
            probe.insert(probe.begin() + to, std::move(moved));
            if (sameIDs(probe, wanted)) {
                moveShown(from, to);
                shown_.assign(wanted.begin(), wanted.end());
                return;
            }
        }
    }
    beginResetModel();
    shown_.assign(wanted.begin(), wanted.end());
    endResetModel();
}

}  // namespace tesvano
