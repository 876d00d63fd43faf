#include "TesvanoKit/Languages/PoFile.h"

#include <algorithm>
#include <cctype>

namespace tesvano::po {

namespace {

// The quoted string that starts at `at` ("..." with C escapes); false when malformed.
bool unquote(std::string_view line, std::size_t at, std::string& out) {
    if (at >= line.size() || line[at] != '"')
        return false;
    for (std::size_t i = at + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"')
            return line.find_first_not_of(" \t\r", i + 1) == std::string_view::npos;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i == line.size())
            return false;
        switch (line[i]) {
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case '"':
                out.push_back('"');
                break;
            case '\\':
                out.push_back('\\');
                break;
            default:
                return false;
        }
    }
    return false;
}

}  // namespace

File parse(std::string_view text) {
    File file;
    enum class Field { none, id, str } field = Field::none;
    Message current;
    bool fuzzy = false;
    auto finish = [&] {
        if (field == Field::str && !current.key.empty())
            file.messages.push_back(
                {current.key, fuzzy ? std::string() : current.translation, current.line});
        current = {};
        fuzzy = false;
        field = Field::none;
    };
    int number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos) {
            finish();
            continue;
        }
        line.remove_prefix(first);
        const auto error = [&](std::string_view what) {
            file.errors.push_back("line " + std::to_string(number) + ": " + std::string(what));
        };
        if (line.starts_with("#")) {
            if (field == Field::str)
                finish();  // a comment opens the next entry
            if (line.starts_with("#,") && line.find("fuzzy") != std::string_view::npos)
                fuzzy = true;
            continue;
        }
        if (line.starts_with("msgid ")) {
            if (field != Field::none)
                finish();
            field = Field::id;
            current.line = number;
            if (!unquote(line, 6, current.key))
                error("malformed msgid");
        } else if (line.starts_with("msgstr ")) {
            if (field != Field::id)
                error("msgstr without msgid");
            field = Field::str;
            if (!unquote(line, 7, current.translation))
                error("malformed msgstr");
        } else if (line.starts_with("\"")) {
            std::string& target = field == Field::id ? current.key : current.translation;
            if (field == Field::none || !unquote(line, 0, target))
                error("stray string");
        } else {
            error("unknown line");
        }
    }
    finish();
    return file;
}

std::vector<std::string> placeholders(std::string_view text) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("%@") || rest.starts_with("%d") ||
            (rest.size() >= 2 && rest[0] == '%' && rest[1] >= '1' && rest[1] <= '9')) {
            out.emplace_back(rest.substr(0, 2));
            ++i;
        } else if (rest.starts_with("**")) {
            out.emplace_back("**");
            ++i;
        } else if (rest.starts_with("](")) {
            const auto close = rest.find(')');
            out.emplace_back(
                rest.substr(0, close == std::string_view::npos ? rest.size() : close + 1));
        } else if (rest.starts_with("tesvano://")) {
            auto stop = rest.find_first_of(" \t\n)\"`<>\u201d", 0);
            std::string address(rest.substr(0, stop));
            while (!address.empty() && std::ispunct(static_cast<unsigned char>(address.back())) &&
                   address.back() != '/')
                address.pop_back();
            i += address.size() - 1;
            out.push_back(std::move(address));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace tesvano::po
