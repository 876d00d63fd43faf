#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QIcon>
#include <QSortFilterProxyModel>
#include <functional>
#include <string>
#include <vector>

#include "TesvanoKit/Apps/InstalledApp.h"

namespace tesvano {

// The scanned applications as a list: the name to show, the identity underneath, and the icon,
// looked up only when a row is first drawn and kept for the model's life.
class InstalledAppsModel final : public QAbstractListModel {
public:
    enum Role { IdentityRole = Qt::UserRole + 1, HasIconRole };
    using IconLookup = std::function<QIcon(const std::string& identity)>;

    explicit InstalledAppsModel(IconLookup iconLookup, QObject* parent = nullptr);

    void setApps(std::vector<InstalledApp> apps);
    const std::vector<InstalledApp>& apps() const { return apps_; }
    const InstalledApp& app(int row) const { return apps_[static_cast<std::size_t>(row)]; }
    // Case-folded name and identity of a row, for the search.
    const std::u16string& foldedName(int row) const;
    const std::u16string& foldedIdentity(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    IconLookup iconLookup_;
    std::vector<InstalledApp> apps_;
    std::vector<std::u16string> foldedNames_;
    std::vector<std::u16string> foldedIdentities_;
    mutable QHash<int, QIcon> icons_;
};

// The rows whose name or identity contains the search text, in the model's order.
class InstalledAppsFilter final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setQuery(const QString& query);
    const QString& query() const { return query_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString query_;
    std::u16string foldedQuery_;
};

}  // namespace tesvano
