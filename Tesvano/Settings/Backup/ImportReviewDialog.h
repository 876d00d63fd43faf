#pragma once

#include <QDialog>
#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string_view>

#include "TesvanoKit/Backup/ImportReviewModel.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace tesvano {

class AppState;

// The dialog in which the user reviews an import before anything changes: merge or replace,
// each new rule with a switch, each conflict with Keep Local / Use File, each rule whose input
// source is not installed here with Keep / Remove, the URL order when it differs, and what the
// import would add, update, keep and remove. All state lives in the model; every edit redraws
// the form (once, on the next turn of the event loop). Cancel changes nothing; Apply hands the
// plan to the model's apply, reports the outcome to `onApplied` and closes.
class ImportReviewDialog final : public QDialog {
public:
    static constexpr int dialogWidth = 600;
    // The rows keep at least this much room on a short screen.
    static constexpr int leastFormHeight = 160;
    // Rows a section shows at first and adds at each "Show More": the form's cost follows
    // what is shown, not the size of the backup.
    static constexpr std::size_t rowsPerPage = 100;

    ImportReviewDialog(AppState& state, std::shared_ptr<ImportReviewModel> model,
                       std::function<void(const ImportOutcome&)> onApplied,
                       QWidget* parent = nullptr);
    ~ImportReviewDialog() override;

    ImportReviewModel& model() const { return *model_; }
    // Redraws the form from the model now.
    void rebuild();
    QPushButton* applyButton() const { return apply_; }
    QPushButton* cancelButton() const { return cancel_; }

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void scheduleRebuild();
    // As wide and tall as the rows need, within the work area; growing only once fitted.
    void fitSize();
    void applyReview();
    void refreshCounters(const ImportSummary& summary);

    QString text(std::string_view key) const;
    QString countText(std::string_view key, std::int64_t count) const;
    QString ruleText(const ImportItem& item, bool fileSide) const;

    QWidget* buildForm();
    QWidget* modeSection(QWidget* parent);
    QWidget* subjectLabel(const ImportItem& item, QWidget* parent) const;
    QWidget* subjectWithAssumptions(const ImportItem& item, QWidget* parent) const;
    QWidget* removedRow(const ImportItem& item, QWidget* parent);
    QWidget* newItemsHeader(std::string_view key, const std::vector<ImportItem>& items,
                            const QString& name, QWidget* parent);
    QWidget* newItemRow(const ImportItem& item, QWidget* parent);
    // The first rows of a section as far as shown, then a button that shows more.
    void addRows(QVBoxLayout* rows, const std::vector<ImportItem>& items, const QString& section,
                 QWidget* (ImportReviewDialog::*row)(const ImportItem&, QWidget*), QWidget* parent);
    QWidget* conflictRow(const ImportItem& item, QWidget* parent);
    QWidget* missingRow(const ImportItem& item, QWidget* parent);
    QWidget* replacedRow(const ImportItem& item, QWidget* parent);
    QWidget* asReadRow(const ImportItem& item, QWidget* parent);

    AppState& state_;
    std::shared_ptr<ImportReviewModel> model_;
    std::function<void(const ImportOutcome&)> onApplied_;
    QScrollArea* scroller_;
    std::array<QLabel*, 4> counters_{};
    QPushButton* cancel_;
    QPushButton* apply_;
    QLabel* applyReason_;
    bool rebuildPending_ = false;
    bool fitted_ = false;
    std::map<QString, std::size_t> shownRows_;
};

}  // namespace tesvano
