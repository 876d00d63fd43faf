#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "KeyboardShortcuts/Name.h"
#include "KeyboardShortcuts/RecorderDecision.h"
#include "KeyboardShortcuts/Shortcut.h"
#include "Platform/Runtime/Runtime.h"

class QAction;

namespace KeyboardShortcuts {

class LocalEventMonitor;

// What the recorder asks the user when a combination is taken.
struct RecorderAlert {
    QString messageText;
    QString informativeText;
    // The buttons in order; empty for the one default button.
    QStringList buttons;
};

// The system beep, and an alert that answers the index of the chosen button. Replaceable
// (tests observe them, a program may bring its own); none restores the default (the
// application's beep; a warning message box, modal to the recorder's window).
void setBeepHandler(std::function<void()> beep);
void setAlertPresenter(std::function<int(QWidget* parent, const RecorderAlert&)> present);

// The control with which the user sets the global shortcut of one name: shows the stored
// combination, records the next one while it has the focus, checks it against the program's
// menu (setMainMenuProvider) and the combinations other programs hold, stores it and reports
// it. Its clear button (or Delete while recording) removes the shortcut. While it records no
// global shortcut fires. Needs an installed Library.
class Recorder final : public QLineEdit {
    Q_OBJECT

public:
    using OnChange = std::function<void(const std::optional<Shortcut>&)>;

    static constexpr int minimumWidth = 130;

    explicit Recorder(Name name, OnChange onChange = {}, QWidget* parent = nullptr);
    ~Recorder() override;

    const Name& shortcutName() const { return shortcutName_; }
    // A name with another text shows that name's shortcut.
    void setShortcutName(const Name& name);

    bool isRecording() const;
    // Whether the clear button is shown (exactly when a shortcut is).
    bool isClearButtonShown() const;
    // The placeholder again in the current interface language; also done on a language-change
    // event.
    void retranslate();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showStoredShortcut();
    void updateClearButton();
    void startRecording();
    // The ending steps; nothing when not recording.
    void stopRecording();
    // Ends recording by giving up the focus.
    void endRecording();
    // Asks the user through the alert hook after ending recording, then records again.
    int presentAlertAndResume(const RecorderAlert& alert);
    void preventBecomingKey();
    void clearShortcut();
    void accept(const Shortcut& shortcut);
    bool handleEvent(QObject* receiver, QEvent* event);
    RecorderContext context() const;

    Name shortcutName_;
    OnChange onChange_;
    QAction* clearAction_ = nullptr;
    std::unique_ptr<LocalEventMonitor> eventMonitor_;
    tesvano::platform::Registration shortcutsNameChangeObserver_;
    // Keeps the focus from landing here when the window becomes active; a click still works.
    bool canBecomeKey_ = false;
};

}  // namespace KeyboardShortcuts
