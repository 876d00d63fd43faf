#include "Platform/TextInput/Fake/FakeTextInputSources.h"

namespace tesvano::platform {

TextInputSource FakeTextInputSources::keyboard(std::string id, std::string name,
                                               std::vector<std::string> languages) {
    return TextInputSource{
        std::move(id),       std::string(keyboardInputSourceCategory), std::move(name), true, true,
        std::move(languages)};
}

std::optional<TextInputSource> FakeTextInputSources::currentKeyboardSource() {
    if (!currentID) {
        return std::nullopt;
    }
    return listedOrBare(installed, *currentID);
}

std::optional<TextInputSource> FakeTextInputSources::sourceWithID(std::string_view id) {
    ++idLookups;
    return findSource(installed, id);
}

SelectStatus FakeTextInputSources::select(std::string_view id) {
    selectCalls.emplace_back(id);
    if (selectFailure) {
        return *selectFailure;
    }
    if (!sourceWithID(id)) {
        return SelectStatus::unknownSource;
    }
    if (selectionTakesEffect) {
        currentID = std::string(id);
    }
    return SelectStatus::ok;
}

FocusedSelection FakeTextInputSources::selectInFocusedContext(std::string_view id) {
    focusedSelectCalls.emplace_back(id);
    if (focusedSelection && selectionTakesEffect && sourceWithID(id)) {
        currentID = std::string(id);
    }
    return focusedSelection;
}

}  // namespace tesvano::platform
