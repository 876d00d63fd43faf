#pragma once

#include <functional>
#include <string>

#include "Platform/TextInput/TextInputSources.h"
#include "TesvanoKit/Sources/InputContextSelectionConfirmation.h"
#include "TesvanoKit/Sources/InputContextSourceSelector.h"
#include "TesvanoKit/Sources/InputSourceProviding.h"

namespace tesvano {

// The input sources of the system's text input layer. CJKV input methods are selected by
// asking the focused application first and fall back to the standard selection.
class TextInputSourceProvider final : public InputSourceProviding {
public:
    using KeyFocusSelect =
        std::function<KeyFocusInputSourceSelector::Result(const platform::TextInputSource&)>;

    // `system` must outlive the provider. Without `keyFocusSelect`, the key-focus route is the
    // system's request to the focused input context.
    explicit TextInputSourceProvider(platform::TextInputSources& system,
                                     KeyFocusSelect keyFocusSelect = {});

    std::optional<InputSourceID> currentSourceID() override;
    std::vector<InputSource> selectableSources() override;
    std::optional<InputSource> source(const InputSourceID& id) override;
    bool select(const InputSourceID& id) override;
    bool canSelect(const InputSourceID& id) override;

    const DirectSelectionConfirmation& directSelection() const { return directSelection_; }

private:
    std::optional<InputSource> convert(const platform::TextInputSource& source) const;

    DirectSelectionConfirmation directSelection_;
    std::string keyboardCategory_;
    platform::TextInputSources& system_;
    KeyFocusSelect keyFocusSelect_;
};

}  // namespace tesvano
