#pragma once

#include <optional>
#include <vector>

#include "TesvanoKit/History/ActivationEvent.h"
#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

// The engine's window onto the system's input sources, so that the lock controller and the
// engine can run against a substitute. Main thread only.
class InputSourceProviding {
public:
    virtual ~InputSourceProviding() = default;

    // The current keyboard source, or none when the system reports none.
    virtual std::optional<InputSourceID> currentSourceID() = 0;
    // The sources the user can switch to, in the system's order.
    virtual std::vector<InputSource> selectableSources() = 0;
    virtual std::optional<InputSource> source(const InputSourceID& id) = 0;
    // Selects the source; answers whether it was selected.
    virtual bool select(const InputSourceID& id) = 0;
    // Whether the system lets this program select the source at all now. Where it does not,
    // the source is neither selected nor put back after a switch, and nobody is fought.
    virtual bool canSelect(const InputSourceID& /*id*/) { return true; }
};

}  // namespace tesvano
