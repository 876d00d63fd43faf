#include <gtest/gtest.h>

#include <map>

#include <chrono>

#include "TesvanoKit/Backup/ConfigBackup.h"

namespace tesvano {
namespace {

using Kind = BackupReadError::Kind;

LockConfiguration sampleConfiguration() {
    LockConfiguration c;
    c.isEnabled = true;
    c.defaultSourceID = InputSourceID("xkb:us");
    c.defaultAction = RuleAction::switchOnce;
    c.appRules = {AppRule{"org.mozilla.firefox", AppRuleMode::switched, InputSourceID("xkb:de")},
                  AppRule{"process:xterm", AppRuleMode::ignored, InputSourceID("xkb:ru")},
                  AppRule{"code", AppRuleMode::locked, InputSourceID("xkb:jp")}};
    c.enhancedModeEnabled = true;
    c.urlRules = {URLRule{Uuid::random(), "example.org/path", InputSourceID("xkb:de"),
                          RuleAction::switchOnce, URLMatchType::domain},
                  URLRule{Uuid::random(), "^https://.*\\.ru/", InputSourceID("xkb:ru"),
                          RuleAction::lock, URLMatchType::urlRegex}};
    return c;
}

const std::map<InputSourceID, std::string> names = {
    {InputSourceID("xkb:us"), "English (US)"},
    {InputSourceID("xkb:de"), "German"},
    {InputSourceID("xkb:ru"), "Russian"},
    {InputSourceID("xkb:fr"), "French"},
};

TEST(ConfigBackup, WriterKeepsTheRulesAndNamesOnlyTheSourcesTheyUse) {
    const auto backup = ConfigBackup::fromConfiguration(sampleConfiguration(), "1.4", names);
    EXPECT_EQ(backup.format, "com.quorvel.Tesvano.backup");
    EXPECT_EQ(backup.schemaVersion, 1);
    EXPECT_EQ(backup.minReader, 1);
    EXPECT_EQ(backup.appVersion, "1.4");
    EXPECT_EQ(backup.payload.appRules, sampleConfiguration().appRules);
    ASSERT_EQ(backup.payload.urlRules.size(), 2u);
    EXPECT_EQ(backup.payload.urlRules[0],
              (BackupURLRule{"example.org/path", InputSourceID("xkb:de"), RuleAction::switchOnce,
                             URLMatchType::domain}));
    // xkb:ru is named by a URL rule (the ignored app rule alone would not); xkb:jp has no
    // known name; xkb:fr is used by nothing.
    EXPECT_EQ(backup.payload.sourceNames,
              (std::map<std::string, std::string>{
                  {"xkb:us", "English (US)"}, {"xkb:de", "German"}, {"xkb:ru", "Russian"}}));

    LockConfiguration onlyIgnored;
    onlyIgnored.appRules = {AppRule{"a", AppRuleMode::ignored, InputSourceID("xkb:ru")}};
    EXPECT_TRUE(
        ConfigBackup::fromConfiguration(onlyIgnored, "1", names).payload.sourceNames.empty());
}

TEST(ConfigBackup, EncodingIsSortedPrettyWithPlainSlashesAndReadsBackEqual) {
    const auto backup = ConfigBackup::fromConfiguration(sampleConfiguration(), "1.4", names);
    const auto text = backup.encodedData();
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find("\"hostPattern\": \"example.org/path\""), std::string::npos) << *text;
    EXPECT_EQ(text->find("\\/"), std::string::npos);
    // Ascending keys at the top and inside the payload and its rules.
    for (const auto& keys : std::vector<std::vector<std::string>>{
             {"\"appVersion\"", "\"format\"", "\"minReader\"", "\"payload\"", "\"schemaVersion\""},
             {"\"appRules\"", "\"defaultAction\"", "\"defaultSourceID\"", "\"sourceNames\"",
              "\"urlRules\""},
             {"\"action\"", "\"hostPattern\"", "\"lockedSourceID\"", "\"matchType\""}}) {
        std::size_t last = 0;
        for (const auto& key : keys) {
            const auto at = text->find(key, key == keys.front() ? 0 : last);
            ASSERT_NE(at, std::string::npos) << key;
            EXPECT_GE(at, last) << key;
            last = at;
        }
    }
    EXPECT_NE(text->find("\n  \"format\""), std::string::npos) << "one member per line";
    EXPECT_EQ(ConfigBackup::read(*text), backup);

    LockConfiguration broken;
    broken.urlRules = {URLRule{Uuid::random(), "a\xFF.com", InputSourceID("xkb:us")}};
    const auto replaced = ConfigBackup::fromConfiguration(broken, "1", names).encodedData();
    ASSERT_TRUE(replaced.has_value()) << "text that is not UTF-8 costs no backup";
    EXPECT_EQ(ConfigBackup::read(*replaced)->payload.urlRules[0].hostPattern, "a\uFFFD.com");

