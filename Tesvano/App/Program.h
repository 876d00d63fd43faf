#pragma once

#include "Tesvano/Settings/SettingsWindow.h"

namespace tesvano {

// The composition root: the one place that picks the real backends and wires the program's
// parts together.
namespace Program {

// The whole program; the return value is the process's exit status.
int main(int argc, char** argv);

// The panes of the Settings window, one factory per tab (none: the tab shows an empty pane).
SettingsWindow::PaneFactories settingsPanes();

}  // namespace Program

}  // namespace tesvano
