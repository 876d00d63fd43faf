#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <optional>
#include <vector>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

class AppState;

// The application rules of the state as list rows: the rule, the application's name and icon
// (looked up once per rule, when its row is first drawn) and the name of its source. It follows
// the state with row insertions, removals and changes, so that a view keeps its place.
class AppRulesModel final : public QAbstractListModel {
public:
    enum Role {
        IdentityRole = Qt::UserRole + 1,
        ModeRole,      // AppRuleMode as int
        ModeTextRole,  // the mode's menu text
        RequiresSourceRole,
        SourceTextRole,  // the source's name, "Default" for none
    };

    explicit AppRulesModel(AppState& state, QObject* parent = nullptr);

    const AppRule& rule(int row) const { return rows_[static_cast<std::size_t>(row)].rule; }
    // Takes the state's rules again.
    void refresh();
    // The source names changed.
    void refreshSourceNames();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Row {
        AppRule rule;
        mutable std::optional<QString> name;
        mutable std::optional<QIcon> icon;
    };
    QString sourceText(const std::optional<InputSourceID>& source) const;

    AppState& state_;
    std::vector<Row> rows_;
};

}  // namespace tesvano