    LockConfiguration empty;
    const auto bare = ConfigBackup::fromConfiguration(empty, "1", names).encodedData();
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(bare->find("defaultSourceID"), std::string::npos);
    EXPECT_FALSE(ConfigBackup::read(*bare)->payload.defaultSourceID.has_value());
}

struct ReadCase {
    const char* name;
    std::string bytes;
    std::optional<BackupReadError> error;  // none: reads as a backup
};

std::string nested(int levels) {
    return R"({"format":"com.quorvel.Tesvano.backup","payload":{},"x":)" +
           std::string(static_cast<std::size_t>(levels), '[') +
           std::string(static_cast<std::size_t>(levels), ']') + "}";
}

TEST(ConfigBackup, ReaderRefusesEachKindOfBadFileWithItsReason) {
    const std::string head = R"({"format":"com.quorvel.Tesvano.backup",)";
    std::string big = head + R"("payload":{"sourceNames":{"a":")";
    big += std::string(10 * 1024 * 1024, 'x') + "\"}}}";
    const std::vector<ReadCase> cases = {
        {"array", "[1,2]", BackupReadError::notABackup()},
        {"bare string", "\"text\"", BackupReadError::notABackup()},
        {"zeros", std::string(64, '\0'), BackupReadError::notABackup()},
        {"empty object", "{}", BackupReadError::notABackup()},
        {"not JSON", "format: tesvano", BackupReadError::notABackup()},
        {"format in other case", R"({"format":"com.quorvel.tesvano.backup","payload":{}})",
         BackupReadError::notABackup()},
        {"format not a string", R"({"format":1,"payload":{}})", BackupReadError::notABackup()},
        {"invalid UTF-8", head + "\"payload\":{\"sourceNames\":{\"a\":\"\xC3\x28\"}}}",
         BackupReadError::notABackup()},
        {"10 MB", big, BackupReadError::notABackup()},
        {"nested 10,000 deep", nested(10000), BackupReadError::notABackup()},
        {"newer reader", head + R"("minReader":2,"appVersion":"3.0"})",
         BackupReadError::incompatibleVersion("3.0")},
        {"newer reader, no version", head + R"("minReader":7})",
         BackupReadError::incompatibleVersion("")},
        {"newer reader as 2.5", head + R"("minReader":2.5,"appVersion":"3.0","payload":{}})",
         BackupReadError::incompatibleVersion("3.0")},
        {"newer reader as 1.5", head + R"("minReader":1.5,"payload":{}})",
         BackupReadError::incompatibleVersion("")},
        {"reader 1 without payload", head + R"("minReader":1,"appVersion":"3.0"})",
         BackupReadError::damaged()},
        {"reader as string", head + R"("minReader":"2","appVersion":"3.0"})",
         BackupReadError::damaged()},
        {"reader as true", head + R"("minReader":true,"payload":{}})", BackupReadError::damaged()},
        {"payload null", head + R"("payload":null})", BackupReadError::damaged()},
        {"URL rule without source", head + R"("payload":{"urlRules":[{"hostPattern":"a.b"}]}})",
         BackupReadError::damaged()},
        {"app rule without id", head + R"("payload":{"appRules":[{"mode":"locked"}]}})",
         BackupReadError::damaged()},
        {"name not a string", head + R"("payload":{"sourceNames":{"xkb:us":1}}})",
         BackupReadError::damaged()},
        {"action not a string", head + R"("payload":{"defaultAction":0}})",
         BackupReadError::damaged()},
        {"schema version a word", head + R"("schemaVersion":"one","payload":{}})",
         BackupReadError::damaged()},
        {"only format and empty payload", head + R"("payload":{}})", std::nullopt},
        {"reader 1.0 and unknown members", head + R"("minReader":1.0,"payload":{"x":[]},"y":1})",
         std::nullopt},
        {"nested 60 deep in an unknown member", nested(60), std::nullopt},
    };
    for (const auto& c : cases) {
        const auto read = ConfigBackup::read(c.bytes);
        if (c.error) {
            ASSERT_FALSE(read.has_value()) << c.name;
            EXPECT_EQ(read.error(), *c.error) << c.name;
        } else {
            EXPECT_TRUE(read.has_value()) << c.name;
        }
    }
}

