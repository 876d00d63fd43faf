#pragma once

#include <QWidget>

class QStackedWidget;
class QTableView;

namespace tesvano {

class ActivationLogModel;
class AppState;

// The Log tab: the input-source switches of the last day, newest first, in a table that
// follows the log store live. Each time the pane is shown the store is purged of entries
// older than a day and the rows are read again for the day ending then; with nothing to show
// it says so instead of showing an empty table.
class ActivationLogPane final : public QWidget {
public:
    explicit ActivationLogPane(AppState& state, QWidget* parent = nullptr);

    ActivationLogModel* model() const { return model_; }
    QTableView* table() const { return table_; }
    // Whether the "No activity yet" view is shown rather than the table.
    bool showsPlaceholder() const;
    // As wide as every column of the table needs.
    QSize minimumSizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makePlaceholder();
    void configureTable();
    void syncPage();

    AppState& state_;
    ActivationLogModel* model_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QWidget* placeholder_ = nullptr;
    QTableView* table_ = nullptr;
};

}  // namespace tesvano
