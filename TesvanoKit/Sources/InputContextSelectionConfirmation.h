#pragma once

#include <optional>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

// Remembers a source the focused input context was asked to take until the framework reports
// it as current, so that a request that claims success without effect is not trusted twice.
struct InputContextSelectionConfirmation {
    std::optional<InputSourceID> pending;

    void confirm(const std::optional<InputSourceID>& currentID) {
        if (pending && currentID && *pending == *currentID) {
            pending.reset();
        }
    }
};

}  // namespace tesvano
