#include <gtest/gtest.h>

#include "Platform/TextInput/Xkb/XkbLayoutRegistry.h"

namespace tesvano::platform {
namespace {

TEST(XkbLayoutRegistry, ISO639CodesBecomeBCP47Tags) {
    EXPECT_EQ(languageTagForISO639("eng"), "en");
    EXPECT_EQ(languageTagForISO639("jpn"), "ja");
    EXPECT_EQ(languageTagForISO639("zho"), "zh");
    EXPECT_EQ(languageTagForISO639("chi"), "zh") << "bibliographic form";
    EXPECT_EQ(languageTagForISO639("ger"), "de");
    EXPECT_EQ(languageTagForISO639("deu"), "de");
    EXPECT_EQ(languageTagForISO639("KOR"), "ko");
    EXPECT_EQ(languageTagForISO639("vie"), "vi");
    EXPECT_EQ(languageTagForISO639("yue"), "yue") << "no two-letter code";
    EXPECT_EQ(languageTagForISO639("ast"), "ast");
    EXPECT_EQ(languageTagForISO639("aaa"), "aaa");
    EXPECT_EQ(languageTagForISO639("zza"), "zza");
}

TEST(XkbLayoutRegistry, NamesAndLanguagesOfLayoutsAndVariants) {
    const XkbLayoutRegistry registry("evdev");
    ASSERT_FALSE(registry.empty()) << "the XKB layout registry is not installed";
    const auto* us = registry.find("us", "");
    ASSERT_NE(us, nullptr);
    EXPECT_EQ(us->description, "English (US)");
    EXPECT_EQ(us->languages, (std::vector<std::string>{"en"}));
    ASSERT_NE(registry.find("jp", ""), nullptr);
    EXPECT_EQ(registry.find("jp", "")->languages, (std::vector<std::string>{"ja"}));
    const auto* nodead = registry.find("de", "nodeadkeys");
    ASSERT_NE(nodead, nullptr);
    EXPECT_EQ(nodead->description, "German (no dead keys)");
    EXPECT_EQ(nodead->languages, (std::vector<std::string>{"de"})) << "the layout's languages";
    EXPECT_EQ(registry.find("nosuch", ""), nullptr);
    EXPECT_EQ(registry.find("us", "nosuch"), nullptr);

    const XkbLayoutRegistry fallback("no-such-rules");
    EXPECT_NE(fallback.find("us", ""), nullptr) << "unknown rules read the default registry";
}

}  // namespace
}  // namespace tesvano::platform
