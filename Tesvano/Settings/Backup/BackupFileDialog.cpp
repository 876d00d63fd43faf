#include "Tesvano/Settings/Backup/BackupFileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>
#include <utility>

namespace tesvano {

namespace {

struct Seam {
    bool armed = false;
    std::optional<QString> answer;
    std::optional<BackupFileDialog::Request> last;
};

Seam& seam() {
    static Seam shared;
    return shared;
}

// Where the chooser opens: the folder of the last backup saved or opened, else Documents.
QString& lastFolder() {
    static QString folder;
    return folder;
}

QString startFolder() {
    if (!lastFolder().isEmpty() && QFileInfo(lastFolder()).isDir()) {
        return lastFolder();
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

}  // namespace

void BackupFileDialog::setNextAnswer(std::optional<QString> path) {
    seam().armed = true;
    seam().answer = std::move(path);
}

std::optional<BackupFileDialog::Request> BackupFileDialog::lastRequest() {
    return seam().last;
}

std::optional<QString> BackupFileDialog::run(QWidget* parent, const Request& request) {
    seam().last = request;
    if (seam().armed) {
        seam().armed = false;
        return std::exchange(seam().answer, std::nullopt);
    }

    QWidget* window = parent != nullptr ? parent->window() : nullptr;
    if (window != nullptr) {
        window->show();
        window->raise();
        window->activateWindow();
    }
    // The platform theme gives the desktop's own chooser (through the portal where one runs).
    QFileDialog dialog(window, request.title, startFolder());
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setNameFilters(request.nameFilters);
    dialog.setLabelText(QFileDialog::Accept, request.prompt);
    if (request.kind == Kind::save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(request.defaultSuffix);
        dialog.selectFile(request.suggestedName);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString chosen = dialog.selectedFiles().constFirst();
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    lastFolder() = QFileInfo(chosen).absolutePath();
    return chosen;
}

}  // namespace tesvano
