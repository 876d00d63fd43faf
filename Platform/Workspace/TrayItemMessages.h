#pragma once

// What the tray item writes into its replies and signals; internal to Platform/Workspace.

#include <systemd/sd-bus.h>

#include <string>
#include <vector>

#include "Platform/Workspace/StatusNotifierItem.h"

namespace tesvano::platform {

// The icon's sizes as StatusNotifierItem's a(iiay).
int appendPixmaps(sd_bus_message* m, const std::vector<TrayIconPixmap>& pixmaps);

// A menu row's dbusmenu properties as a{sv}; the root's for none.
int appendRowProperties(sd_bus_message* m, const TrayMenuRow* row);

// The properties a row sends; those it sent before and no longer does are announced as
// removed, or a host keeps showing them.
std::vector<std::string> rowPropertyNames(const TrayMenuRow& row);

// Whether two menus have rows of the same kinds in the same places, so that a change can be
// announced row by row rather than as a new layout.
bool sameShape(const std::vector<TrayMenuRow>& a, const std::vector<TrayMenuRow>& b);

}  // namespace tesvano::platform
