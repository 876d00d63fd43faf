#pragma once

#include <functional>

#include "Platform/TextInput/TextInputSources.h"
#include "TesvanoKit/Sources/InputContextSelectionConfirmation.h"
#include "TesvanoKit/Sources/InputContextSourceSelector.h"
#include "TesvanoKit/Sources/InputSourceProviding.h"

namespace tesvano {

// The input sources of the system's text input layer. CJKV input methods are selected by
// asking the focused input context first and fall back to the plain selection.
class TextInputSourceProvider final : public InputSourceProviding {
public:
    using InputContextSelect =
        std::function<InputContextSourceSelector::Result(const platform::TextInputSource&)>;

    // `system` must outlive the provider. Without `inputContextSelect`, the focused input
    // context is asked through the system's own request.
    explicit TextInputSourceProvider(platform::TextInputSources& system,
                                     InputContextSelect inputContextSelect = {});

    std::optional<InputSource> currentSource() override;
    std::vector<InputSource> selectableSources() override;
    std::optional<InputSource> source(const InputSourceID& id) override;
    bool select(const InputSource& source) override;
    bool canSelect(const InputSource& source) override;

    const InputContextSelectionConfirmation& inputContextSelection() const {
        return inputContextSelection_;
    }

private:
    InputContextSelectionConfirmation inputContextSelection_;
    platform::TextInputSources& system_;
    InputContextSelect inputContextSelect_;
};

}  // namespace tesvano
