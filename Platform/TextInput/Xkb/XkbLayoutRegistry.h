#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano::platform {

// What the XKB layout registry says about the layouts and variants of one rules set.
class XkbLayoutRegistry {
public:
    struct Entry {
        std::string description;             // in English, as the registry has it
        std::vector<std::string> languages;  // BCP 47 tags
    };

    // Reads the registry of the named rules ("evdev", "base"); the default rules when the name
    // is empty or unknown. A registry that cannot be read is empty.
    explicit XkbLayoutRegistry(const std::string& rules);

    // The layout's entry, or its variant's (an empty variant is the layout itself). A variant
    // without languages of its own has the layout's.
    const Entry* find(std::string_view layout, std::string_view variant) const;
    bool empty() const { return entries_.empty(); }

private:
    std::map<std::string, Entry, std::less<>> entries_;  // "layout" or "layout(variant)"
};

// An ISO 639 code as a BCP 47 primary language subtag: the two-letter code where ISO 639-1
// has one (so "jpn" and "ger" become "ja" and "de"), else the three-letter code itself.
std::string languageTagForISO639(std::string_view code);

}  // namespace tesvano::platform
