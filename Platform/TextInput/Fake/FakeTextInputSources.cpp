#include "Platform/TextInput/Fake/FakeTextInputSources.h"

namespace tesvano::platform {

TextInputSource FakeTextInputSources::keyboard(std::string id, std::string name,
                                               std::vector<std::string> languages) {
    return TextInputSource{std::move(id), std::move(name), std::move(languages)};
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

SelectStatus FakeTextInputSources::select(const TextInputSource& source) {
    const std::string id = source.id.value_or("");
    selectCalls.push_back(id);
    if (selectFailure) {
        return *selectFailure;
    }
    if (!sourceWithID(id)) {
        return SelectStatus::unknownSource;
    }
    if (selectionTakesEffect) {
        currentID = id;
    }
    return SelectStatus::ok;
}

FocusedSelection FakeTextInputSources::selectInFocusedContext(const TextInputSource& source) {
    const std::string id = source.id.value_or("");
    focusedSelectCalls.push_back(id);
    if (focusedSelection && selectionTakesEffect && sourceWithID(id)) {
        currentID = id;
    }
    return focusedSelection;
}

}  // namespace tesvano::platform
