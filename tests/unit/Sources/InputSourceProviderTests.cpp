#include <gtest/gtest.h>
#include <stdlib.h>

#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "TesvanoKit/Sources/InputSourceClassifier.h"
#include "TesvanoKit/Sources/TextInputSourceProvider.h"
#include "tests/support/LogCapture.h"

namespace tesvano {
namespace {

using platform::FakeTextInputSources;
using platform::SelectStatus;
using platform::TextInputSource;
using Failure = KeyFocusInputSourceSelector::Failure;

TEST(InputSourceClassifier, PrimarySubtagDecides) {
    using InputSourceClassifier::isCJKV;
    // BCP 47 tags and the POSIX locale names that IBus and Fcitx report.
    for (const char* tag : {"zh-Hans", "ja", "yue-Hant", "VI", "ko", "zh", "zh_CN", "zh_TW",
                            "zh_HK", "zh_CN.UTF-8", "ja_JP.eucJP", "ko_KR@euro", "vi_VN"}) {
        EXPECT_TRUE(isCJKV({tag})) << tag;
    }
    for (const char* tag : {"en", "zhx", "en-JA", "", "sr@latin", "en_US.UTF-8", "_zh", "C"}) {
        EXPECT_FALSE(isCJKV({tag})) << tag;
    }
    EXPECT_FALSE(isCJKV({}));
    EXPECT_TRUE(isCJKV({"en", "ko"}));
}

TEST(KeyFocusInputSourceSelector, DescriptionsAndTheLinuxAnswer) {
    EXPECT_EQ(Failure::transport(-1).description(), "transport(-1)");
    EXPECT_EQ(Failure::rejected(-25).description(), "rejected(-25)");
    EXPECT_EQ(Failure::of(Failure::Kind::noFocus).description(), "noFocus");
    EXPECT_EQ(Failure::of(Failure::Kind::invalidReply).description(), "invalidReply");
    EXPECT_NE(Failure::rejected(1), Failure::rejected(2));

    // A system without a request for the focused input context, like the X server's groups.
    FakeTextInputSources layouts;
    const auto answer = KeyFocusInputSourceSelector::select(
        layouts, FakeTextInputSources::keyboard("pinyin", "Pinyin", {"zh-Hans"}));
    ASSERT_FALSE(answer.has_value());
    EXPECT_EQ(answer.error(), Failure::of(Failure::Kind::unavailable));
}

// Debug-level records are written only when asked for.
class DebugLogging {
public:
    DebugLogging() {
        if (const char* v = std::getenv("TESVANO_DEBUG")) {
            previous_ = v;
        }
        ::setenv("TESVANO_DEBUG", "1", 1);
    }
    ~DebugLogging() {
        if (previous_) {
            ::setenv("TESVANO_DEBUG", previous_->c_str(), 1);
        } else {
            ::unsetenv("TESVANO_DEBUG");
        }
    }

private:
    std::optional<std::string> previous_;
};

class TextInputSourceProviderTest : public ::testing::Test {
protected:
    TextInputSourceProviderTest() {
        system.installed = {FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
                            FakeTextInputSources::keyboard("pinyin", "Pinyin", {"zh-Hans"}),
                            FakeTextInputSources::keyboard("xkb:de", "German", {"de"})};
        system.currentID = "xkb:us";
    }

    std::vector<std::string> ids(const std::vector<InputSource>& sources) {
        std::vector<std::string> out;
        for (const auto& s : sources) {
            out.push_back(s.id.rawValue);
        }
        return out;
    }

