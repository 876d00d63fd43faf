#include "TesvanoKit/Languages/Texts/Texts.h"

namespace tesvano::texts {

// German. So far only the shortcut recorder's own texts; the rest shows in English.
std::span<const Localization::Entry> german() {
    static constexpr Localization::Entry entries[] = {
        {"record_shortcut", "Kurzbefehl aufnehmen"},
        {"press_shortcut", "Kurzbefehl drücken"},
        {"keyboard_shortcut_used_by_menu_item",
         "Dieser Kurzbefehl kann nicht verwendet werden, da er bereits vom Menüpunkt "
         "\u201e%1\u201c "
         "verwendet wird."},
        {"keyboard_shortcut_used_by_system",
         "Dieser Kurzbefehl kann nicht verwendet werden, da er bereits ein systemweiter "
         "Kurzbefehl ist."},
        {"keyboard_shortcuts_can_be_changed",
         "Die meisten systemweiten Kurzbefehle lassen sich in den Tastatureinstellungen der "
         "Arbeitsumgebung ändern."},
        {"ok", "OK"},
        {"force_use_shortcut", "Trotzdem verwenden"},
    };
    return entries;
}

}  // namespace tesvano::texts
