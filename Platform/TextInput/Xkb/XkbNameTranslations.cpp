#include "Platform/TextInput/Xkb/XkbNameTranslations.h"

#include <cstdint>
#include <fstream>
#include <iterator>

namespace tesvano::platform {

namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::uint32_t kSwappedMagic = 0xde120495;
// A layout catalogue is a few hundred kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaximumSize = 16U << 20U;

std::uint32_t swapped(std::uint32_t v) {
    return ((v & 0xffU) << 24U) | ((v & 0xff00U) << 8U) | ((v >> 8U) & 0xff00U) | (v >> 24U);
}

}  // namespace

std::optional<std::map<std::string, std::string, std::less<>>> readMessageCatalogue(
    const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size < 28 || size > kMaximumSize) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != size) {
        return std::nullopt;
    }
    const auto word = [&](std::size_t at, bool swap) -> std::optional<std::uint32_t> {
        if (at > bytes.size() || bytes.size() - at < 4) {
            return std::nullopt;
        }
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) {
            v = (v << 8U) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        }
        return swap ? swapped(v) : v;
    };
    const auto magic = word(0, false);
    if (!magic || (*magic != kMagic && *magic != kSwappedMagic)) {
        return std::nullopt;
    }
    const bool swap = *magic == kSwappedMagic;
    const auto count = word(8, swap);
    const auto originals = word(12, swap);
    const auto translations = word(16, swap);
    if (!count || !originals || !translations) {
        return std::nullopt;
    }
    // A string: its length and offset in the table at `table`, index `i`.
    const auto string = [&](std::uint32_t table,
                            std::uint32_t i) -> std::optional<std::string_view> {
        const std::size_t entry = std::size_t(table) + std::size_t(i) * 8;
        const auto length = word(entry, swap);
        const auto offset = word(entry + 4, swap);
        if (!length || !offset || *offset > bytes.size() || bytes.size() - *offset < *length) {
            return std::nullopt;
        }
        return std::string_view(bytes).substr(*offset, *length);
    };
    std::map<std::string, std::string, std::less<>> messages;
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto key = string(*originals, i);
        auto value = string(*translations, i);
        if (!key || !value) {
            return std::nullopt;
        }
        // Plural forms follow a NUL; a context precedes an EOT. Neither names a layout.
        if (key->empty() || key->find('\x04') != std::string_view::npos) {
            continue;
        }
        const auto text = key->substr(0, key->find('\0'));
        const auto translation = value->substr(0, value->find('\0'));
        if (!translation.empty()) {
            messages.emplace(std::string(text), std::string(translation));
        }
    }
    return messages;
}

XkbNameTranslations::XkbNameTranslations(const std::filesystem::path& localeRoot,
                                         const std::vector<std::string>& locales) {
    for (const auto& locale : locales) {
        if (auto messages =
                readMessageCatalogue(localeRoot / locale / "LC_MESSAGES" / "xkeyboard-config.mo")) {
            messages_ = std::move(*messages);
            return;
        }
    }
}

std::string XkbNameTranslations::translate(std::string_view description) const {
    if (auto it = messages_.find(description); it != messages_.end()) {
        return it->second;
    }
    return std::string(description);
}

std::filesystem::path XkbNameTranslations::standardLocaleRoot() {
    return "/usr/share/locale";
}

}  // namespace tesvano::platform
