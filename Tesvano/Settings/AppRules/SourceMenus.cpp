#include "Tesvano/Settings/AppRules/SourceMenus.h"

#include <QComboBox>
#include <QSignalBlocker>

#include "Tesvano/App/AppState.h"

namespace tesvano::SourceMenus {

void fillModes(QComboBox* menu, const AppState& state) {
    const QSignalBlocker quiet(menu);
    menu->clear();
    for (const auto& item : modeItems) {
        menu->addItem(state.text(item.key), static_cast<int>(item.mode));
    }
}

void selectMode(QComboBox* menu, AppRuleMode mode) {
    const QSignalBlocker quiet(menu);
    menu->setCurrentIndex(menu->findData(static_cast<int>(mode)));
}

AppRuleMode modeAt(const QComboBox* menu, int index) {
    return static_cast<AppRuleMode>(menu->itemData(index).toInt());
}

void fillSources(QComboBox* menu, const AppState& state, std::string_view noneKey,
                 const std::optional<InputSourceID>& selected) {
    const QSignalBlocker quiet(menu);
    menu->clear();
    menu->addItem(state.text(noneKey), QVariant());
    int current = 0;
    for (const auto& source : state.availableSources()) {
        if (selected && source.id == *selected) {
            current = menu->count();
        }
        menu->addItem(QString::fromStdString(source.localizedName),
                      QString::fromStdString(source.id.rawValue));
    }
    if (selected && current == 0) {
        current = menu->count();
        menu->addItem(QString::fromStdString(selected->rawValue),
                      QString::fromStdString(selected->rawValue));
    }
    menu->setCurrentIndex(current);
}

std::optional<InputSourceID> sourceAt(const QComboBox* menu, int index) {
    const QVariant data = menu->itemData(index);
    if (!data.isValid()) {
        return std::nullopt;
    }
    return InputSourceID(data.toString().toStdString());
}

}  // namespace tesvano::SourceMenus
