#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "Platform/TextInput/Xkb/XkbNameTranslations.h"
#include "tests/support/TempDir.h"

namespace tesvano::platform {
namespace {

namespace fs = std::filesystem;

// A compiled catalogue of these messages, in the byte order asked for.
std::string catalogue(const std::vector<std::pair<std::string, std::string>>& messages,
                      bool bigEndian = false) {
    const auto word = [bigEndian](std::string& out, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            const int shift = bigEndian ? (3 - i) * 8 : i * 8;
            out.push_back(static_cast<char>((v >> shift) & 0xffU));
        }
    };
    const auto count = static_cast<std::uint32_t>(messages.size());
    const std::uint32_t originals = 28;
    const std::uint32_t translations = originals + 8 * count;
    std::uint32_t offset = translations + 8 * count;
    std::string head;
    std::string strings;
    word(head, 0x950412de);
    for (std::uint32_t v : {0U, count, originals, translations, 0U, 0U}) {
        word(head, v);
    }
    std::string originalTable;
    std::string translationTable;
    for (int side = 0; side < 2; ++side) {
        for (const auto& [key, value] : messages) {
            const std::string& text = side == 0 ? key : value;
            word(side == 0 ? originalTable : translationTable, std::uint32_t(text.size()));
            word(side == 0 ? originalTable : translationTable, offset);
            strings += text;
            strings.push_back('\0');
            offset += std::uint32_t(text.size()) + 1;
        }
    }
    return head + originalTable + translationTable + strings;
}

TEST(XkbNameTranslations, ReadsTheCatalogueOfTheFirstLocaleThatHasOne) {
    test::TempDir root;
    const auto place = [&](const std::string& locale, const std::string& bytes) {
        fs::create_directories(root / locale / "LC_MESSAGES");
        test::writeFile(root / locale / "LC_MESSAGES" / "xkeyboard-config.mo", bytes);
    };
    place("de", catalogue({{"", "Content-Type: text/plain; charset=UTF-8\n"},
                           {"Russian", "Russisch"},
                           {"English (US)", "Englisch (USA)"},
                           {"Untranslated", ""},
                           {std::string("Layout\0Layouts", 14), std::string("Belegung\0B", 10)},
                           {"menu\x04Russian", "Kontext"}}));
    place("pt_BR", catalogue({{"Russian", "Russo"}}, true));
    place("ja", "not a catalogue at all, only text");

    const XkbNameTranslations german(root.path(), {"de"});
    const std::pair<const char*, const char*> cases[] = {
        {"Russian", "Russisch"},
        {"English (US)", "Englisch (USA)"},
        {"Untranslated", "Untranslated"},
        {"Layout", "Belegung"},
        {"Mozc", "Mozc"},
        {"", ""},
    };
    for (const auto& [name, shown] : cases) {
        EXPECT_EQ(german.translate(name), shown) << name;
    }
    EXPECT_EQ(XkbNameTranslations(root.path(), {"pt", "pt_BR"}).translate("Russian"), "Russo")
        << "the next locale, in the other byte order";
    EXPECT_TRUE(XkbNameTranslations(root.path(), {"ja"}).empty()) << "garbage is no catalogue";
    EXPECT_TRUE(XkbNameTranslations(root.path(), {"xx"}).empty());
    EXPECT_EQ(XkbNameTranslations().translate("Russian"), "Russian");

    // Cut anywhere, a catalogue is refused or read in part, never read out of bounds.
    const std::string whole = catalogue({{"Russian", "Russisch"}, {"German", "Deutsch"}});
    for (std::size_t cut = 0; cut + 1 < whole.size(); ++cut) {
        test::writeFile(root / "cut.mo", whole.substr(0, cut));
        EXPECT_FALSE(readMessageCatalogue(root / "cut.mo").has_value()) << cut;
    }
}

TEST(XkbNameTranslations, TheSystemsCataloguesNameLayoutsInTheirLanguage) {
    const auto root = XkbNameTranslations::standardLocaleRoot();
    if (!fs::exists(root / "ru" / "LC_MESSAGES" / "xkeyboard-config.mo")) {
        GTEST_SKIP() << "the XKB data's translations are not installed";
    }
    EXPECT_EQ(XkbNameTranslations(root, {"ru"}).translate("Russian"), "Русская");
    EXPECT_EQ(XkbNameTranslations(root, {"de"}).translate("German"), "Deutsch");
}

}  // namespace
}  // namespace tesvano::platform
