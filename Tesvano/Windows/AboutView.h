#pragma once

#include <QDialog>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <vector>

class QLabel;

namespace tesvano {

class AppState;

// The dialog of the open-source libraries the program is built with.
class AcknowledgementsView final : public QDialog {
public:
    // A library the program links, its licence, its home, and the file names (their
    // beginnings) it is loaded from; a library made only of headers has none.
    struct Library {
        QString name;
        QString license;
        QUrl url;
        QStringList files;
    };
    static const std::vector<Library>& libraries();

    AcknowledgementsView(const AppState& state, std::function<void(const QUrl&)> openURL,
                         QWidget* parent = nullptr);
};

// The content of the About window: icon (following the lock), name, version and build, a
// line of description, the repository link, the acknowledgements and the copyright.
class AboutView final : public QWidget {
public:
    static QUrl repositoryURL();

    explicit AboutView(AppState& state, QWidget* parent = nullptr);

    // How links are opened; by default through the desktop.
    std::function<void(const QUrl&)> openURL;

    bool showsUnlockedIcon() const { return showsUnlocked_; }
    // Opens the acknowledgements dialog (the button's action).
    void showAcknowledgements();
    AcknowledgementsView* acknowledgements() const { return acknowledgements_; }

private:
    void refreshIcon();

    AppState& state_;
    QLabel* icon_;
    bool showsUnlocked_ = false;
    AcknowledgementsView* acknowledgements_ = nullptr;
};

}  // namespace tesvano
