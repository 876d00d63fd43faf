#pragma once

#include <QGroupBox>
#include <memory>

class QVBoxLayout;

namespace tesvano {

class AppState;
namespace platform {
class GnomeShellExtension;
}

// The GNOME step of the Permissions pane: on GNOME the shell owns the input sources, and the
// lock holds only through our shell extension. Shows where the extension stands and installs
// and enables it when the user asks to. Read again by refresh().
class GnomeShellExtensionSection final : public QGroupBox {
public:
    GnomeShellExtensionSection(AppState& state, platform::GnomeShellExtension& extension,
                               QWidget* parent = nullptr);
    void refresh();

private:
    void install();

    AppState& state_;
    platform::GnomeShellExtension& extension_;
    QVBoxLayout* rows_;
    int shownState_ = -1;
    std::shared_ptr<void> watch_;
};

}  // namespace tesvano
