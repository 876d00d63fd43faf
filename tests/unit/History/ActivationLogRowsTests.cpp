#include <gtest/gtest.h>

#include "TesvanoKit/History/ActivationLogRows.h"

namespace tesvano {
namespace {

using platform::Seconds;
using platform::WallTime;
using R = ActivationReason;

const WallTime kNow = WallTime(Seconds(1'700'000'000.0));  // 22:13:20 UTC

ActivationLogEntry entry(std::string reasonRaw, std::optional<std::string> ruleSource = {},
                         std::optional<std::string> host = {}) {
    ActivationLogEntry e;
    e.timestamp = kNow;
    e.inputSourceID = "xkb:de";
    e.inputSourceName = "German";
    e.reasonRaw = std::move(reasonRaw);
    e.durationMs = 12.345;
    e.ruleSourceRaw = std::move(ruleSource);
    e.matchedHost = std::move(host);
    return e;
}

TEST(ActivationLogText, EachReasonHasItsTextAndDetailLine) {
    using D = ActivationLogText::Detail;
    struct Case {
        ActivationLogEntry entry;
        std::string_view reason;
        std::optional<D> detail;
    };
    const Case cases[] = {
        {entry("revertedSwitch", "appRule"), "Reverted switch", D{"App rule", true}},
        {entry("appActivated", "globalDefault"), "App activated", D{"Default rule", true}},
        {entry("launcherFocused"), "Launcher opened", std::nullopt},
        {entry("launcherDismissed", "appRule"), "Launcher closed", D{"App rule", true}},
        // Only a URL match shows its host; a re-check shows the rule's kind.
        {entry("urlPolled", "urlRule", "example.org"), "URL re-checked", D{"URL rule", true}},
        {entry("urlMatched", "urlRule", "example.org"), "URL matched", D{"example.org", false}},
        {entry("urlMatched", "urlRule"), "URL matched", D{"URL rule", true}},
        {entry("urlMatched"), "URL matched", std::nullopt},
        {entry("addressBarFocused", "addressBarRule"), "Address bar focused",
         D{"Address-bar rule", true}},
        {entry("addressBarBlurred", "urlRule"), "Address bar blurred", D{"URL rule", true}},
        {entry("lockEngaged", "globalDefault"), "Lock engaged", D{"Default rule", true}},
        {entry("configChanged"), "Settings changed", std::nullopt},
        {entry("startupApplied", "globalDefault"), "Lock restored", D{"Default rule", true}},
        {entry("apiCommand"), "URL command", std::nullopt},
        {entry("conflictPaused", "appRule"), "Conflict detected", D{"App rule", true}},
        // Texts this version does not know: the reason as stored, no detail line.
        {entry("someFutureReason", "someFutureRule"), "someFutureReason", std::nullopt},
        {entry("URLMATCHED", "urlRule", "example.org"), "URLMATCHED", D{"URL rule", true}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ActivationLogText::reasonKey(c.entry.reasonRaw), c.reason) << c.entry.reasonRaw;
        EXPECT_EQ(ActivationLogText::detail(c.entry), c.detail) << c.entry.reasonRaw;
    }
}

TEST(ActivationLogText, SourceAndApplicationColumns) {
    struct Case {
        std::optional<std::string> from, appName, appId;
        std::string source, app;
    };
    const Case cases[] = {
        {"English (US)", "Firefox", "firefox-esr", "English (US) \u2192 German", "Firefox"},
        {"German", std::nullopt, "process:foo", "German", "process:foo"},
        {std::nullopt, std::nullopt, std::nullopt, "German", "\u2014"},
        {"", "", std::nullopt, " \u2192 German", ""},
    };
    for (const auto& c : cases) {
        auto e = entry("appActivated");
        e.fromSourceName = c.from;
        e.triggeringAppName = c.appName;
        e.triggeringAppId = c.appId;
        EXPECT_EQ(ActivationLogText::sourceText(e), c.source);
        EXPECT_EQ(ActivationLogText::appText(e), c.app);
    }
    // Stored names read as the interface language names them now, both sides of the arrow.
    auto e = entry("appActivated");
    e.fromSourceName = "English (US)";
    const ActivationLogText::SourceNames german = [](std::string_view name) {
        return name == "German" ? std::string("Deutsch") : "[" + std::string(name) + "]";
    };
    EXPECT_EQ(ActivationLogText::sourceText(e, german), "[English (US)] \u2192 Deutsch");
    e.fromSourceName.reset();
    EXPECT_EQ(ActivationLogText::sourceText(e, german), "Deutsch");
}

TEST(ActivationLogRows, TheLastDayNewestFirstAndNewEntriesTakeTheirPlace) {
    ActivationLogRows rows(SupportedLanguage::english, "UTC");
    std::vector<ActivationLogEntry> entries;
    for (double age : {86400.0, 86399.999, 10.0, 3600.0, 0.0, 90000.0}) {
        auto e = entry("appActivated");
        e.timestamp = kNow - Seconds(age);
        e.inputSourceName = std::to_string(static_cast<int>(age));
        entries.push_back(e);
    }
    rows.reset(entries, kNow);
    std::vector<std::string> shown;
    for (const auto& row : rows.rows()) {
        shown.push_back(row.source);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"0", "10", "3600", "86399"}))
        << "one exactly a day old is out";

    auto late = entry("apiCommand");
    late.timestamp = kNow - Seconds(10);
    late.inputSourceName = "same time, recorded later";
    EXPECT_EQ(rows.insert(late), 1u) << "before the row of the same time";
    late.timestamp = kNow + Seconds(1);
    EXPECT_EQ(rows.insert(late), 0u);
    late.timestamp = kNow - Seconds(86400);
    EXPECT_EQ(rows.insert(late), std::nullopt);
    EXPECT_EQ(rows.rows().size(), 6u);
    EXPECT_EQ(rows.rows()[2].source, "same time, recorded later");
    EXPECT_EQ(rows.rows()[3].source, "10");
}

TEST(ActivationLogRows, TimesDurationsAndCountsFollowTheLocale) {
    struct Case {
        SupportedLanguage language;
        std::string time, duration, count;
    };
    // 22:13:20 UTC. Separators as the locales write them (narrow and plain no-break spaces).
    const Case cases[] = {
        {SupportedLanguage::english, "10:13:20\u202FPM", "12.3 ms", "1,234"},
        {SupportedLanguage::german, "22:13:20", "12,3 ms", "1.234"},
        {SupportedLanguage::french, "22:13:20", "12,3 ms", "1\u202F234"},
        {SupportedLanguage::russian, "22:13:20", "12,3 \u043C\u0441", "1\u00A0234"},
        {SupportedLanguage::traditionalChinese, "\u4E0B\u534810:13:20", "12.3 \u6BEB\u79D2",
         "1,234"},
    };
    for (const auto& c : cases) {
        ActivationLogRows rows(c.language, "UTC");
        rows.reset(std::vector{entry("appActivated")}, kNow + Seconds(1));
        ASSERT_EQ(rows.rows().size(), 1u);
        EXPECT_EQ(rows.rows()[0].time, c.time) << rawValue(c.language);
        EXPECT_EQ(rows.rows()[0].duration, c.duration) << rawValue(c.language);
        EXPECT_EQ(LocaleFormat(rawValue(c.language)).integer(1234), c.count);
    }
    const LocaleFormat english("en", "UTC");
    EXPECT_EQ(english.oneDecimal(0.04), "0.0");
    EXPECT_EQ(english.oneDecimal(std::nan("")), "\u2014");
    EXPECT_EQ(english.timeOfDay(WallTime(Seconds(INFINITY))), "\u2014");
}

}  // namespace
}  // namespace tesvano
