#pragma once

#include <optional>
#include <span>

#include "TesvanoKit/Rules/LockConfiguration.h"

namespace tesvano {

enum class CycleDirection { previous, next };

namespace SourceCycler {

// The source after (or before) `current` in `sources`, wrapping around at both ends. Without a
// current source, or one not in the list, the first source for `next` and the last for
// `previous`. None for fewer than two sources: there is nothing to cycle to.
std::optional<InputSourceID> next(const std::optional<InputSourceID>& current,
                                  std::span<const InputSourceID> sources, CycleDirection direction);

}  // namespace SourceCycler

}  // namespace tesvano
