#pragma once

#include <string_view>

namespace tesvano::platform {

// Whether brackets open deeper than `limit` anywhere outside strings. Cheap, and it spares a
// JSON parser (and every reader after it) documents no writer of ours makes: nesting in the
// tens of thousands exhausts the stack of code that walks a value.
bool jsonNestsDeeperThan(std::string_view bytes, int limit);

}  // namespace tesvano::platform
