#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "TesvanoKit/History/ActivationEvent.h"
#include "TesvanoKit/Languages/TextKey.h"
#include "TesvanoKit/Rules/LockConfiguration.h"

class QComboBox;

namespace tesvano {

class AppState;

// The pickers the App Rules pane shares between its sections and its rows.
namespace SourceMenus {

// The four rule modes, in menu order, with their text keys.
struct ModeItem {
    AppRuleMode mode;
    std::string_view key;
};
inline constexpr ModeItem modeItems[] = {
    {AppRuleMode::locked, N_("Lock to")},
    {AppRuleMode::switched, N_("Switch to")},
    {AppRuleMode::ignored, N_("Ignore")},
    {AppRuleMode::useDefault, N_("Use default")},
};

void fillModes(QComboBox* menu, const AppState& state);
void selectMode(QComboBox* menu, AppRuleMode mode);
AppRuleMode modeAt(const QComboBox* menu, int index);

// "None"/"Default" (no source) first, then the available sources by name. A chosen source that
// is not available (a keyboard layout removed since) is shown by its id, so that the menu never
// pretends the rule has none.
void fillSources(QComboBox* menu, const AppState& state, std::string_view noneKey,
                 const std::optional<InputSourceID>& selected);
std::optional<InputSourceID> sourceAt(const QComboBox* menu, int index);

}  // namespace SourceMenus

}  // namespace tesvano
