#include "TesvanoKit/Updates/ReleaseNotes.h"

#include <md4c.h>

#include <algorithm>
#include <cctype>

namespace tesvano {

std::string plainText(const StyledText& text) {
    std::string out;
    for (const auto& run : text) {
        out += run.text;
    }
    return out;
}

namespace ReleaseNotes {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Whitespace off both ends, styling of what remains kept.
StyledText trim(StyledText text) {
    while (!text.empty()) {
        auto& first = text.front().text;
        std::size_t n = 0;
        while (n < first.size() && isSpace(first[n])) {
            ++n;
        }
        first.erase(0, n);
        if (!first.empty()) {
            break;
        }
        text.erase(text.begin());
    }
    while (!text.empty()) {
        auto& last = text.back().text;
        while (!last.empty() && isSpace(last.back())) {
            last.pop_back();
        }
        if (!last.empty()) {
            break;
        }
        text.pop_back();
    }
    return text;
}

void append(StyledText& text, std::string_view piece, unsigned style,
            const std::optional<std::string>& link) {
    if (piece.empty()) {
        return;
    }
    if (!text.empty() && text.back().style == style && text.back().link == link) {
        text.back().text += piece;
    } else {
        text.push_back({std::string(piece), style, link});
    }
}

std::string decodeEntity(std::string_view entity) {
    static const std::pair<std::string_view, std::string_view> named[] = {
        {"&amp;", "&"},        {"&lt;", "<"},         {"&gt;", ">"},
        {"&quot;", "\""},      {"&apos;", "'"},       {"&nbsp;", "\u00a0"},
        {"&mdash;", "\u2014"}, {"&ndash;", "\u2013"}, {"&hellip;", "\u2026"}};
    for (const auto& [name, value] : named) {
        if (entity == name) {
            return std::string(value);
        }
    }
    if (entity.size() > 3 && entity[1] == '#') {
        unsigned long code = 0;
        const bool hex = entity[2] == 'x' || entity[2] == 'X';
        const std::string digits(entity.substr(hex ? 3 : 2, entity.size() - (hex ? 4 : 3)));
        try {
            code = std::stoul(digits, nullptr, hex ? 16 : 10);
        } catch (...) {
            return std::string(entity);
        }
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return "\uFFFD";
        }
        std::string out;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
        return out;
    }
    return std::string(entity);
}

struct Walker {
    struct Open {
        MD_BLOCKTYPE type;
        int level;
    };
    std::vector<Open> blocks;  // outermost first
    std::vector<unsigned> styles{StyledRun::plain};
    std::vector<std::optional<std::string>> links{std::nullopt};
    StyledText collected;
    std::vector<ReleaseNoteBlock> result;

    void flush() {
        StyledText text = trim(std::move(collected));
        collected.clear();
        if (text.empty()) {
            return;
        }
        ReleaseNoteBlock block;
        block.text = linkMentions(compactLinks(text));
        // Innermost first: a heading decides, else any list item around it.
        block.kind = ReleaseNoteBlock::Kind::paragraph;
        for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
            if (it->type == MD_BLOCK_H) {
                block.kind = ReleaseNoteBlock::Kind::heading;
                block.level = it->level;
                break;
            }
            if (it->type == MD_BLOCK_LI) {
                block.kind = ReleaseNoteBlock::Kind::listItem;
                break;
            }
        }
        result.push_back(std::move(block));
    }
};

int enterBlock(MD_BLOCKTYPE type, void* detail, void* data) {
    auto& w = *static_cast<Walker*>(data);
    w.flush();
    const int level =
        type == MD_BLOCK_H ? static_cast<int>(static_cast<MD_BLOCK_H_DETAIL*>(detail)->level) : 0;
    w.blocks.push_back({type, level});
    return 0;
}

int leaveBlock(MD_BLOCKTYPE, void*, void* data) {
    auto& w = *static_cast<Walker*>(data);
    w.flush();
    if (!w.blocks.empty()) {
        w.blocks.pop_back();
    }
    return 0;
}

