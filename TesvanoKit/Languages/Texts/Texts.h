#pragma once

#include <span>

#include "TesvanoKit/Languages/Localization.h"

// One table per interface language. Keys are the English texts.
namespace tesvano::texts {

std::span<const Localization::Entry> english();
std::span<const Localization::Entry> german();

}  // namespace tesvano::texts
