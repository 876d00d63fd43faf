#include "Tesvano/Settings/Log/ActivationLogModel.h"

#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

ActivationLogModel::ActivationLogModel(LogStore& store, SupportedLanguage language,
                                       std::optional<std::string_view> timeZone, QObject* parent)
    : QAbstractTableModel(parent), store_(store), language_(language), rows_(language, timeZone) {
    observation_ =
        store_.observeChanges([this](const LogStoreChange& change) { storeChanged(change); });
}

void ActivationLogModel::reload(platform::WallTime now) {
    loaded_ = true;
    now_ = now;
    beginResetModel();
    const auto entries =
        store_.recentEntries(now, std::nullopt, platform::Seconds(ActivationLogRows::window));
    rows_.reset(entries, now);
    endResetModel();
}

void ActivationLogModel::storeChanged(const LogStoreChange& change) {
    if (!loaded_) {
        return;  // no window yet: the first reload reads what there is
    }
    if (change.removed > 0) {
        // The store says how many went, not which: read the window again.
        reload(now_);
        return;
    }
    for (const auto& entry : change.added) {
        const auto at = rows_.position(entry.timestamp);
        if (!at) {
            continue;
        }
        const int row = static_cast<int>(*at);
        beginInsertRows({}, row, row);
        rows_.insert(entry);
        endInsertRows();
    }
}

int ActivationLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.rows().size());
}

int ActivationLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns;
}

QVariant ActivationLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const auto& row = rows_.rows()[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
            case Column::time:
                return qtext(row.time);
            case Column::source:
                return qtext(row.source);
            case Column::app:
                return qtext(row.app);
            case Column::reason:
                if (role == Qt::ToolTipRole && !row.detail.empty()) {
                    return qtext(row.reason + "\n" + row.detail);
                }
                return qtext(row.reason);
            case Column::duration:
                return qtext(row.duration);
            default:
                return {};
        }
    }
    if (role == detailRole && index.column() == Column::reason) {
        return qtext(row.detail);
    }
    if (role == Qt::TextAlignmentRole) {
        const Qt::Alignment horizontal =
            index.column() == Column::duration ? Qt::AlignRight : Qt::AlignLeft;
        return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    return {};
}

QVariant ActivationLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static constexpr std::string_view titles[] = {N_("Time"), N_("Input source"), N_("App"),
                                                  N_("Reason"), N_("Duration")};
    if (section < 0 || section >= columns) {
        return {};
    }
    return qtext(Localization::text(titles[section], language_));
}

}  // namespace tesvano
