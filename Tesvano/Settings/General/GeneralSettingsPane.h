#pragma once

#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace tesvano {

class AppState;
class LocaleFormat;

// The General tab: whether the lock is on and what it has done, and the program-wide
// switches (launch at login, password fields, the tray icon, the interface language, the
// tesvano:// commands). Every control reads and writes AppState; the pane keeps nothing. It
// is built again when the interface language changes.
class GeneralSettingsPane final : public QWidget {
public:
    explicit GeneralSettingsPane(AppState& state, QWidget* parent = nullptr);
    ~GeneralSettingsPane() override;

    // How the pane opens a document and starts a program; tests replace them.
    std::function<void(const QUrl&)> openURL;
    std::function<void(const QStringList& command)> runCommand;

    // The command that opens the desktop's autostart settings; none hides the button. Read
    // from the desktop at construction.
    void setAutostartSettingsCommand(std::optional<QStringList> command);

    // The value labels of the Status section.
    QLabel* currentSourceLabel() const { return currentSource_; }
    QLabel* activationsLabel() const { return activations_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildStatus();
    void buildStartup();
    void buildPasswordFields();
    void buildTray();
    void buildLanguage();
    void buildAutomation();
    void refreshLoginItem();
    void syncAll();
    void syncStartup();
    void syncTray();

    AppState& state_;
    std::unique_ptr<LocaleFormat> format_;
    std::optional<QStringList> autostartCommand_;
    QCheckBox* enabled_ = nullptr;
    QLabel* currentSource_ = nullptr;
    QLabel* activations_ = nullptr;
    QCheckBox* launchAtLogin_ = nullptr;
    QPushButton* openAutostart_ = nullptr;
    QLabel* approvalFooter_ = nullptr;
    QCheckBox* enforceInPasswordFields_ = nullptr;
    QCheckBox* hideTrayIcon_ = nullptr;
    QLabel* trayFooter_ = nullptr;
    QLabel* noTrayFooter_ = nullptr;
    QComboBox* language_ = nullptr;
    QCheckBox* apiEnabled_ = nullptr;
    QPushButton* documentation_ = nullptr;
};

}  // namespace tesvano
