#include "Tesvano/Settings/AppRules/InstalledAppsModel.h"

#include "TesvanoKit/Apps/AppPickerQuery.h"

namespace tesvano {

InstalledAppsModel::InstalledAppsModel(IconLookup iconLookup, QObject* parent)
    : QAbstractListModel(parent), iconLookup_(std::move(iconLookup)) {}

void InstalledAppsModel::setApps(std::vector<InstalledApp> apps) {
    beginResetModel();
    apps_ = std::move(apps);
    foldedNames_.clear();
    foldedIdentities_.clear();
    foldedNames_.reserve(apps_.size());
    foldedIdentities_.reserve(apps_.size());
    for (const auto& app : apps_) {
        foldedNames_.push_back(AppPickerQuery::folded(app.name));
        foldedIdentities_.push_back(AppPickerQuery::folded(app.appId));
    }
    icons_.clear();
    endResetModel();
}

const std::u16string& InstalledAppsModel::foldedName(int row) const {
    return foldedNames_[static_cast<std::size_t>(row)];
}

const std::u16string& InstalledAppsModel::foldedIdentity(int row) const {
    return foldedIdentities_[static_cast<std::size_t>(row)];
}

int InstalledAppsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(apps_.size());
}

QVariant InstalledAppsModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const auto& app = apps_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(app.name);
        case IdentityRole:
            return QString::fromStdString(app.appId);
        case Qt::DecorationRole:
        case HasIconRole: {
            auto it = icons_.find(index.row());
            if (it == icons_.end()) {
                it = icons_.insert(index.row(), iconLookup_ ? iconLookup_(app.appId) : QIcon());
            }
            if (role == HasIconRole) {
                return !it->isNull();
            }
            return it->isNull() ? QVariant() : QVariant(*it);
        }
        default:
            return {};
    }
}

void InstalledAppsFilter::setQuery(const QString& query) {
    if (query == query_) {
        return;
    }
    query_ = query;
    foldedQuery_ = AppPickerQuery::folded(query.toStdString());
    invalidateRowsFilter();
}

bool InstalledAppsFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    if (query_.isEmpty()) {
        return true;
    }
    const auto* model = static_cast<const InstalledAppsModel*>(sourceModel());
    return AppPickerQuery::containsFolded(model->foldedName(sourceRow), foldedQuery_) ||
           AppPickerQuery::containsFolded(model->foldedIdentity(sourceRow), foldedQuery_);
}

}  // namespace tesvano
