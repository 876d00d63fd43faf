#include "PermissionFlow/AppDragData.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace PermissionFlow {

std::string fileURL(const std::filesystem::path& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path.string()) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

namespace {

std::string utf16le(const std::string& utf8) {
    std::string out;
    std::size_t i = 0;
    auto put = [&out](unsigned unit) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>((unit >> 8) & 0xFF);
    };
    while (i < utf8.size()) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned code = 0xFFFD;
        int extra = 0;
        if (c < 0x80) {
            code = c;
        } else if ((c >> 5) == 6) {
            code = c & 0x1F;
            extra = 1;
        } else if ((c >> 4) == 14) {
            code = c & 0x0F;
            extra = 2;
        } else if ((c >> 3) == 30) {
            code = c & 0x07;
            extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            put(0xD800 + (code >> 10));
            put(0xDC00 + (code & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

}  // namespace

std::vector<DragItem> dragItems(const std::filesystem::path& desktopEntry,
                                const std::string& title) {
    const auto url = fileURL(desktopEntry);
    return {
        {"text/uri-list", url + "\r\n"},
        {"application/x-kde4-urilist", url + "\r\n"},
        {"x-special/gnome-copied-files", "copy\n" + url},
        {"text/x-moz-url", utf16le(url + "\n" + title)},
        {"text/plain;charset=utf-8", desktopEntry.string()},
    };
}

std::optional<std::string> dragData(const std::filesystem::path& desktopEntry,
                                    const std::string& title, const std::string& mimeType) {
    for (auto& item : dragItems(desktopEntry, title)) {
        if (item.mimeType == mimeType) {
            return std::move(item.data);
        }
    }
    return std::nullopt;
}

bool dragThresholdPassed(double pressX, double pressY, double x, double y) {
    return std::hypot(x - pressX, y - pressY) > 4.0;
}

bool isApplicationEntry(const std::filesystem::path& path) {
    auto extension = path.extension().string();
    std::ranges::transform(extension, extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".desktop";
}

std::vector<std::filesystem::path> applicationEntries(
    const std::vector<std::filesystem::path>& suggested) {
    std::vector<std::filesystem::path> out;
    for (const auto& path : suggested) {
        auto standard = path.lexically_normal();
        if (!isApplicationEntry(standard) || std::ranges::find(out, standard) != out.end()) {
            continue;
        }
        out.push_back(std::move(standard));
    }
    return out;
}

}  // namespace PermissionFlow
