#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace tesvano {

// The desktop's file chooser for backups, with a seam for tests: a "next answer" stands in for
// the user and the request is kept for inspection, so no modal loop is ever driven.
class BackupFileDialog {
public:
    enum class Kind { save, open };

    struct Request {
        Kind kind = Kind::open;
        QString title;
        QString prompt;  // the accept button
        QStringList nameFilters;
        QString suggestedName;  // save only
        QString defaultSuffix;  // added to a typed name without one (save only)
    };

    // Shows the chooser window-modally over `parent`'s window, brought forward first. The
    // chosen path, or none when the user cancelled.
    static std::optional<QString> run(QWidget* parent, const Request& request);

    // The next run() answers this at once (none: cancelled) instead of showing the chooser.
    static void setNextAnswer(std::optional<QString> path);
    // The request of the last run(), answered or shown.
    static std::optional<Request> lastRequest();
};

}  // namespace tesvano
