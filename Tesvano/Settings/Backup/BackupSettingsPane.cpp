#include "Tesvano/Settings/Backup/BackupSettingsPane.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "Platform/Log/Log.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Backup/BackupFileDialog.h"
#include "Tesvano/Settings/Backup/ImportReviewSheet.h"
#include "Tesvano/Settings/Components/SectionFooter.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("backup");
    return logger;
}

const QColor warningOrange(0xE0, 0x7A, 0x10);

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A symbol, then a footnote in the secondary style.
QWidget* noticeRow(std::string_view symbol, const QColor& color, QLabel*& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* mark = new QLabel(row);
    mark->setPixmap(Symbols::pixmap(symbol, 14, color, row->devicePixelRatioF()));
    layout->addWidget(mark, 0, Qt::AlignTop);
    text = new QLabel(row);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setFont(SettingsStyle::footnote(row));
    SettingsStyle::setTextLevel(text, SettingsStyle::Level::secondary);
    layout->addWidget(text, 1);
    return row;
}

// At most one byte past the limit, so that a huge file is refused without being read whole.
std::optional<QByteArray> readLimited(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray bytes = file.read(qint64(ConfigBackup::maximumFileSize) + 1);
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

BackupSettingsPane::BackupSettingsPane(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("backupPane"));
    setWindowTitle(state_.text("Backup"));
    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);

    auto* exportBox = new QGroupBox(state_.text("Export"), this);
    auto* exportRows = new QVBoxLayout(exportBox);
    auto* exportButton = new QPushButton(Symbols::icon("square.and.arrow.up"),
                                         state_.text("Export Configuration…"), exportBox);
    exportButton->setObjectName(QStringLiteral("exportButton"));
    exportRows->addWidget(exportButton, 0, Qt::AlignLeft);
    QLabel* exportText = nullptr;
    exportNotice_ = noticeRow("exclamationmark.triangle", warningOrange, exportText, exportBox);
    exportNotice_->setObjectName(QStringLiteral("exportNotice"));
    exportText->setText(state_.text("Couldn't save the backup file."));
    exportRows->addWidget(exportNotice_);
    exportedNotice_ = noticeRow("checkmark.circle.fill",
                                SettingsStyle::color(exportBox, SettingsStyle::Level::secondary),
                                exportedText_, exportBox);
    exportedNotice_->setObjectName(QStringLiteral("exportedNotice"));
    exportRows->addWidget(exportedNotice_);
    form->addWidget(exportBox);
    form->addWidget(new SectionFooter(
        state_,
        N_("Saves your global default source, app rules, and URL rules to a .tesvano file. The "
           "master lock, enhanced mode, language, and launch at login aren't included."),
        this));
    form->addSpacing(12);

    auto* importBox = new QGroupBox(state_.text("Import"), this);
    auto* importRows = new QVBoxLayout(importBox);
    auto* importButton = new QPushButton(Symbols::icon("square.and.arrow.down"),
                                         state_.text("Import Configuration…"), importBox);
    importButton->setObjectName(QStringLiteral("importButton"));
    importRows->addWidget(importButton, 0, Qt::AlignLeft);
    importNotice_ =
        noticeRow("exclamationmark.triangle", warningOrange, importNoticeText_, importBox);
    importNotice_->setObjectName(QStringLiteral("importNotice"));
    importRows->addWidget(importNotice_);
    receiptRow_ = noticeRow("checkmark.circle",
                            SettingsStyle::color(importBox, SettingsStyle::Level::secondary),
                            importedLine_, importBox);
    receiptRow_->setObjectName(QStringLiteral("receipt"));
    importedLine_->setObjectName(QStringLiteral("receipt.imported"));
    inactiveLine_ = new QLabel(receiptRow_);
    inactiveLine_->setObjectName(QStringLiteral("receipt.inactive"));
    inactiveLine_->setFont(importedLine_->font());
    SettingsStyle::setTextLevel(inactiveLine_, SettingsStyle::Level::secondary);
    // Under the first line, beside the mark.
    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    auto* receiptLayout = static_cast<QHBoxLayout*>(receiptRow_->layout());
    receiptLayout->removeWidget(importedLine_);
    lines->addWidget(importedLine_);
    lines->addWidget(inactiveLine_);
    receiptLayout->addLayout(lines, 1);
    importRows->addWidget(receiptRow_);
    form->addWidget(importBox);
    form->addWidget(new SectionFooter(state_,
                                      N_("You'll review every change before it's applied. Nothing "
                                         "is modified until you click Apply."),
                                      this));
    form->addStretch(1);

    connect(exportButton, &QPushButton::clicked, this, [this] { exportConfiguration(); });
    connect(importButton, &QPushButton::clicked, this, [this] { importConfiguration(); });
    refresh();
}

