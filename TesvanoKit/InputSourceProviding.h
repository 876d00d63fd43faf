#pragma once

#include <optional>
#include <vector>

#include "TesvanoKit/ActivationEvent.h"

namespace tesvano {

// The engine's window onto the system's input sources.
class InputSourceProviding {
public:
    virtual ~InputSourceProviding() = default;
    virtual std::optional<InputSourceID> currentSourceID() = 0;
    virtual std::vector<InputSource> selectableSources() = 0;
    virtual std::optional<InputSource> source(const InputSourceID& id) = 0;
    virtual bool select(const InputSourceID& id) = 0;
};

}  // namespace tesvano
