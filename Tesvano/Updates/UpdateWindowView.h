#pragma once

#include <QLocale>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "TesvanoKit/Updates/UpdateViewModel.h"

class QLabel;
class QProgressBar;
class QVBoxLayout;
class QHBoxLayout;

namespace tesvano {

class AppState;
class CallbackURLOpener;

// The content of the update window: the update model of the state's update controller from
// the check to the installation, and the choices the updater waits for. It keeps no state
// of its own; every change of the model redraws it.
class UpdateWindowView final : public QWidget {
public:
    static constexpr int contentWidth = 540;
    static constexpr int contentHeight = 480;

    UpdateWindowView(AppState& state, std::function<void()> closeWindow, QWidget* parent = nullptr);

    static QString subtitle(const AppState& state, const UpdateViewModel& model);
    // "12.3 MB of 40 MB — 1.1 MB/s, 25s remaining", or only the two amounts without a speed.
    static QString progressDetail(const AppState& state, std::uint64_t downloaded,
                                  std::uint64_t expected, double speed);
    static QString byteCount(const QLocale& locale, std::uint64_t bytes);
    // Rounded to whole seconds; at most two units, zero units left out: "1h 2m", "3m", "0s".
    static QString remainingTime(double seconds);
    static QString failureMessage(const AppState& state, UpdateFailure failure);

    // A link clicked in the release notes: an https link opens once the user agrees, others
    // never. Tests replace the question and the opener.
    void openNoteLink(const QString& url);
    std::function<bool(const QString& url)> confirmLink;
    std::shared_ptr<CallbackURLOpener> linkOpener;

private:
    void refresh();
    void rebuildBody();
    void rebuildFooter();
    void updateProgress();
    QWidget* centred(QWidget* inner);

    AppState& state_;
    UpdateViewModel& model_;
    std::function<void()> closeWindow_;
    platform::Registration observation_;
    QLabel* subtitle_;
    QLabel* currentVersion_;
    QVBoxLayout* bodyHost_;
    QHBoxLayout* footer_;
    QPointer<QWidget> body_;
    QPointer<QProgressBar> progress_;
    QPointer<QLabel> progressDetail_;
    QString bodyKey_;
    QString footerKey_;
};

}  // namespace tesvano
