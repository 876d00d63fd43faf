#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>

#include "Platform/Defaults/Defaults.h"
#include "TesvanoKit/Languages/Localization.h"
#include "TesvanoKit/Languages/SupportedLanguage.h"

namespace tesvano {
namespace {

using L = SupportedLanguage;

TEST(Languages, MatchMapsSystemIdentifiersOntoTheSet) {
    const std::pair<const char*, std::optional<L>> cases[] = {
        {"zh-HK", L::traditionalChinese},
        {"zh-TW", L::traditionalChinese},
        {"ZH-TW", L::traditionalChinese},
        {"zh-mo", L::traditionalChinese},
        {"zh-Hant", L::traditionalChinese},
        {"zh-Hant-TW", L::traditionalChinese},
        {"zh-Hans-HK", L::simplifiedChinese},
        {"zh", L::simplifiedChinese},
        {"zh-SG", L::simplifiedChinese},
        {"zh-CN", L::simplifiedChinese},
        {"zh-hans", L::simplifiedChinese},
        {"pt-BR", L::portuguese},
        {"en-GB", L::english},
        {"de", L::german},
        {"ko-KR", std::nullopt},
        {"-RU-", L::russian},
        {"-", std::nullopt},
        {"--", std::nullopt},
        {"", std::nullopt},
        {"zh_TW", std::nullopt},
    };
    for (const auto& [identifier, expected] : cases) {
        EXPECT_EQ(Languages::match(identifier), expected) << identifier;
    }
    EXPECT_FALSE(enumFromRawValue<L>("zh-hans")) << "raw values are case-sensitive";
}

TEST(Languages, FirstSupportedAndLocalizationFolders) {
    EXPECT_EQ(Languages::firstSupported(std::vector<std::string>{}), L::english);
    EXPECT_EQ(Languages::firstSupported(std::vector<std::string>{"ko", "ar"}), L::english);
    EXPECT_EQ(Languages::firstSupported(std::vector<std::string>{"ko", "fr-CA", "de"}), L::french);

    using V = std::vector<std::string>;
    EXPECT_EQ(Languages::localization(L::traditionalChinese, V{"en", "zh_TW", "zh-Hant"}),
              "zh-Hant");
    EXPECT_EQ(Languages::localization(L::traditionalChinese, V{"en", "ZH-HANT"}), "ZH-HANT");
    EXPECT_EQ(Languages::localization(L::portuguese, V{"en", "pt-BR"}), "pt-BR");
    EXPECT_EQ(Languages::localization(L::russian, V{"en", "de"}), std::nullopt);
}

TEST(Languages, SystemLanguagesComeFromTheLocaleEnvironment) {
    ::setenv("LANGUAGE", "pt_BR:de", 1);
    ::setenv("LC_ALL", "", 1);
    ::setenv("LC_MESSAGES", "", 1);
    ::setenv("LANG", "ru_RU.UTF-8", 1);
    EXPECT_EQ(Languages::systemPreferredLanguages(),
              (std::vector<std::string>{"pt-BR", "de", "ru-RU"}));
    EXPECT_EQ(LanguagePreference::system().effectiveLanguage(), L::portuguese);
    ::setenv("LANG", "C", 1);
    EXPECT_TRUE(Languages::systemPreferredLanguages().empty())
        << "LANGUAGE counts only with a real locale";
    EXPECT_EQ(LanguagePreference::system().effectiveLanguage(), L::english);
    ::unsetenv("LANGUAGE");
    ::unsetenv("LANG");
}

// Locale names as a Linux session sets them, turned into the interface language that
// "Follow System" shows.
TEST(Languages, FollowingTheSystemMapsLocaleNamesOntoTheSet) {
    const struct {
        const char* language;  // LANGUAGE, a priority list
        const char* lang;      // LANG
        L expected;
    } cases[] = {
        {"", "zh_HK.UTF-8", L::traditionalChinese},
        {"", "zh_TW.Big5", L::traditionalChinese},
        {"", "zh_CN.UTF-8", L::simplifiedChinese},
        {"", "pt_BR", L::portuguese},
        {"", "sr_RS@latin", L::english},
        {"", "sr", L::english},
        {"sr:ru", "sr_RS.UTF-8", L::russian},
        {"", "C", L::english},
        {"", "C.UTF-8", L::english},
        {"ja", "C", L::english},
        {"", "POSIX", L::english},
        {"", "", L::english},
        {"es_MX:fr", "de_DE.UTF-8@euro", L::spanish},
    };
    for (const auto& c : cases) {
        ::setenv("LANGUAGE", c.language, 1);
        ::setenv("LC_ALL", "", 1);
        ::setenv("LC_MESSAGES", "", 1);
        ::setenv("LANG", c.lang, 1);
        EXPECT_EQ(LanguagePreference::system().effectiveLanguage(), c.expected)
            << "LANGUAGE=" << c.language << " LANG=" << c.lang;
    }
    ::unsetenv("LANGUAGE");
    ::unsetenv("LANG");
}

TEST(LanguagePreference, LoadsAndSavesTheStoredCode) {
    platform::MemoryDefaults d;
    EXPECT_EQ(LanguagePreference::load(d), LanguagePreference::system());
    for (const char* stored : {"system", "xx", "EN", "zh-hans"}) {
        d.set("appLanguage", stored);
        EXPECT_EQ(LanguagePreference::load(d), LanguagePreference::system()) << stored;
    }
    d.set("appLanguage", 3);
    EXPECT_EQ(LanguagePreference::load(d), LanguagePreference::system());

    LanguagePreference::specific(L::german).save(d);
    EXPECT_EQ(d.string("appLanguage"), "de");
    EXPECT_EQ(LanguagePreference::load(d), LanguagePreference::specific(L::german));
    LanguagePreference::system().save(d);
    EXPECT_EQ(d.string("appLanguage"), "system");
    EXPECT_NE(LanguagePreference::system(), LanguagePreference::specific(L::english));
}

TEST(Localization, MissingKeysShowAsThemselvesAndTheOverrideIsShared) {
    EXPECT_EQ(Localization::text("No such text", L::japanese), "No such text");
    EXPECT_EQ(Localization::text("record_shortcut", L::japanese), "ショートカットを記録");
    EXPECT_EQ(Localization::text("record_shortcut", L::english), "Record Shortcut")
        << "English texts that differ from their keys come from en.po";
    EXPECT_EQ(Localization::text("Tesvano", L::english), "Tesvano");
    LanguageOverride::apply(L::russian);
    std::thread reader([] { EXPECT_EQ(LanguageOverride::currentLanguage(), L::russian); });
    reader.join();
    LanguageOverride::apply(L::english);
    EXPECT_EQ(LanguageOverride::currentLanguage(), L::english);
}

TEST(Localization, ANameAfterAColonStartsInLowerCaseInRussianOnly) {
    const struct {
        const char* key;
        const char* name;
        L language;
        const char* shown;
    } cases[] = {
        {"Lock to %@", "Русская", L::russian, "Закрепить: русская"},
        {"Switch to %@", "Английская (США)", L::russian, "Переключить: английская (США)"},
        {"Lock to %@", "Ёлочная", L::russian, "Закрепить: ёлочная"},
        {"Lock to %@", "Японская", L::russian, "Закрепить: японская"},
        // Abbreviations, other scripts and other languages keep the name as it is.
        {"Lock to %@", "США", L::russian, "Закрепить: США"},
        {"Lock to %@", "Mozc", L::russian, "Закрепить: Mozc"},
        {"Lock to %@", "Р", L::russian, "Закрепить: Р"},
        {"Lock to %@", "", L::russian, "Закрепить: "},
        {"Lock to %@", "Русская", L::english, "Lock to Русская"},
        {"Lock to %@", "Russe", L::french, "Verrouiller sur Russe"},
        // Only where the name follows a colon.
        {"Saved as %@.", "Резерв.tesvano", L::russian, "Сохранено как Резерв.tesvano."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Localization::withName(c.key, c.name, c.language), c.shown) << c.name;
    }
}

}  // namespace
}  // namespace tesvano
