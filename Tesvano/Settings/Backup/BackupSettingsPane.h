#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

#include "Tesvano/Settings/Backup/ImportReviewDialog.h"
#include "TesvanoKit/Backup/ConfigBackup.h"
#include "TesvanoKit/Backup/ImportReviewModel.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tesvano {

class AppState;

// The Backup tab: exports the rules to a .tesvano file, and imports one through a review in
// which nothing changes until the user applies. A chosen file is read and planned off the
// interface thread while the pane shows how far it got. Failures show as a notice under their
// button; an applied import leaves a receipt.
class BackupSettingsPane final : public QWidget {
public:
    explicit BackupSettingsPane(AppState& state, QWidget* parent = nullptr);

    void exportConfiguration();
    // Asks for a file and starts reading it; the review opens once it is read and planned.
    void importConfiguration();
    // Whether a chosen file is being read and planned.
    bool reading() const { return reading_ != nullptr; }
    // The review's apply: plans again when the rules changed while the review was open,
    // keeping the user's choices, then stores and commits the result.
    ImportOutcome applyImport(const ImportPlan& plan, const ConfigBackup& backup);
    void finishImport(const ImportOutcome& outcome);

    bool exportFailed() const { return exportFailed_; }
    const std::optional<BackupReadError>& importError() const { return importError_; }
    const std::optional<ImportOutcome>& receipt() const { return receipt_; }
    ImportReviewModel* reviewModel() const { return reviewModel_.get(); }
    ImportReviewDialog* reviewDialog() const { return reviewDialog_; }

private:
    struct Reading;

    void startReading(const QString& path);
    void finishReading();
    void startReview(ImportPlan plan, ConfigBackup backup);
    void endReview();
    void refresh();

    AppState& state_;
    std::shared_ptr<ImportReviewModel> reviewModel_;
    std::optional<BackupReadError> importError_;
    bool exportFailed_ = false;
    std::optional<ImportOutcome> receipt_;
    QPointer<ImportReviewDialog> reviewDialog_;
    std::shared_ptr<Reading> reading_;

    QWidget* exportNotice_;
    QPushButton* importButton_;
    QWidget* progressRow_;
    QProgressBar* progress_;
    QTimer* progressTimer_;
    QWidget* exportedNotice_;
    QLabel* exportedText_ = nullptr;
    std::optional<QString> exportedTo_;
    QWidget* importNotice_;
    QLabel* importNoticeText_;
    QWidget* receiptRow_;
    QLabel* importedLine_;
    QLabel* inactiveLine_;
};

}  // namespace tesvano
