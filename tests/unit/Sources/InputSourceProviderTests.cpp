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
using Failure = InputContextSourceSelector::Failure;

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

TEST(InputContextSourceSelector, DescriptionsAndTheAnswerOfTheLayoutGroups) {
    EXPECT_EQ(Failure::transport(-1).description(), "transport(-1)");
    EXPECT_EQ(Failure::rejected(-25).description(), "rejected(-25)");
    EXPECT_EQ(Failure::of(Failure::Kind::noFocus).description(), "noFocus");
    EXPECT_EQ(Failure::of(Failure::Kind::invalidReply).description(), "invalidReply");
    EXPECT_NE(Failure::rejected(1), Failure::rejected(2));

    // A system without a request for the focused input context, like the X server's groups.
    FakeTextInputSources layouts;
    const auto answer = InputContextSourceSelector::select(
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
    // Resolves the source and selects it, as the lock does.
    bool select(const char* id) {
        const auto source = provider.source(InputSourceID(id));
        return source && provider.select(*source);
    }

    DebugLogging debugLogging;
    test::LogCapture log;
    FakeTextInputSources system;
    int contextCalls = 0;
    InputContextSourceSelector::Result contextAnswer;  // success
    TextInputSourceProvider provider{system, [this](const TextInputSource&) {
                                         ++contextCalls;
                                         return contextAnswer;
                                     }};
};

TEST_F(TextInputSourceProviderTest, ListsTheSourcesInSystemOrder) {
    TextInputSource anonymous = FakeTextInputSources::keyboard("x", "No ID");
    anonymous.id.reset();
    TextInputSource unnamed = FakeTextInputSources::keyboard("xkb:jp", "");
    unnamed.localizedName.reset();
    unnamed.languages.reset();
    system.installed.insert(system.installed.begin() + 1, anonymous);
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
    EXPECT_FALSE(provider.source("xkb:it").has_value());
}

TEST_F(TextInputSourceProviderTest, OtherSourcesUseThePlainSelectionAndReportItsFailure) {
    const auto us = provider.source("xkb:us");
    EXPECT_TRUE(select("xkb:de"));
    EXPECT_EQ(system.selectCalls, (std::vector<std::string>{"xkb:de"}));
    EXPECT_EQ(provider.currentSourceID(), InputSourceID("xkb:de"));

    // A source handed out before that the system no longer lists.
    system.installed.erase(system.installed.begin());
    EXPECT_FALSE(provider.select(*us));
    system.selectFailure = SelectStatus::failed;
    EXPECT_FALSE(select("xkb:de"));
    EXPECT_EQ(contextCalls, 0);
}

TEST_F(TextInputSourceProviderTest, UnconfirmedInputContextSelectionAlternatesWithThePlainOne) {
    // Neither route ever makes the source current.
    system.selectionTakesEffect = false;

    EXPECT_TRUE(select("pinyin"));
    EXPECT_EQ(contextCalls, 1);
    EXPECT_TRUE(system.selectCalls.empty());
    EXPECT_EQ(provider.inputContextSelection().pending, InputSourceID("pinyin"));
    EXPECT_EQ(provider.currentSourceID(), InputSourceID("xkb:us"));

    EXPECT_TRUE(select("pinyin"));
    EXPECT_EQ(contextCalls, 1);
    EXPECT_EQ(system.selectCalls, (std::vector<std::string>{"pinyin"}));
    EXPECT_TRUE(log.contains(
        "Input-context selection of pinyin was never confirmed; selecting the source directly"));
    EXPECT_EQ(log.sink().records.back().level, platform::LogLevel::debug);
    EXPECT_FALSE(provider.inputContextSelection().pending.has_value());

    EXPECT_TRUE(select("pinyin"));
    EXPECT_EQ(contextCalls, 2) << "the next request goes by key focus again";
    EXPECT_EQ(system.selectCalls.size(), 1u);
}

TEST_F(TextInputSourceProviderTest, SeeingTheSourceCurrentConfirmsTheInputContextSelection) {
    EXPECT_TRUE(select("pinyin"));
    system.currentID = "pinyin";  // the focused application switched
    EXPECT_EQ(provider.currentSourceID(), InputSourceID("pinyin"));
    EXPECT_FALSE(provider.inputContextSelection().pending.has_value());

    system.currentID = "xkb:us";
    EXPECT_TRUE(select("pinyin"));
    EXPECT_EQ(contextCalls, 2);
    EXPECT_TRUE(system.selectCalls.empty());
    EXPECT_FALSE(log.contains("never confirmed"));

    // Another CJKV source taking the input-context route replaces the pending one.
    system.installed.push_back(FakeTextInputSources::keyboard("mozc", "Mozc", {"ja"}));
    EXPECT_TRUE(select("mozc"));
    EXPECT_EQ(provider.inputContextSelection().pending, InputSourceID("mozc"));
    EXPECT_TRUE(select("pinyin"));
    EXPECT_EQ(contextCalls, 4);
}

TEST_F(TextInputSourceProviderTest, InputContextFailureFallsBackToThePlainSelection) {
    contextAnswer = std::unexpected(Failure::rejected(-25));
    EXPECT_TRUE(select("pinyin"));
    EXPECT_TRUE(log.contains(
        "Input-context selection failed (rejected(-25)); selecting the source directly"));
    EXPECT_EQ(system.selectCalls, (std::vector<std::string>{"pinyin"}));
    EXPECT_FALSE(provider.inputContextSelection().pending.has_value());

    system.selectFailure = SelectStatus::failed;
    EXPECT_FALSE(select("pinyin"));

    // The layout groups' own answer: no such request.
    test::LogCapture ownLog;
    system.selectFailure.reset();
    system.currentID = "xkb:us";
    TextInputSourceProvider real(system);
    EXPECT_TRUE(real.select(*real.source("pinyin")));
    EXPECT_TRUE(ownLog.contains("Input-context selection failed (unavailable)"));
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
