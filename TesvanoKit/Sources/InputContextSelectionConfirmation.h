#pragma once

#include <optional>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

// Remembers a source selected through the key-focus route until the system reports it as
// current, so that a route that claims success without effect is not trusted twice.
struct DirectSelectionConfirmation {
    std::optional<InputSourceID> pending;

    void confirm(const std::optional<InputSourceID>& currentID) {
        if (pending && currentID && *pending == *currentID) {
            pending.reset();
        }
    }
};

}  // namespace tesvano
