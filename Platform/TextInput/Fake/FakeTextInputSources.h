#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Platform/TextInput/TextInputSources.h"

namespace tesvano::platform {

// Input sources scripted by a test. Nothing changes by itself: the test sets the installed
// list and the current source, and sends the change notifications when it wants them.
class FakeTextInputSources final : public TextInputSources {
public:
    // An enabled keyboard source.
    static TextInputSource keyboard(std::string id, std::string name,
                                    std::vector<std::string> languages = {});

    std::vector<TextInputSource> sources() override { return installed; }
    std::optional<TextInputSource> currentKeyboardSource() override;
    std::optional<TextInputSource> sourceWithID(std::string_view id) override;
    SelectStatus select(const TextInputSource& source) override;
    bool isAvailable() override {
        ++availabilityChecks;
        return available;
    }
    bool managesKeyboardLayouts() override { return managesLayouts; }
    bool canSelect(const TextInputSource&) override { return selectable; }
    // Answers `focusedSelection`; on success the source becomes current like a selection.
    FocusedSelection selectInFocusedContext(const TextInputSource& source) override;

    void sendSelectionChanged() { notifySelectionChanged(); }
    void sendEnabledSourcesChanged() { notifyEnabledSourcesChanged(); }
    std::size_t selectionObservers() { return selectionObserverCount(); }
    std::size_t enabledSourcesObservers() { return enabledSourcesObserverCount(); }

    // What `sources` answers, in order.
    std::vector<TextInputSource> installed;
    // The id of the current source; it need not be installed (the system may report a
    // source that is not in the list). None: the system reports no current source.
    std::optional<std::string> currentID;
    // When set, `select` answers this without changing anything.
    std::optional<SelectStatus> selectFailure;
    // False: `select` reports success but the current source stays as it was.
    bool selectionTakesEffect = true;

    // Whether the system answers, and whether it sets the keyboard layouts itself.
    bool available = true;
    bool managesLayouts = false;
    // False: the system keeps the selection to itself, as GNOME Shell does without our extension.
    bool selectable = true;
    // What the request to the focused input context answers; none by default.
    FocusedSelection focusedSelection = std::unexpected(FocusedSelectionFailure{});

    std::vector<std::string> selectCalls;
    std::vector<std::string> focusedSelectCalls;
    // How often the source list was searched for an id, and the availability asked for.
    int idLookups = 0;
    int availabilityChecks = 0;
};

}  // namespace tesvano::platform
