#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <vector>

namespace tesvano {

// Follows the applications folders of the XDG data directories, so that a program installed,
// changed or removed while Tesvano runs shows with its name and icon without a restart. Every
// folder and its subfolders are watched; a folder that does not exist yet is watched through
// its nearest existing parent. Changes come in bursts (a package installs many files): the
// callback runs once they have been quiet for `quiet`.
class ApplicationFolderWatcher final : public QObject {
public:
    ApplicationFolderWatcher(std::vector<std::filesystem::path> folders,
                             std::function<void()> onChange,
                             std::chrono::milliseconds quiet = std::chrono::milliseconds(500),
                             QObject* parent = nullptr);

    // The folders watched now.
    QStringList watchedFolders() const { return watcher_.directories(); }

private:
    void watchAgain();

    std::vector<std::filesystem::path> folders_;
    std::function<void()> onChange_;
    QFileSystemWatcher watcher_;
    QTimer quiet_;
};

}  // namespace tesvano
