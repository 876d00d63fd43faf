#include "TesvanoKit/Sources/SourceCycler.h"

#include <algorithm>

namespace tesvano::SourceCycler {

std::optional<InputSourceID> next(const std::optional<InputSourceID>& current,
                                  std::span<const InputSourceID> sources,
                                  CycleDirection direction) {
    const std::size_t n = sources.size();
    if (n < 2) {
        return std::nullopt;
    }
    const auto found = current ? std::ranges::find(sources, *current) : sources.end();
    if (found == sources.end()) {
        return direction == CycleDirection::next ? sources.front() : sources.back();
    }
    const auto i = static_cast<std::size_t>(found - sources.begin());
    return direction == CycleDirection::next ? sources[(i + 1) % n] : sources[(i + n - 1) % n];
}

}  // namespace tesvano::SourceCycler