std::string attributeText(const MD_ATTRIBUTE& attribute) {
    std::string out;
    for (int i = 0; attribute.substr_offsets[i] < attribute.size; ++i) {
        const MD_SIZE begin = attribute.substr_offsets[i];
        const MD_SIZE end = attribute.substr_offsets[i + 1];
        const std::string_view piece(attribute.text + begin, end - begin);
        out +=
            attribute.substr_types[i] == MD_TEXT_ENTITY ? decodeEntity(piece) : std::string(piece);
    }
    return out;
}

int enterSpan(MD_SPANTYPE type, void* detail, void* data) {
    auto& w = *static_cast<Walker*>(data);
    unsigned style = w.styles.back();
    std::optional<std::string> link = w.links.back();
    switch (type) {
        case MD_SPAN_STRONG:
            style |= StyledRun::strong;
            break;
        case MD_SPAN_EM:
            style |= StyledRun::emphasis;
            break;
        case MD_SPAN_CODE:
            style |= StyledRun::code;
            break;
        case MD_SPAN_DEL:
            style |= StyledRun::strikethrough;
            break;
        case MD_SPAN_A:
            link = attributeText(static_cast<MD_SPAN_A_DETAIL*>(detail)->href);
            break;
        default:
            break;
    }
    w.styles.push_back(style);
    w.links.push_back(std::move(link));
    return 0;
}

int leaveSpan(MD_SPANTYPE, void*, void* data) {
    auto& w = *static_cast<Walker*>(data);
    if (w.styles.size() > 1) {
        w.styles.pop_back();
        w.links.pop_back();
    }
    return 0;
}

int text(MD_TEXTTYPE type, const MD_CHAR* chars, MD_SIZE size, void* data) {
    auto& w = *static_cast<Walker*>(data);
    const std::string_view piece(chars, size);
    unsigned style = w.styles.back();
    if (!w.blocks.empty() && w.blocks.back().type == MD_BLOCK_CODE) {
        style |= StyledRun::code;
    }
    switch (type) {
        case MD_TEXT_NULLCHAR:
            append(w.collected, "\uFFFD", style, w.links.back());
            break;
        case MD_TEXT_BR:
        case MD_TEXT_SOFTBR:
            append(w.collected, "\n", style, w.links.back());
            break;
        case MD_TEXT_ENTITY:
            append(w.collected, decodeEntity(piece), style, w.links.back());
            break;
        default:
            append(w.collected, piece, style, w.links.back());
            break;
    }
    return 0;
}

std::string lowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
}

}  // namespace

std::vector<ReleaseNoteBlock> parse(std::string_view markdown) {
    Walker walker;
    MD_PARSER parser{};
    parser.abi_version = 0;
    // Bare e-mail addresses stay text: looking for them around every "@" costs time in long
    // paragraphs of mentions.
    parser.flags = (MD_DIALECT_GITHUB & ~MD_FLAG_PERMISSIVEEMAILAUTOLINKS) | MD_FLAG_NOHTML;
    parser.enter_block = enterBlock;
    parser.leave_block = leaveBlock;
    parser.enter_span = enterSpan;
    parser.leave_span = leaveSpan;
    parser.text = text;
    if (md_parse(markdown.data(), static_cast<MD_SIZE>(markdown.size()), &parser, &walker) != 0) {
        // Unreadable: the text as one plain paragraph.
        StyledText plain = trim({StyledRun{std::string(markdown), StyledRun::plain, {}}});
        if (plain.empty()) {
            return {};
        }
        return {ReleaseNoteBlock{ReleaseNoteBlock::Kind::paragraph, 0, std::move(plain)}};
    }
    walker.flush();
    return std::move(walker.result);
}

