#pragma once

#include <QDialog>
#include <QFutureWatcher>
#include <functional>
#include <vector>

#include "TesvanoKit/Apps/InstalledApp.h"
#include "TesvanoKit/Apps/InstalledAppsScanner.h"

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;

namespace tesvano {

class AppState;
class InstalledAppsFilter;
class InstalledAppsModel;

// The dialog in which the user chooses the application of a new rule: the installed and
// running applications with a search, or an identity typed by hand. A choice is handed to
// onSelect once and closes the dialog. The applications are scanned on a worker thread each
// time the dialog is shown; "Loading apps…" stands meanwhile.
class AppPickerDialog final : public QDialog {
public:
    using OnSelect = std::function<void(const InstalledApp& app)>;
    // Runs on the worker thread: it gets plain values and returns plain values.
    using Scan = std::function<std::vector<InstalledApp>(
        const InstalledAppsScanner::Environment& environment)>;

    static constexpr int width = 440;
    static constexpr int height = 500;

    AppPickerDialog(AppState& state, OnSelect onSelect, QWidget* parent = nullptr,
                    Scan scan = &InstalledAppsScanner::scan);
    ~AppPickerDialog() override;

    enum class Content { loading, list, noResults };
    Content content() const;
    // Chooses a row of the (filtered) list.
    void select(int row);
    void submitManualEntry();

    // For tests: waits for the scan and delivers its result.
    void waitForScan();
    QLineEdit* searchField() const { return search_; }
    QLineEdit* manualField() const { return manual_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* cancelButton() const { return cancel_; }
    QListView* list() const { return list_; }
    const InstalledAppsModel& model() const { return *model_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void startScan();
    void showApps(std::vector<InstalledApp> apps);
    void refreshContent();
    void choose(const InstalledApp& app);

    AppState& state_;
    OnSelect onSelect_;
    Scan scan_;
    InstalledAppsModel* model_;
    InstalledAppsFilter* filter_;
    QFutureWatcher<std::vector<InstalledApp>> watcher_;
    bool scanStarted_ = false;
    bool delivered_ = false;
    bool chosen_ = false;
    QLineEdit* search_;
    QStackedWidget* stack_;
    QListView* list_;
    QLabel* noResults_;
    QLineEdit* manual_;
    QPushButton* add_;
    QPushButton* cancel_;
};

}  // namespace tesvano
