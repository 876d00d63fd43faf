#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/Backup/ImportPlan.h"
#include "TesvanoKit/Languages/SupportedLanguage.h"

namespace tesvano {

// The texts of the import review that are built from an item rather than looked up whole.
namespace ImportReviewText {

enum class Side { file, local };

// What one side of an item does: "Lock to German", "Switch to Russian · URL regex", "Ignore",
// "Use default" or "Default", in the given language.
std::string ruleText(const ImportItem& item, Side side, const ImportPlan& plan,
                     SupportedLanguage language);

// What the reader assumed for values of the file it did not know, one line each: "Unknown
// behavior “switch”: imported as Lock".
std::vector<std::string> assumptions(const ImportItem& item, SupportedLanguage language);

// A text key with one number in it ("Conflicts (%d)"), in the given language.
std::string withCount(std::string_view key, std::int64_t count, SupportedLanguage language);

// A text key with one text in it ("Lock to %@"), in the given language.
std::string withText(std::string_view key, std::string_view value, SupportedLanguage language);

}  // namespace ImportReviewText

}  // namespace tesvano