    DebugLogging debugLogging;
    test::LogCapture log;
    FakeTextInputSources system;
    int keyFocusCalls = 0;
    KeyFocusInputSourceSelector::Result keyFocusAnswer;  // success
    TextInputSourceProvider provider{system, [this](const TextInputSource&) {
                                         ++keyFocusCalls;
                                         return keyFocusAnswer;
                                     }};
};

TEST_F(TextInputSourceProviderTest, ListsSelectableKeyboardSourcesInSystemOrder) {
    TextInputSource palette = FakeTextInputSources::keyboard("palette", "Emoji");
    palette.category = "palette";
    TextInputSource uncategorised = FakeTextInputSources::keyboard("bare", "Bare");
    uncategorised.category.reset();
    TextInputSource anonymous = FakeTextInputSources::keyboard("x", "No ID");
    anonymous.id.reset();
    TextInputSource disabled = FakeTextInputSources::keyboard("xkb:ru", "Russian");
    disabled.isEnabled = false;
    TextInputSource unselectable = FakeTextInputSources::keyboard("xkb:fr", "French");
    unselectable.isSelectCapable.reset();
    TextInputSource unnamed = FakeTextInputSources::keyboard("xkb:jp", "");
    unnamed.localizedName.reset();
    unnamed.languages.reset();
    system.installed.insert(system.installed.begin() + 1,
                            {palette, uncategorised, anonymous, disabled, unselectable});
    system.installed.push_back(FakeTextInputSources::keyboard("xkb:us", "English again"));
    system.installed.push_back(unnamed);

    const auto sources = provider.selectableSources();
    EXPECT_EQ(ids(sources),
              (std::vector<std::string>{"xkb:us", "pinyin", "xkb:de", "xkb:us", "xkb:jp"}));
    EXPECT_TRUE(sources[1].isCJKV);
    EXPECT_FALSE(sources[0].isCJKV);
    EXPECT_EQ(sources[4].localizedName, "xkb:jp") << "listed under its ID";
    EXPECT_FALSE(sources[4].isCJKV) << "no languages";

    EXPECT_EQ(provider.source("xkb:de")->localizedName, "German");
    const auto off = provider.source("xkb:ru");
    ASSERT_TRUE(off.has_value());
    EXPECT_FALSE(off->isEnabled);
    EXPECT_FALSE(provider.source("xkb:fr")->isSelectCapable) << "missing flag reads false";
    EXPECT_FALSE(provider.source("xkb:it").has_value());
}

TEST_F(TextInputSourceProviderTest, RefusesUnknownDisabledAndUnselectableSourcesWithoutTrying) {
    TextInputSource disabled = FakeTextInputSources::keyboard("anthy", "Anthy", {"ja"});
    disabled.isEnabled = false;
    TextInputSource unselectable = FakeTextInputSources::keyboard("hangul", "Hangul", {"ko"});
    unselectable.isSelectCapable = false;
    system.installed.push_back(disabled);
    system.installed.push_back(unselectable);

    EXPECT_FALSE(provider.select("anthy"));
    EXPECT_FALSE(provider.select("hangul"));
    EXPECT_FALSE(provider.select("xkb:it"));
    EXPECT_TRUE(system.selectCalls.empty());
    EXPECT_EQ(keyFocusCalls, 0);
    EXPECT_TRUE(log.sink().records.empty());
}

TEST_F(TextInputSourceProviderTest, OtherSourcesUseTheStandardCallAndReportItsFailure) {
    EXPECT_TRUE(provider.select("xkb:de"));
    EXPECT_EQ(system.selectCalls, (std::vector<std::string>{"xkb:de"}));
    EXPECT_EQ(provider.currentSourceID(), InputSourceID("xkb:de"));

    system.selectFailure = SelectStatus::failed;
    EXPECT_FALSE(provider.select("xkb:us"));
    EXPECT_EQ(keyFocusCalls, 0);
    EXPECT_EQ(system.keyWindowNudges, 0);
}

TEST_F(TextInputSourceProviderTest, UnconfirmedKeyFocusSelectionAlternatesWithTheStandardCall) {
    // Neither route ever makes the source current.
    system.selectionTakesEffect = false;

    EXPECT_TRUE(provider.select("pinyin"));
    EXPECT_EQ(keyFocusCalls, 1);
    EXPECT_TRUE(system.selectCalls.empty());
    EXPECT_EQ(provider.directSelection().pending, InputSourceID("pinyin"));
    EXPECT_EQ(provider.currentSourceID(), InputSourceID("xkb:us"));

    EXPECT_TRUE(provider.select("pinyin"));
    EXPECT_EQ(keyFocusCalls, 1);
    EXPECT_EQ(system.selectCalls, (std::vector<std::string>{"pinyin"}));
    EXPECT_TRUE(log.contains(
        "Key-focus selection of pinyin was never confirmed; selecting the source directly"));
    EXPECT_EQ(log.sink().records.back().level, platform::LogLevel::debug);
    EXPECT_FALSE(provider.directSelection().pending.has_value());
    EXPECT_EQ(system.keyWindowNudges, 1) << "still not current after the standard call";

    EXPECT_TRUE(provider.select("pinyin"));
    EXPECT_EQ(keyFocusCalls, 2) << "the next request goes by key focus again";
    EXPECT_EQ(system.selectCalls.size(), 1u);
}

TEST_F(TextInputSourceProviderTest, SeeingTheSourceCurrentConfirmsTheKeyFocusSelection) {
    EXPECT_TRUE(provider.select("pinyin"));
    system.currentID = "pinyin";  // the focused application switched
    EXPECT_EQ(provider.currentSourceID(), InputSourceID("pinyin"));
    EXPECT_FALSE(provider.directSelection().pending.has_value());

    system.currentID = "xkb:us";
    EXPECT_TRUE(provider.select("pinyin"));
    EXPECT_EQ(keyFocusCalls, 2);
    EXPECT_TRUE(system.selectCalls.empty());
    EXPECT_FALSE(log.contains("never confirmed"));

    // Another CJKV source taking the key-focus route replaces the pending one.
    system.installed.push_back(FakeTextInputSources::keyboard("mozc", "Mozc", {"ja"}));
    EXPECT_TRUE(provider.select("mozc"));
    EXPECT_EQ(provider.directSelection().pending, InputSourceID("mozc"));
    EXPECT_TRUE(provider.select("pinyin"));
    EXPECT_EQ(keyFocusCalls, 4);
}

TEST_F(TextInputSourceProviderTest, KeyFocusFailureFallsBackToTheStandardCall) {
    keyFocusAnswer = std::unexpected(Failure::rejected(-25));
    EXPECT_TRUE(provider.select("pinyin"));
    EXPECT_TRUE(
        log.contains("Key-focus selection failed (rejected(-25)); selecting the source directly"));
    EXPECT_EQ(system.selectCalls, (std::vector<std::string>{"pinyin"}));
    EXPECT_EQ(system.keyWindowNudges, 0) << "the source is current: no nudge";
    EXPECT_FALSE(provider.directSelection().pending.has_value());

    system.selectFailure = SelectStatus::failed;
    EXPECT_FALSE(provider.select("pinyin"));

    // The real selector of this platform never has a route, and says so.
    test::LogCapture ownLog;
    system.selectFailure.reset();
    system.currentID = "xkb:us";
    TextInputSourceProvider real(system);
    EXPECT_TRUE(real.select("pinyin"));
    EXPECT_TRUE(ownLog.contains("Key-focus selection failed (unavailable)"));
    EXPECT_EQ(real.currentSourceID(), InputSourceID("pinyin"));
}

TEST_F(TextInputSourceProviderTest, NoCurrentSourceReadsAsNone) {
    system.currentID.reset();
    EXPECT_FALSE(provider.currentSourceID().has_value());
    // A current source outside the list is still reported.
    system.currentID = "com.example.palette";
    EXPECT_EQ(provider.currentSourceID(), InputSourceID("com.example.palette"));
}

}  // namespace
}  // namespace tesvano
