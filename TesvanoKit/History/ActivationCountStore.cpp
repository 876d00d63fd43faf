#include "TesvanoKit/History/ActivationCountStore.h"

#include <cmath>
#include <limits>

namespace tesvano {

namespace {
constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
}  // namespace

std::int64_t ActivationCountStore::read() const {
    if (auto count = defaults_.integer(key_)) {
        return *count;
    }
    // A hand-edited count too large for an integer is taken as the largest one, not as 0.
    if (auto real = defaults_.real(key_); real && !std::isnan(*real)) {
        return *real > 0 ? kMax : kMin;
    }
    return 0;
}

std::int64_t ActivationCountStore::value() const {
    std::lock_guard lock(mutex_);
    return read();
}

std::int64_t ActivationCountStore::increment() {
    std::lock_guard lock(mutex_);
    const std::int64_t current = read();
    const std::int64_t next = current == kMax ? kMax : current + 1;
    defaults_.set(key_, platform::DefaultsValue(next));
    return next;
}

}  // namespace tesvano
