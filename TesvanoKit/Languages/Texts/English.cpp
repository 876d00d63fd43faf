#include "TesvanoKit/Languages/Texts/Texts.h"

namespace tesvano::texts {

// English is the language of the keys; the table lists every key so that translators have
// the complete set, and shows where an English text differs from its key.
std::span<const Localization::Entry> english() {
    static constexpr Localization::Entry entries[] = {
        {"Tesvano", "Tesvano"},
        {"About Tesvano", "About Tesvano"},
        {"Enabled", "Enabled"},
        {"Disabled", "Disabled"},
        {"Settings…", "Settings…"},
        {"Check for Updates…", "Check for Updates…"},
        {"Install Update…", "Install Update…"},
        {"About", "About"},
        {"Quit", "Quit"},
        {"General", "General"},
        {"App Rules", "App Rules"},
        {"URL Rules", "URL Rules"},
        {"Shortcuts", "Shortcuts"},
        {"Permissions", "Permissions"},
        {"Updates", "Updates"},
        {"Log", "Log"},
        {"Backup", "Backup"},
        {"This pane is not available yet.", "This pane is not available yet."},
        {"Version %@ (%@)", "Version %@ (%@)"},
        {"Keep your keyboard input source locked.", "Keep your keyboard input source locked."},
        {"Acknowledgements", "Acknowledgements"},
        {"Done", "Done"},
        {"Accessibility", "Accessibility"},
        {"Accessibility access granted", "Accessibility access granted"},
        {"Grant once to unlock two optional features:",
         "Grant once to unlock two optional features:"},
        {"Per-URL rules in your browser", "Per-URL rules in your browser"},
        {"Targeting launchers like KRunner in app rules",
         "Targeting launchers like KRunner in app rules"},
        {"Grant Accessibility Access", "Grant Accessibility Access"},
        {"Set Up in Permissions…", "Set Up in Permissions…"},
        {"The core lock needs no permissions.", "The core lock needs no permissions."},
        // The shortcut recorder and the Shortcuts pane.
        {"record_shortcut", "Record Shortcut"},
        {"press_shortcut", "Press Shortcut"},
        {"keyboard_shortcut_used_by_menu_item",
         "This keyboard shortcut cannot be used as it\u2019s already used by the \u201c%1\u201d "
         "menu item."},
        {"keyboard_shortcut_used_by_system",
         "This keyboard shortcut cannot be used as it\u2019s already a system-wide keyboard "
         "shortcut."},
        {"keyboard_shortcuts_can_be_changed",
         "Most system-wide keyboard shortcuts can be changed in the keyboard settings of your "
         "desktop."},
        {"ok", "OK"},
        {"force_use_shortcut", "Use Anyway"},
        {"Global shortcuts", "Global shortcuts"},
        {"Current app", "Current app"},
        {"Toggle lock", "Toggle lock"},
        {"Lock to previous input source", "Lock to previous input source"},
        {"Lock to next input source", "Lock to next input source"},
        {"Remove this app's rule", "Remove this app's rule"},
        {"Works anywhere. Prefer a combination with Ctrl or Super.",
         "Works anywhere. Prefer a combination with Ctrl or Super."},
        {"Act on whichever app is frontmost. Nothing happens if it has no rule.",
         "Act on whichever app is frontmost. Nothing happens if it has no rule."},
        // The App Rules pane and the application picker: the desktop's own words.
        {"Bundle ID", "Application ID"},
        {"Add an app that isn't in the list by its bundle identifier.",
         "Add an app that isn't in the list by its desktop-entry id (org.gnome.TextEditor), or a "
         "program without one as process: and its name (process:htop)."},
        // The permission guide: its panes, grant button, floating panel and drag card.
        {"permission_flow.pane.app_management", "App Management"},
        {"permission_flow.pane.accessibility", "Accessibility"},
        {"permission_flow.pane.bluetooth", "Bluetooth"},
        {"permission_flow.pane.calendars", "Calendars"},
        {"permission_flow.pane.camera", "Camera"},
        {"permission_flow.pane.developer_tools", "Developer Tools"},
        {"permission_flow.pane.full_disk_access", "Full Disk Access"},
        {"permission_flow.pane.input_monitoring", "Input Monitoring"},
        {"permission_flow.pane.media_apple_music", "Media & Music"},
        {"permission_flow.pane.microphone", "Microphone"},
        {"permission_flow.pane.reminders", "Reminders"},
        {"permission_flow.pane.screen_recording", "Screen Recording"},
        {"permission_flow.pane.permission", "Permission"},
        {"permission_flow.app.this_app", "This App"},
        {"permission_flow.button.granted", "Granted"},
        {"permission_flow.button.grant", "Grant"},
        {"permission_flow.button.open", "Open"},
        {"permission_flow.button.checking", "Checking..."},
        {"permission_flow.panel.opening_settings", "Opening Settings..."},
        {"permission_flow.panel.title", "Allow **%@** to use **%@** in the settings above."},
        {"permission_flow.panel.no_settings",
         "No settings program of this desktop could be opened. Turn the permission on here."},
        {"permission_flow.drag.label", "Drag"},
        {"permission_flow.switch.turn_on", "Turn On Assistive Technologies"},
        {"permission_flow.switch.note",
         "A browser that is already running may need a restart before Tesvano can read its "
         "pages."},
        {"permission_flow.switch.confirm_title", "Turn on assistive technologies?"},
        {"permission_flow.switch.confirm",
         "Programs that support assistive technologies will then let Tesvano read their "
         "windows, such as the address of the page a browser shows. You can turn this off "
         "again in your desktop's accessibility settings."},
        {"permission_flow.switch.failed", "Assistive technologies could not be turned on: %@"},
    };
    return entries;
}

}  // namespace tesvano::texts
