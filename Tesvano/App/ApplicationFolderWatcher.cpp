#include "Tesvano/App/ApplicationFolderWatcher.h"

#include <QDirIterator>
#include <system_error>

namespace tesvano {

ApplicationFolderWatcher::ApplicationFolderWatcher(std::vector<std::filesystem::path> folders,
                                                   std::function<void()> onChange,
                                                   std::chrono::milliseconds quiet, QObject* parent)
    : QObject(parent), folders_(std::move(folders)), onChange_(std::move(onChange)) {
    quiet_.setSingleShot(true);
    quiet_.setInterval(quiet);
    connect(&quiet_, &QTimer::timeout, this, [this] {
        if (onChange_) {
            onChange_();
        }
    });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        // New subfolders, or a folder that now exists, are watched from now on.
        watchAgain();
        quiet_.start();
    });
    watchAgain();
}

void ApplicationFolderWatcher::watchAgain() {
    QStringList wanted;
    for (const auto& folder : folders_) {
        std::error_code error;
        if (std::filesystem::is_directory(folder, error)) {
            const QString root = QString::fromStdString(folder.string());
            wanted << root;
            QDirIterator below(root, QDir::Dirs | QDir::NoDotAndDotDot,
                               QDirIterator::Subdirectories);
            while (below.hasNext()) {
                wanted << below.next();
            }
            continue;
        }
        // Not there yet: its nearest existing parent tells when it appears.
        for (auto parent = folder.parent_path(); !parent.empty(); parent = parent.parent_path()) {
            if (std::filesystem::is_directory(parent, error)) {
                wanted << QString::fromStdString(parent.string());
                break;
            }
            if (parent == parent.root_path()) {
                break;
            }
        }
    }
    wanted.removeDuplicates();
    const QStringList watched = watcher_.directories();
    QStringList gone;
    for (const QString& path : watched) {
        if (!wanted.contains(path)) {
            gone << path;
        }
    }
    if (!gone.isEmpty()) {
        watcher_.removePaths(gone);
    }
    QStringList added;
    for (const QString& path : wanted) {
        if (!watched.contains(path)) {
            added << path;
        }
    }
    if (!added.isEmpty()) {
        watcher_.addPaths(added);
    }
}

}  // namespace tesvano