std::optional<std::string> compactLinkLabel(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(scheme + 3);
    const auto pathStart = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, pathStart);
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
        authority = authority.substr(0, colon);
    }
    const std::string host = lowercase(authority);
    if (host.empty() ||
        (host != codeHostingHost && !host.ends_with(std::string(".").append(codeHostingHost)))) {
        return std::nullopt;
    }
    if (pathStart == std::string_view::npos || rest[pathStart] != '/') {
        return std::nullopt;
    }
    std::string_view path = rest.substr(pathStart);
    path = path.substr(0, path.find_first_of("?#"));
    std::vector<std::string_view> pieces;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const std::string_view piece = path.substr(0, slash);
        if (!piece.empty()) {
            pieces.push_back(piece);
        }
        if (slash == std::string_view::npos) {
            break;
        }
        path.remove_prefix(slash + 1);
    }
    if (pieces.size() < 4) {
        return std::nullopt;
    }
    if (pieces[2] == "pull" || pieces[2] == "issues") {
        return std::string("#").append(pieces[3]);
    }
    if (pieces[2] == "compare") {
        return std::string(pieces[3]);
    }
    return std::nullopt;
}

StyledText compactLinks(const StyledText& text) {
    StyledText out;
    for (const auto& run : text) {
        const auto label = run.link ? compactLinkLabel(*run.link) : std::nullopt;
        if (!label) {
            out.push_back(run);
            continue;
        }
        // One label for a link split over several runs.
        if (!out.empty() && out.back().link == run.link && out.back().text == *label) {
            continue;
        }
        out.push_back({*label, run.style, run.link});
    }
    return out;
}

StyledText linkMentions(const StyledText& text) {
    const std::string plain = plainText(text);
    struct Mention {
        std::size_t begin;
        std::size_t end;
        std::string link;
    };
    std::vector<Mention> mentions;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] != '@') {
            continue;
        }
        if (i > 0) {
            const char before = plain[i - 1];
            if (std::isalnum(static_cast<unsigned char>(before)) != 0 || before == '_' ||
                before == '@' || before == '/' || before == '.') {
                continue;
            }
        }
        std::size_t end = i + 1;
        while (end < plain.size() && end - (i + 1) < 39 && isNameChar(plain[end])) {
            ++end;
        }
        while (end > i + 1 && plain[end - 1] == '-') {
            --end;
        }
        if (end == i + 1 || plain[i + 1] == '-') {
            continue;
        }
        mentions.push_back(
            {i, end, std::string(codeHostingRoot) + plain.substr(i + 1, end - i - 1)});
        i = end - 1;
    }
    if (mentions.empty()) {
        return text;
    }
    // One pass over runs and mentions together (both in text order, mentions apart from each
    // other): a mention over code or an existing link stays unlinked.
    std::vector<Mention> linked;
    linked.reserve(mentions.size());
    {
        std::size_t run = 0;
        std::size_t runStart = 0;
        for (auto& m : mentions) {
            while (run < text.size() && runStart + text[run].text.size() <= m.begin) {
                runStart += text[run].text.size();
                ++run;
            }
            bool eligible = true;
            std::size_t start = runStart;
            for (std::size_t k = run; k < text.size() && start < m.end; ++k) {
                if ((text[k].style & StyledRun::code) != 0 || text[k].link) {
                    eligible = false;
                    break;
                }
                start += text[k].text.size();
            }
            if (eligible) {
                linked.push_back(std::move(m));
                if (linked.size() == maximumMentionLinks) {
                    break;
                }
            }
        }
    }
    StyledText out;
    std::size_t next = 0;  // the first linked mention that does not end before the cursor
    std::size_t offset = 0;
    for (const auto& run : text) {
        const std::size_t runEnd = offset + run.text.size();
        std::size_t at = offset;
        while (at < runEnd) {
            while (next < linked.size() && linked[next].end <= at) {
                ++next;
            }
            std::size_t pieceEnd = runEnd;
            const Mention* inside = nullptr;
            if (next < linked.size()) {
                if (linked[next].begin <= at) {
                    inside = &linked[next];
                    pieceEnd = std::min(runEnd, linked[next].end);
                } else {
                    pieceEnd = std::min(runEnd, linked[next].begin);
                }
            }
            append(out, std::string_view(run.text).substr(at - offset, pieceEnd - at), run.style,
                   inside ? std::optional<std::string>(inside->link) : run.link);
            at = pieceEnd;
        }
        offset = runEnd;
    }
    return out;
}

}  // namespace ReleaseNotes

}  // namespace tesvano
