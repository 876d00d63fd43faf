#pragma once

namespace tesvano {

// Registers the program's compiled-in icons and symbols. They live in a static library,
// whose registration the linker would otherwise drop; every executable calls this once
// before it shows anything. Calling it again does nothing.
void initResources();

}  // namespace tesvano
