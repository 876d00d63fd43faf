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

    // The current keyboard source, or none when the system reports none. One the system does
    // not list goes by its id.
    virtual std::optional<InputSource> currentSource() = 0;
    // The sources the user can switch to, in the system's order.
    virtual std::vector<InputSource> selectableSources() = 0;
    virtual std::optional<InputSource> source(const InputSourceID& id) = 0;
    // Selects a source this provider handed out; answers whether it was selected.
    virtual bool select(const InputSource& source) = 0;
    // Whether the system lets this program select the source at all now. Where it does not,
    // the source is neither selected nor put back after a switch, and nobody is fought.
    virtual bool canSelect(const InputSource& /*source*/) { return true; }

    std::optional<InputSourceID> currentSourceID() {
        const auto current = currentSource();
        return current ? std::optional<InputSourceID>(current->id) : std::nullopt;
    }
};

}  // namespace tesvano
