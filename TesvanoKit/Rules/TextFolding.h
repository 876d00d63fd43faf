#pragma once

#include <string>
#include <string_view>

// Lower-casing and trimming as rule patterns and command words are compared: full Unicode,
// independent of the user's locale.
namespace tesvano::TextFolding {

bool isASCII(std::string_view text);
char asciiLower(char c);
// Full Unicode lower-casing with the root locale.
std::string lowercased(std::string_view text);
// The white space trimmed from patterns: every space separator and the tab, not line breaks.
bool isTrimmedSpace(char32_t c);
std::string trimmed(std::string_view text);

}  // namespace tesvano::TextFolding
