#include "PermissionFlow/PanelText.h"

#include <vector>

namespace PermissionFlow {

std::string escapeHTML(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string instructionHTML(std::string_view templ, std::string_view appName,
                            std::string_view permissionName) {
    // Pieces of the template between bold markers; odd pieces are bold.
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        const auto marker = templ.find("**", start);
        pieces.push_back(templ.substr(
            start, marker == std::string_view::npos ? std::string_view::npos : marker - start));
        if (marker == std::string_view::npos) {
            break;
        }
        start = marker + 2;
    }
    const bool balanced = pieces.size() % 2 == 1;
    if (!balanced) {
        pieces = {templ};
    }
    const std::string names[] = {escapeHTML(appName), escapeHTML(permissionName)};
    int nextName = 0;
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const bool bold = i % 2 == 1;
        if (bold) {
            out += "<b>";
        }
        std::string_view piece = pieces[i];
        for (;;) {
            const auto slot = piece.find("%@");
            out += escapeHTML(piece.substr(0, slot));
            if (slot == std::string_view::npos) {
                break;
            }
            out += nextName < 2 ? names[nextName] : std::string();
            ++nextName;
            piece = piece.substr(slot + 2);
        }
        if (bold) {
            out += "</b>";
        }
    }
    return out;
}

}  // namespace PermissionFlow
