#include <gtest/gtest.h>

#include "TesvanoKit/Updates/ReleaseNotes.h"

namespace tesvano {
namespace {

using Kind = ReleaseNoteBlock::Kind;

// A block as "kind:level:text".
std::vector<std::string> outline(std::string_view markdown) {
    std::vector<std::string> out;
    for (const auto& block : ReleaseNotes::parse(markdown)) {
        const char* kind = block.kind == Kind::heading    ? "h"
                           : block.kind == Kind::listItem ? "li"
                                                          : "p";
        out.push_back(std::string(kind) + ":" + std::to_string(block.level) + ":" +
                      plainText(block.text));
    }
    return out;
}

TEST(ReleaseNotes, SplitsIntoHeadingsListItemsAndParagraphs) {
    struct Case {
        const char* markdown;
        std::vector<std::string> blocks;
    };
    const Case cases[] = {
        {"", {}},
        {" \n\n\t\n", {}},
        {"# Title\n\nSome text.", {"h:1:Title", "p:0:Some text."}},
        {"### Small", {"h:3:Small"}},
        {"* one\n* two\n* three", {"li:0:one", "li:0:two", "li:0:three"}},
        {"1. first\n2. second", {"li:0:first", "li:0:second"}},
        {"* item\n\n  with a paragraph", {"li:0:item", "li:0:with a paragraph"}},
        {"* outer\n  * inner", {"li:0:outer", "li:0:inner"}},
        {"line one\nline two", {"p:0:line one\nline two"}},
        {"> quoted", {"p:0:quoted"}},
        {"```\ncode\n```", {"p:0:code"}},
        {"a &amp; b &#x41;", {"p:0:a & b A"}},
        {"<b>not html</b>", {"p:0:<b>not html</b>"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outline(c.markdown), c.blocks) << c.markdown;
    }
}

TEST(ReleaseNotes, KeepsInlineStyling) {
    const auto blocks =
        ReleaseNotes::parse("**bold** _em_ `code` ~~gone~~ [site](https://example.org)");
    ASSERT_EQ(blocks.size(), 1u);
    const StyledText expected = {
        {"bold", StyledRun::strong, {}},
        {" ", StyledRun::plain, {}},
        {"em", StyledRun::emphasis, {}},
        {" ", StyledRun::plain, {}},
        {"code", StyledRun::code, {}},
        {" ", StyledRun::plain, {}},
        {"gone", StyledRun::strikethrough, {}},
        {" ", StyledRun::plain, {}},
        {"site", StyledRun::plain, "https://example.org"},
    };
    EXPECT_EQ(blocks[0].text, expected);
}

TEST(ReleaseNotes, CompactsLinksToTheCodeHostingSite) {
    struct Case {
        const char* url;
        std::optional<std::string> label;
    };
    const Case cases[] = {
        {"https://github.com/quorvel/tesvano/pull/7", "#7"},
        {"https://GitHub.com/quorvel/tesvano/issues/42#issuecomment-1", "#42"},
        {"https://www.github.com/a/b/compare/v1.0...v1.1", "v1.0...v1.1"},
        {"https://github.com/quorvel/tesvano", std::nullopt},
        {"https://github.com/quorvel/tesvano/pull", std::nullopt},
        {"https://github.com/quorvel/tesvano/tree/main", std::nullopt},
        {"https://notgithub.com/a/b/pull/1", std::nullopt},
        {"https://github.com.evil.org/a/b/pull/1", std::nullopt},
        {"mailto:someone@github.com", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReleaseNotes::compactLinkLabel(c.url), c.label) << c.url;
    }
    const auto blocks =
        ReleaseNotes::parse("Fixed in **[this change](https://github.com/q/t/pull/7)**.");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(plainText(blocks[0].text), "Fixed in #7.");
    EXPECT_EQ(blocks[0].text[1],
              (StyledRun{"#7", StyledRun::strong, "https://github.com/q/t/pull/7"}));
}

TEST(ReleaseNotes, LinksMentionsOutsideCodeAndLinks) {
    struct Case {
        const char* markdown;
        std::vector<std::string> linked;  // the texts that carry a profile link
    };
    const Case cases[] = {
        {"Thanks @alice and @bob-2!", {"@alice", "@bob-2"}},
        {"mail me@example.org", {}},
        {"a/@path x.@dot _@under @@twice", {}},
        {"@-dash", {}},
        {"@trailing- end", {"@trailing"}},
        {"`@code` @real", {"@real"}},
        {"[@linked](https://example.org)", {}},
        {"(@paren)", {"@paren"}},
        {"@abcdefghijabcdefghijabcdefghijabcdefghijXYZ",
         {"@abcdefghijabcdefghijabcdefghijabcdefghi"}},
    };
    for (const auto& c : cases) {
        const auto blocks = ReleaseNotes::parse(c.markdown);
        ASSERT_EQ(blocks.size(), 1u) << c.markdown;
        std::vector<std::string> linked;
        for (const auto& run : blocks[0].text) {
            if (run.link && run.link->starts_with("https://github.com/") &&
                run.text.starts_with("@")) {
                EXPECT_EQ(*run.link, "https://github.com/" + run.text.substr(1));
                linked.push_back(run.text);
            }
        }
        EXPECT_EQ(linked, c.linked) << c.markdown;
    }
}

}  // namespace
}  // namespace tesvano
