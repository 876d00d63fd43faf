#include "Platform/Updater/Version.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace tesvano::platform {

namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

struct Parsed {
    std::vector<std::string> numbers;  // digits only, leading zeros stripped
    std::vector<std::string> pre;      // pre-release pieces
};

std::string stripZeros(std::string_view digits) {
    const auto first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string("0") : std::string(digits.substr(first));
}

Parsed parse(std::string_view text) {
    Parsed out;
    if (!text.empty() && (text.front() == 'v' || text.front() == 'V')) {
        text.remove_prefix(1);
    }
    std::size_t i = 0;
    while (i < text.size() && isDigit(text[i])) {
        const std::size_t start = i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
        }
        out.numbers.push_back(stripZeros(text.substr(start, i - start)));
        if (i + 1 < text.size() && text[i] == '.' && isDigit(text[i + 1])) {
            ++i;
        } else {
            break;
        }
    }
    std::string_view rest = text.substr(i);
    // Build metadata ("+…") does not order versions.
    if (const auto plus = rest.find('+'); plus != std::string_view::npos) {
        rest = rest.substr(0, plus);
    }
    std::string piece;
    auto flush = [&] {
        if (!piece.empty()) {
            out.pre.push_back(piece);
            piece.clear();
        }
    };
    for (char c : rest) {
        if (c == '.' || c == '-' || c == '_' || c == ' ') {
            flush();
        } else if (!piece.empty() && isDigit(c) != isDigit(piece.back())) {
            flush();
            piece.push_back(c);
        } else {
            piece.push_back(c);
        }
    }
    flush();
    return out;
}

int compareNumbers(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

int comparePiece(const std::string& a, const std::string& b) {
    const bool an = isDigit(a.front());
    const bool bn = isDigit(b.front());
    if (an && bn) {
        return compareNumbers(stripZeros(a), stripZeros(b));
    }
    if (an != bn) {
        return an ? -1 : 1;
    }
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int compareVersions(std::string_view a, std::string_view b) {
    const Parsed pa = parse(a);
    const Parsed pb = parse(b);
    const std::size_t n = std::max(pa.numbers.size(), pb.numbers.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& x = i < pa.numbers.size() ? pa.numbers[i] : std::string("0");
        const std::string& y = i < pb.numbers.size() ? pb.numbers[i] : std::string("0");
        if (const int c = compareNumbers(x, y); c != 0) {
            return c;
        }
    }
    // A release outranks its pre-releases.
    if (pa.pre.empty() != pb.pre.empty()) {
        return pa.pre.empty() ? 1 : -1;
    }
    const std::size_t m = std::min(pa.pre.size(), pb.pre.size());
    for (std::size_t i = 0; i < m; ++i) {
        if (const int c = comparePiece(pa.pre[i], pb.pre[i]); c != 0) {
            return c;
        }
    }
    if (pa.pre.size() != pb.pre.size()) {
        return pa.pre.size() < pb.pre.size() ? -1 : 1;
    }
    return 0;
}

}  // namespace tesvano::platform
