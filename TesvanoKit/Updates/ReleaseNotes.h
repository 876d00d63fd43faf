#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tesvano {

// A piece of text with its inline styling.
struct StyledRun {
    enum Style : unsigned { plain = 0, strong = 1, emphasis = 2, code = 4, strikethrough = 8 };
    std::string text;
    unsigned style = plain;
    std::optional<std::string> link;
    bool operator==(const StyledRun&) const = default;
};
using StyledText = std::vector<StyledRun>;

std::string plainText(const StyledText& text);

struct ReleaseNoteBlock {
    enum class Kind { heading, listItem, paragraph };
    Kind kind = Kind::paragraph;
    int level = 0;  // headings: 1 to 6
    StyledText text;
    bool operator==(const ReleaseNoteBlock&) const = default;
};

// Release notes in Markdown as a flat list of headings, list items (at any depth) and
// paragraphs. Links to pull requests, issues and comparisons on the code-hosting site read
// as "#7" or the compared range; "@name" mentions link to the user's profile.
namespace ReleaseNotes {

inline constexpr std::string_view codeHostingHost = "github.com";
inline constexpr std::string_view codeHostingRoot = "https://github.com/";

// A block links at most this many mentions; later ones stay text (each link costs the
// text layout far more than its characters).
inline constexpr std::size_t maximumMentionLinks = 100;

std::vector<ReleaseNoteBlock> parse(std::string_view markdown);
std::optional<std::string> compactLinkLabel(std::string_view url);
StyledText compactLinks(const StyledText& text);
StyledText linkMentions(const StyledText& text);

}  // namespace ReleaseNotes

}  // namespace tesvano
