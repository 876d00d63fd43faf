#include "Platform/Workspace/TrayItemMessages.h"

namespace tesvano::platform {

namespace {

// dbusmenu writes a mnemonic as '_' and a plain underscore doubled.
std::string menuLabel(const std::string& label) {
    std::string out;
    for (const char c : label) {
        out += c == '_' ? std::string("__") : std::string(1, c);
    }
    return out;
}

// One key press: dbusmenu allows a sequence of them, ours are single.
int appendShortcut(sd_bus_message* m, const std::vector<std::string>& keys) {
    int r = sd_bus_message_open_container(m, 'e', "sv");
    r = r >= 0 ? sd_bus_message_append(m, "s", "shortcut") : r;
    r = r >= 0 ? sd_bus_message_open_container(m, 'v', "aas") : r;
    r = r >= 0 ? sd_bus_message_open_container(m, 'a', "as") : r;
    r = r >= 0 ? sd_bus_message_open_container(m, 'a', "s") : r;
    for (const auto& key : keys) {
        r = r >= 0 ? sd_bus_message_append(m, "s", key.c_str()) : r;
    }
    for (int level = 0; level < 4 && r >= 0; ++level) {
        r = sd_bus_message_close_container(m);
    }
    return r;
}

}  // namespace

int appendPixmaps(sd_bus_message* m, const std::vector<TrayIconPixmap>& pixmaps) {
    int r = sd_bus_message_open_container(m, 'a', "(iiay)");
    for (const auto& pixmap : pixmaps) {
        if (r >= 0) {
            r = sd_bus_message_open_container(m, 'r', "iiay");
        }
        if (r >= 0) {
            r = sd_bus_message_append(m, "ii", pixmap.width, pixmap.height);
        }
        if (r >= 0) {
            r = sd_bus_message_append_array(m, 'y', pixmap.argb.data(), pixmap.argb.size());
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(m);
        }
    }
    return r >= 0 ? sd_bus_message_close_container(m) : r;
}

int appendRowProperties(sd_bus_message* m, const TrayMenuRow* item) {
    int r = sd_bus_message_open_container(m, 'a', "{sv}");
    if (item == nullptr) {
        r = r >= 0 ? sd_bus_message_append(m, "{sv}", "children-display", "s", "submenu") : r;
    } else if (const auto& row = *item; row.separator) {
        r = r >= 0 ? sd_bus_message_append(m, "{sv}", "type", "s", "separator") : r;
    } else {
        const std::string label = menuLabel(row.label);
        r = r >= 0 ? sd_bus_message_append(m, "{sv}{sv}", "label", "s", label.c_str(), "enabled",
                                           "b", row.enabled ? 1 : 0)
                   : r;
        if (row.checkable && r >= 0) {
            r = sd_bus_message_append(m, "{sv}{sv}", "toggle-type", "s", "checkmark",
                                      "toggle-state", "i", row.checked ? 1 : 0);
        }
        if (!row.shortcut.empty() && r >= 0) {
            r = appendShortcut(m, row.shortcut);
        }
        if (!row.iconPng.empty() && r >= 0) {
            r = sd_bus_message_open_container(m, 'e', "sv");
            r = r >= 0 ? sd_bus_message_append(m, "s", "icon-data") : r;
            r = r >= 0 ? sd_bus_message_open_container(m, 'v', "ay") : r;
            r = r >= 0 ? sd_bus_message_append_array(m, 'y', row.iconPng.data(), row.iconPng.size())
                       : r;
            r = r >= 0 ? sd_bus_message_close_container(m) : r;
            r = r >= 0 ? sd_bus_message_close_container(m) : r;
        }
    }
    return r >= 0 ? sd_bus_message_close_container(m) : r;
}

std::vector<std::string> rowPropertyNames(const TrayMenuRow& row) {
    if (row.separator) {
        return {"type"};
    }
    std::vector<std::string> names{"label", "enabled"};
    if (row.checkable) {
        names.insert(names.end(), {"toggle-type", "toggle-state"});
    }
    if (!row.shortcut.empty()) {
        names.emplace_back("shortcut");
    }
    if (!row.iconPng.empty()) {
        names.emplace_back("icon-data");
    }
    return names;
}

bool sameShape(const std::vector<TrayMenuRow>& a, const std::vector<TrayMenuRow>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].separator != b[i].separator || a[i].checkable != b[i].checkable) {
            return false;
        }
    }
    return true;
}

}  // namespace tesvano::platform
