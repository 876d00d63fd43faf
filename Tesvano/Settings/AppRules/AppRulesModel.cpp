#include "Tesvano/Settings/AppRules/AppRulesModel.h"

#include <algorithm>

#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/AppRules/SourceMenus.h"

namespace tesvano {

AppRulesModel::AppRulesModel(AppState& state, QObject* parent)
    : QAbstractListModel(parent), state_(state) {
    for (const auto& rule : state_.config().appRules) {
        rows_.push_back({rule, std::nullopt, std::nullopt});
    }
}

void AppRulesModel::refresh() {
    const auto& rules = state_.config().appRules;
    auto wanted = [&](const std::string& id) {
        return std::ranges::any_of(rules, [&](const AppRule& r) { return r.appId == id; });
    };
    // Rows whose rule went, from the end so that the indexes stay right.
    for (int i = static_cast<int>(rows_.size()) - 1; i >= 0; --i) {
        if (!wanted(rows_[static_cast<std::size_t>(i)].rule.appId)) {
            beginRemoveRows({}, i, i);
            rows_.erase(rows_.begin() + i);
            endRemoveRows();
        }
    }
    for (int i = 0; i < static_cast<int>(rules.size()); ++i) {
        const auto& rule = rules[static_cast<std::size_t>(i)];
        const auto at = static_cast<std::size_t>(i);
        if (at < rows_.size() && rows_[at].rule.appId == rule.appId) {
            if (!(rows_[at].rule == rule)) {
                rows_[at].rule = rule;
                emit dataChanged(index(i), index(i));
            }
            continue;
        }
        const bool later = std::ranges::any_of(
            rows_.begin() + static_cast<std::ptrdiff_t>(std::min(at, rows_.size())), rows_.end(),
            [&](const Row& row) { return row.rule.appId == rule.appId; });
        if (later) {
            // Reordered rules (a whole configuration set at once): start afresh.
            beginResetModel();
            rows_.clear();
            for (const auto& r : rules) {
                rows_.push_back({r, std::nullopt, std::nullopt});
            }
            endResetModel();
            return;
        }
        beginInsertRows({}, i, i);
        rows_.insert(rows_.begin() + i, Row{rule, std::nullopt, std::nullopt});
        endInsertRows();
    }
}

void AppRulesModel::refreshSourceNames() {
    if (!rows_.empty()) {
        emit dataChanged(index(0), index(static_cast<int>(rows_.size()) - 1), {SourceTextRole});
    }
}

int AppRulesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QString AppRulesModel::sourceText(const std::optional<InputSourceID>& source) const {
    if (!source) {
        return state_.text("Default");
    }
    if (auto name = state_.sourceName(*source)) {
        return QString::fromStdString(*name);
    }
    return QString::fromStdString(source->rawValue);
}

QVariant AppRulesModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            if (!row.name) {
                row.name = QString::fromStdString(
                    state_.display().displayName(row.rule.appId, state_.effectiveLanguage()));
            }
            return *row.name;
        case Qt::DecorationRole:
            if (!row.icon) {
                row.icon = state_.display().icon(row.rule.appId);
            }
            return row.icon->isNull() ? QVariant() : QVariant(*row.icon);
        case IdentityRole:
            return QString::fromStdString(row.rule.appId);
        case ModeRole:
            return static_cast<int>(row.rule.mode);
        case ModeTextRole:
            for (const auto& item : SourceMenus::modeItems) {
                if (item.mode == row.rule.mode) {
                    return state_.text(item.key);
                }
            }
            return {};
        case RequiresSourceRole:
            return requiresSource(row.rule.mode);
        case SourceTextRole:
            return sourceText(row.rule.lockedSourceID);
        default:
            return {};
    }
}

}  // namespace tesvano
