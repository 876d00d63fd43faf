#include "TesvanoKit/Texts/Texts.h"

namespace tesvano::texts {

// English is the language of the keys; the table lists every key so that translators have
// the complete set, and shows where an English text differs from its key.
std::span<const Localization::Entry> english() {
    static constexpr Localization::Entry entries[] = {
        {"Tesvano", "Tesvano"},
    };
    return entries;
}

}  // namespace tesvano::texts
