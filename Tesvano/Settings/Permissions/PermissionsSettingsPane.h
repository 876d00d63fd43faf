#pragma once

#include <QWidget>

class QGroupBox;
class QVBoxLayout;

namespace tesvano {

class AppState;
class GnomeShellExtensionSection;

// The Permissions tab: the lock needs no permission; Accessibility access unlocks two optional
// features. Shows whether access is granted and offers the guided grant while it is not. The
// grant is read again whenever the pane is shown and whenever the program becomes active
// (the user coming back from granting it). On GNOME a second step: the shell extension the
// lock needs there, read again at the same moments.
class PermissionsSettingsPane final : public QWidget {
public:
    explicit PermissionsSettingsPane(AppState& state, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuildSection();

    AppState& state_;
    QVBoxLayout* sectionRows_;
    GnomeShellExtensionSection* gnomeSection_ = nullptr;
    bool shownGranted_ = false;
    bool built_ = false;
};

}  // namespace tesvano