TEST(ConfigBackup, ReaderFillsWhatIsMissingAndReadsUnknownWordsTolerantly) {
    const auto empty =
        ConfigBackup::read(R"({"format":"com.quorvel.Tesvano.backup","payload":{}})");
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(*empty, ConfigBackup{});

    const auto read = ConfigBackup::read(R"({"format":"com.quorvel.Tesvano.backup","payload":{
        "defaultSourceID":"xkb:us","defaultAction":"SwitchOnce",
        "appRules":[{"bundleID":"a","mode":"sideways"}],
        "urlRules":[{"hostPattern":"a.b","lockedSourceID":"xkb:de","action":"Lock",
                     "matchType":"glob"},
                    {"hostPattern":"c.d","lockedSourceID":"xkb:de","action":"switchOnce",
                     "matchType":"url-regex"}]}})");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->payload.defaultAction, RuleAction::lock);
    EXPECT_EQ(read->payload.appRules[0], (AppRule{"a", AppRuleMode::locked, std::nullopt}));
    EXPECT_EQ(read->payload.urlRules[0].action, RuleAction::lock);
    EXPECT_EQ(read->payload.urlRules[0].matchType, URLMatchType::domainSuffix);
    EXPECT_EQ(read->payload.urlRules[1].action, RuleAction::switchOnce);
    EXPECT_EQ(read->payload.urlRules[1].matchType, URLMatchType::urlRegex);
    // What was read otherwise than written is kept, as written, for the review; the words this
    // reader knows are not.
    EXPECT_EQ(read->payload.unknownDefaultAction, std::optional<std::string>("SwitchOnce"));
    EXPECT_EQ(read->payload.unknownAppRuleModes,
              (std::map<std::size_t, std::string>{{0, "sideways"}}));
    EXPECT_EQ(read->payload.unknownURLRuleValues.size(), 1u);
    const auto known = ConfigBackup::read(R"({"format":"com.quorvel.Tesvano.backup","payload":{
        "defaultAction":"switchOnce","appRules":[{"bundleID":"a","mode":"useDefault"},
        {"bundleID":"b"},{"bundleID":"c","mode":"Switched"}]}})");
    ASSERT_TRUE(known.has_value());
    EXPECT_EQ(known->payload.unknownDefaultAction, std::nullopt);
    EXPECT_EQ(known->payload.unknownAppRuleModes,
              (std::map<std::size_t, std::string>{{2, "Switched"}}))
        << "by the rule's place, letter case counting";
}

TEST(ConfigBackup, AFileOfManyKeysReadsWholeAndOneOfTooManyRulesIsRefusedSayingTheCap) {
    // Hundreds of thousands of keys, as a file under the size cap may hold: every one read
    // (a reader that walks the members for each key takes minutes here), few kept.
    std::string file = R"({"format":"com.quorvel.Tesvano.backup","payload":{"appRules":[)"
                       R"({"bundleID":"code","mode":"locked","lockedSourceID":"xkb:de"}],)"
                       R"("sourceNames":{"xkb:de":"German")";
    for (int i = 0; file.size() < ConfigBackup::maximumFileSize - 64; ++i) {
        file += ",\"k" + std::to_string(i) + "\":\"n\"";
    }
    file += "}}}";
    const auto read = ConfigBackup::read(file);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->payload.sourceNames, (std::map<std::string, std::string>{{"xkb:de", "German"}}))
        << "only the names of the sources the rules use";

    LockConfiguration many;
    for (std::size_t i = 0; i < ConfigBackup::maximumRules; ++i) {
        many.appRules.push_back(AppRule{"a" + std::to_string(i), AppRuleMode::ignored, {}});
    }
    const auto atTheCap = ConfigBackup::fromConfiguration(many, "1", {}).encodedData().value();
    EXPECT_TRUE(ConfigBackup::read(atTheCap).has_value());
    many.urlRules.push_back(URLRule{Uuid::random(), "example.org", InputSourceID("xkb:de")});
    const auto over =
        ConfigBackup::read(ConfigBackup::fromConfiguration(many, "1", {}).encodedData().value());
    ASSERT_FALSE(over.has_value());
    EXPECT_EQ(over.error(), BackupReadError::tooManyRules());
    EXPECT_EQ(over.error().text(SupportedLanguage::english),
              "This backup holds more rules than Tesvano can import (at most 10000).");
    EXPECT_NE(over.error().text(SupportedLanguage::german).find("10000"), std::string::npos);
}

TEST(ConfigBackup, ErrorTextsNameTheWritersVersion) {
    EXPECT_EQ(BackupReadError::incompatibleVersion("3.0").text(SupportedLanguage::english),
              "This backup was made by a newer Tesvano (3.0). Update Tesvano, then try again.");
    EXPECT_EQ(BackupReadError::incompatibleVersion("").text(SupportedLanguage::english),
              "This backup was made by a newer Tesvano (). Update Tesvano, then try again.");
    EXPECT_EQ(BackupReadError::unreadable().text(SupportedLanguage::english),
              "Couldn't read the selected file. Check permissions and try again.");
}

TEST(ConfigBackup, SuggestedNameUsesTheGivenTimeZone) {
    using namespace std::chrono;
    // 7 March 2026, 18:05:09 UTC.
    const auto instant = sys_days{year{2026} / 3 / 7} + hours{18} + minutes{5} + seconds{9};
    const struct {
        const char* zone;
        const char* name;
    } cases[] = {
        {"UTC", "Tesvano Backup 2026-03-07 18-05-09"},
        {"Europe/Berlin", "Tesvano Backup 2026-03-07 19-05-09"},
        {"America/Los_Angeles", "Tesvano Backup 2026-03-07 10-05-09"},
        {"Pacific/Kiritimati", "Tesvano Backup 2026-03-08 08-05-09"},
        {"No/Such_Zone", "Tesvano Backup 2026-03-07 18-05-09"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConfigBackup::suggestedBaseName(instant, c.zone), c.name) << c.zone;
    }
    EXPECT_EQ(ConfigBackup::suggestedFileName(instant, "UTC"),
              "Tesvano Backup 2026-03-07 18-05-09.tesvano");
    EXPECT_FALSE(ConfigBackup::localTimeZoneID().empty());
}

}  // namespace
}  // namespace tesvano
