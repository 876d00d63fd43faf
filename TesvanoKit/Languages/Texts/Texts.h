#pragma once

#include <span>

#include "TesvanoKit/Languages/Localization.h"

// One table per interface language, generated at build time from po/<code>.po. Keys are the
// English texts (or, for a few, a short name whose English text po/en.po gives).
namespace tesvano::texts {

std::span<const Localization::Entry> english();
std::span<const Localization::Entry> simplifiedChinese();
std::span<const Localization::Entry> traditionalChinese();
std::span<const Localization::Entry> japanese();
std::span<const Localization::Entry> french();
std::span<const Localization::Entry> german();
std::span<const Localization::Entry> spanish();
std::span<const Localization::Entry> portuguese();
std::span<const Localization::Entry> russian();

}  // namespace tesvano::texts
