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
        {"Targeting launchers like Spotlight in app rules",
         "Targeting launchers like Spotlight in app rules"},
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
        {"Detecting launchers like Spotlight requires Accessibility",
         "Detecting launchers like KRunner requires Accessibility"},
        {"Bundle ID", "Application ID"},
        {"Add an app that isn't in the list by its bundle identifier.",
         "Add an app that isn't in the list by its desktop-entry id (org.gnome.TextEditor), or a "
         "program without one as process: and its name (process:htop)."},
    };
    return entries;
}

}  // namespace tesvano::texts
