#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tesvano::po {

// One message of a gettext .po file: the English key and its translation (empty: not
// translated, the key's English text shows).
struct Message {
    std::string key;
    std::string translation;
    int line = 0;
};

struct File {
    std::vector<Message> messages;  // the header (empty key) left out
    std::vector<std::string> errors;
};

// Reads the subset of the format the project's files use: msgid/msgstr with continuation
// lines and C escapes; comments, fuzzy flags and obsolete entries are skipped.
File parse(std::string_view text);

// The markers a translation must keep exactly as its key has them: %@, %d, %1..%9, Markdown
// bold and link targets, tesvano:// addresses. Sorted, so two lists compare as multisets.
std::vector<std::string> placeholders(std::string_view text);

}  // namespace tesvano::po
