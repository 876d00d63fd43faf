#include "Tesvano/Settings/Backup/BackupSettingsPane.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>

#include "Platform/Log/Log.h"
#include "Platform/Updater/StartJudgement.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Backup/BackupFileDialog.h"
#include "Tesvano/Settings/Backup/ImportReviewDialog.h"
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

// Reading takes the first part of the progress bar, decoding and planning the rest.
constexpr int readShare = 400;
constexpr int progressSteps = 1000;

// At most one byte past the limit, so that a huge file is refused without being read whole.
// `progress` follows the bytes read, up to readShare.
std::optional<QByteArray> readLimited(const QString& path, std::atomic<int>& progress) {
    const QFileInfo info(path);
    if (!info.isFile()) {
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const qint64 limit = qint64(ConfigBackup::maximumFileSize) + 1;
    const qint64 expected = std::max<qint64>(1, std::min(info.size(), limit));
    QByteArray bytes;
    while (bytes.size() < limit) {
        const QByteArray chunk = file.read(std::min<qint64>(256 * 1024, limit - bytes.size()));
        if (chunk.isEmpty()) {
            break;
        }
        bytes += chunk;
        progress = int(std::min<qint64>(readShare, readShare * bytes.size() / expected));
    }
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

// What the reading thread hands back: read by this thread once the worker has finished.
struct BackupSettingsPane::Reading {
    std::atomic<int> progress = 0;
    std::optional<BackupReadError> error;
    std::optional<ConfigBackup> backup;
    std::optional<ImportPlan> plan;
};

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
    // The two notices share one place whose room is kept while neither shows, so that
    // nothing below moves when one comes or goes.
    auto* noticeSlot = new QWidget(exportBox);
    noticeSlot->setObjectName(QStringLiteral("exportNoticeSlot"));
    auto* slotLayout = new QGridLayout(noticeSlot);
    slotLayout->setContentsMargins(0, 0, 0, 0);
    QLabel* exportText = nullptr;
    exportNotice_ = noticeRow("exclamationmark.triangle", warningOrange, exportText, noticeSlot);
    exportNotice_->setObjectName(QStringLiteral("exportNotice"));
    exportText->setText(state_.text("Couldn't save the backup file."));
    exportedNotice_ = noticeRow("checkmark.circle.fill",
                                SettingsStyle::color(exportBox, SettingsStyle::Level::secondary),
                                exportedText_, noticeSlot);
    exportedNotice_->setObjectName(QStringLiteral("exportedNotice"));
    for (QWidget* notice : {exportNotice_, exportedNotice_}) {
        QSizePolicy policy = notice->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        notice->setSizePolicy(policy);
        slotLayout->addWidget(notice, 0, 0);
    }
    exportRows->addWidget(noticeSlot);
    form->addWidget(exportBox);
    form->addWidget(new SectionFooter(
        state_,
        N_("Saves your global default source, app rules, and URL rules to a .tesvano file. "
           "“Enable Tesvano”, enhanced mode, language, and launch at login aren't included."),
        this));
    form->addSpacing(12);

    auto* importBox = new QGroupBox(state_.text("Import"), this);
    auto* importRows = new QVBoxLayout(importBox);
    importButton_ = new QPushButton(Symbols::icon("square.and.arrow.down"),
                                    state_.text("Import Configuration…"), importBox);
    importButton_->setObjectName(QStringLiteral("importButton"));
    importRows->addWidget(importButton_, 0, Qt::AlignLeft);
    progressRow_ = new QWidget(importBox);
    progressRow_->setObjectName(QStringLiteral("importProgress"));
    auto* progressLayout = new QHBoxLayout(progressRow_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    auto* progressText = new QLabel(state_.text("Reading the backup…"), progressRow_);
    progressText->setFont(SettingsStyle::footnote(progressRow_));
    SettingsStyle::setTextLevel(progressText, SettingsStyle::Level::secondary);
    progressLayout->addWidget(progressText);
    progress_ = new QProgressBar(progressRow_);
    progress_->setRange(0, progressSteps);
    progress_->setTextVisible(false);
    progressLayout->addWidget(progress_, 1);
    importRows->addWidget(progressRow_);
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(50);
    connect(progressTimer_, &QTimer::timeout, this, [this] {
        if (reading_) {
            progress_->setValue(reading_->progress.load());
        }
    });
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
    connect(importButton_, &QPushButton::clicked, this, [this] { importConfiguration(); });
    refresh();
}

void BackupSettingsPane::refresh() {
    progressRow_->setVisible(reading_ != nullptr);
    importButton_->setEnabled(reading_ == nullptr);
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
    if (reading_) {
        return;
    }
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
    startReading(*path);
}

void BackupSettingsPane::startReading(const QString& path) {
    auto reading = std::make_shared<Reading>();
    reading_ = reading;
    // The worker plans against a copy of this moment's rules; Apply plans again if they change.
    auto* worker = QThread::create([reading, path, configuration = state_.config(),
                                    sources = state_.availableSources()] {
        const platform::ThreadSignalStack signalStack;
        const auto bytes = readLimited(path, reading->progress);
        if (!bytes) {
            reading->error = BackupReadError::unreadable();
            return;
        }
        auto backup =
            ConfigBackup::read(std::string_view(bytes->constData(), std::size_t(bytes->size())));
        if (!backup) {
            reading->error = backup.error();
            return;
        }
        reading->progress = (readShare + progressSteps) / 2;
        reading->plan = ImportPlan::make(configuration, *backup, sources, ImportMode::merge);
        reading->backup = std::move(*backup);
        reading->progress = progressSteps;
    });
    // Delivered on this thread once the worker is done; dropped with the pane.
    connect(worker, &QThread::finished, this, [this, reading] {
        if (reading_ == reading) {
            finishReading();
        }
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    progress_->setValue(0);
    progressTimer_->start();
    refresh();
    worker->start();
}

void BackupSettingsPane::finishReading() {
    const std::shared_ptr<Reading> done = std::move(reading_);
    progressTimer_->stop();
    if (done->error) {
        importError_ = done->error;
    }
    refresh();
    if (done->plan && done->backup) {
        startReview(std::move(*done->plan), std::move(*done->backup));
    }
}

void BackupSettingsPane::startReview(ImportPlan plan, ConfigBackup backup) {
    reviewModel_ = std::make_shared<ImportReviewModel>(
        std::move(plan), [this, backup = std::move(backup)](const ImportPlan& reviewed) {
            return applyImport(reviewed, backup);
        });
    reviewDialog_ = new ImportReviewDialog(
        state_, reviewModel_, [this](const ImportOutcome& outcome) { finishImport(outcome); },
        this);
    connect(reviewDialog_, &QDialog::rejected, this, [this] { endReview(); });
    reviewDialog_->open();
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
    if (reviewDialog_) {
        reviewDialog_->hide();
        reviewDialog_->deleteLater();
        reviewDialog_ = nullptr;
    }
}

}  // namespace tesvano
