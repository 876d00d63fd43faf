#include "TesvanoKit/Texts/Texts.h"

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
    };
    return entries;
}

}  // namespace tesvano::texts
