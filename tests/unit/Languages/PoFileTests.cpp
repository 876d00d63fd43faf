#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Languages/PoFile.h"
#include "TesvanoKit/Languages/SupportedLanguage.h"

namespace tesvano {
namespace {

po::File load(SupportedLanguage language) {
    std::ifstream in(std::filesystem::path(TESVANO_PO_DIR) /
                     (std::string(rawValue(language)) + ".po"));
    std::stringstream text;
    text << in.rdbuf();
    return po::parse(text.str());
}

TEST(PoFile, ParsesEntriesContinuationsAndEscapes) {
    const auto file = po::parse(
        "# comment\nmsgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
        "msgid \"One\"\nmsgstr \"Eins\"\n\n"
        "msgid \"\"\n\"Two \\\"quoted\\\" \"\n\"lines\"\nmsgstr \"\"\n\n"
        "#, fuzzy\nmsgid \"Three\"\nmsgstr \"Drei?\"\n\n"
        "#~ msgid \"Gone\"\n#~ msgstr \"Weg\"\n");
    EXPECT_TRUE(file.errors.empty());
    ASSERT_EQ(file.messages.size(), 3u);
    EXPECT_EQ(file.messages[0].key, "One");
    EXPECT_EQ(file.messages[0].translation, "Eins");
    EXPECT_EQ(file.messages[1].key, "Two \"quoted\" lines");
    EXPECT_EQ(file.messages[1].translation, "");
    EXPECT_EQ(file.messages[2].translation, "") << "a fuzzy translation is not used";

    for (const char* bad : {"msgid \"open\nmsgstr \"\"\n", "msgstr \"x\"\n", "msgid x\n",
                            "msgid \"a\"\nmsgstr \"b\\q\"\n"}) {
        EXPECT_FALSE(po::parse(bad).errors.empty()) << bad;
    }
}

TEST(PoFile, PlaceholdersCoverFormatsMarkdownAndAddresses) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"Version %@ (%@)", {"%@", "%@"}},
        {"Conflicts (%d)", {"%d"}},
        {"used by the \u201c%1\u201d menu item", {"%1"}},
        {"Allow **%@** to use it", {"%@", "**", "**"}},
        {"See [the guide](https://example.org/a).", {"](https://example.org/a)"}},
        {"control it with `tesvano://` URL commands", {"tesvano://"}},
        {"open tesvano://status.", {"tesvano://status"}},
        {"100% sure", {}},
    };
    for (const auto& [text, expected] : cases) {
        auto sorted = expected;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(po::placeholders(text), sorted) << text;
    }
}

// Every language file is valid, has the keys of the English file, and keeps each key's
// placeholders and Markdown in its translation (or in the English text the key stands for).
TEST(PoFile, EveryTranslationKeepsTheKeysPlaceholders) {
    const auto english = load(SupportedLanguage::english);
    ASSERT_TRUE(english.errors.empty());
    ASSERT_GT(english.messages.size(), 100u);
    std::map<std::string, std::string> source;
    for (const auto& m : english.messages)
        source[m.key] = m.translation.empty() ? m.key : m.translation;

    for (auto language : allCases<SupportedLanguage>()) {
        const auto file = load(language);
        const std::string code(rawValue(language));
        EXPECT_TRUE(file.errors.empty()) << code;
        std::set<std::string> keys;
        for (const auto& m : file.messages) {
            keys.insert(m.key);
            EXPECT_TRUE(source.contains(m.key)) << code << ": unknown key " << m.key;
            if (m.translation.empty() || !source.contains(m.key))
                continue;
            EXPECT_EQ(po::placeholders(m.translation), po::placeholders(source[m.key]))
                << code << ".po line " << m.line << ": " << m.translation;
        }
        EXPECT_EQ(keys.size(), source.size()) << code << ".po lacks keys";
    }
}

// The compiled tables are the files: a translated key shows its translation, an untranslated
// one falls back to English.
TEST(PoFile, CompiledTablesFollowTheFiles) {
    for (auto language : allCases<SupportedLanguage>()) {
        for (const auto& m : load(language).messages) {
            if (m.translation.empty())
                continue;
            EXPECT_EQ(Localization::text(m.key, language), m.translation)
                << rawValue(language) << ": " << m.key;
        }
    }
    EXPECT_EQ(Localization::text("record_shortcut", SupportedLanguage::english), "Record Shortcut");
}

}  // namespace
}  // namespace tesvano