void BackupSettingsPane::refresh() {
    exportNotice_->setVisible(exportFailed_);
    // An export that worked says where the file went.
    exportedNotice_->setVisible(exportedTo_.has_value());
    if (exportedTo_) {
        exportedText_->setText(
            state_.text("Saved as %@.").replace(QStringLiteral("%@"), *exportedTo_));
    }
    importNotice_->setVisible(importError_.has_value());
    if (importError_) {
        importNoticeText_->setText(qs(importError_->text(state_.effectiveLanguage())));
    }
    receiptRow_->setVisible(receipt_.has_value());
    if (receipt_) {
        importedLine_->setText(
            state_.text("Rules imported: %d")
                .replace(QStringLiteral("%d"), QString::number(receipt_->imported)));
        inactiveLine_->setText(
            state_.text("Not active until installed: %d")
                .replace(QStringLiteral("%d"), QString::number(receipt_->inactive)));
        inactiveLine_->setVisible(receipt_->inactive > 0);
    }
}

void BackupSettingsPane::exportConfiguration() {
    exportFailed_ = false;
    exportedTo_.reset();
    refresh();
    BackupFileDialog::Request request;
    request.kind = BackupFileDialog::Kind::save;
    request.title = state_.text("Export Configuration");
    request.prompt = state_.text("Export");
    request.nameFilters = {state_.text("Tesvano Backup") + QStringLiteral(" (*.tesvano)")};
    const auto now =
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(state_.runtime().now());
    request.suggestedName =
        qs(ConfigBackup::suggestedFileName(now, ConfigBackup::localTimeZoneID()));
    request.defaultSuffix = qs(ConfigBackup::fileExtension);
    const auto path = BackupFileDialog::run(this, request);
    if (!path) {
        return;
    }

    std::string failure;
    const auto bytes = state_.makeBackupDocument().encodedData();
    if (!bytes) {
        failure = bytes.error();
    } else {
        // Written beside the target and renamed over it: a failure leaves any old file whole.
        QSaveFile file(*path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(bytes->data(), qint64(bytes->size())) != qint64(bytes->size()) ||
            !file.commit()) {
            failure = file.errorString().toStdString();
        }
    }
    if (!failure.empty()) {
        log().error("Backup export failed: %{private}s", failure);
        exportFailed_ = true;
    } else {
        exportedTo_ = QDir::toNativeSeparators(*path);
    }
    refresh();
}

void BackupSettingsPane::importConfiguration() {
    importError_.reset();
    receipt_.reset();
    refresh();
    BackupFileDialog::Request request;
    request.kind = BackupFileDialog::Kind::open;
    request.title = state_.text("Import Configuration");
    request.prompt = state_.text("Import");
    request.nameFilters = {state_.text("Tesvano Backup or JSON") +
                           QStringLiteral(" (*.tesvano *.json)")};
    const auto path = BackupFileDialog::run(this, request);
    if (!path) {
        return;
    }
    const auto bytes = readLimited(*path);
    if (!bytes) {
        importError_ = BackupReadError::unreadable();
        refresh();
        return;
    }
    auto backup =
        ConfigBackup::read(std::string_view(bytes->constData(), std::size_t(bytes->size())));
    if (!backup) {
        importError_ = backup.error();
        refresh();
        return;
    }
    ImportPlan plan =
        ImportPlan::make(state_.config(), *backup, state_.availableSources(), ImportMode::merge);
    startReview(std::move(plan), std::move(*backup));
}

void BackupSettingsPane::startReview(ImportPlan plan, ConfigBackup backup) {
    reviewModel_ = std::make_shared<ImportReviewModel>(
        std::move(plan), [this, backup = std::move(backup)](const ImportPlan& reviewed) {
            return applyImport(reviewed, backup);
        });
    sheet_ = new ImportReviewSheet(
        state_, reviewModel_, [this](const ImportOutcome& outcome) { finishImport(outcome); },
        this);
    connect(sheet_, &QDialog::rejected, this, [this] { endReview(); });
    sheet_->open();
}

ImportOutcome BackupSettingsPane::applyImport(const ImportPlan& plan, const ConfigBackup& backup) {
    ImportPlan effective = plan;
    if (state_.config() != plan.baseConfig) {
        // A shortcut, the tray menu or a command changed the rules while the review was open.
        effective = ImportPlan::rebased(plan, state_.config(), backup, state_.availableSources());
    }
    const ImportOutcome outcome = effective.outcome();
    state_.setConfig(effective.apply());
    state_.commitConfiguration(ActivationReason::configChanged);
    return outcome;
}

void BackupSettingsPane::finishImport(const ImportOutcome& outcome) {
    receipt_ = outcome;
    endReview();
    refresh();
}

void BackupSettingsPane::endReview() {
    reviewModel_.reset();
    if (sheet_) {
        sheet_->hide();
        sheet_->deleteLater();
        sheet_ = nullptr;
    }
}

}  // namespace tesvano
