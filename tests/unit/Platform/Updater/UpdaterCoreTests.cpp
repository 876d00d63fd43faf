#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Platform/Updater/Appcast.h"
#include "Platform/Updater/Installation.h"
#include "Platform/Updater/Signature.h"
#include "Platform/Updater/Version.h"
#include "tests/support/TempDir.h"

namespace tesvano::platform {
namespace {

namespace fs = std::filesystem;

TEST(VersionOrder, ComparesAsReleasesDo) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"1.0", "1.0.0", 0},
        {"1.2", "1.10", -1},
        {"2.0", "1.99.99", 1},
        {"1.0.1", "1.0", 1},
        {"v1.2.0", "1.2", 0},
        {"01.02", "1.2", 0},
        {"1.3.0-beta.1", "1.3.0", -1},
        {"1.3b1", "1.3", -1},
        {"1.3b2", "1.3b10", -1},
        {"1.3.0-beta.2", "1.3.0-beta.10", -1},
        {"1.3.0-alpha", "1.3.0-beta", -1},
        {"1.3.0-beta", "1.3.0-beta.1", -1},
        {"1.3.0-1", "1.3.0-beta", -1},
        {"1.2.0+build7", "1.2.0", 0},
        {"99999999999999999999", "1", 1},
        {"", "0", 0},
        {"1.2.3", "1.2.3-rc1", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compareVersions(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(compareVersions(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
    }
}

std::string signature() {
    return toBase64(std::vector<std::uint8_t>(64, 7));
}

std::string item(const std::string& version, const std::string& extra = "",
                 const std::string& enclosure = "") {
    return "<item><version>" + version + "</version>" + extra +
           (enclosure.empty() ? "<enclosure url=\"https://example.org/t-" + version +
                                    ".tar.gz\" length=\"100\" edSignature=\"" + signature() + "\"/>"
                              : enclosure) +
           "</item>";
}

std::string feed(const std::string& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<appcast architecture=\"x86_64\">" + items +
           "</appcast>";
}

TEST(AppcastParser, ReadsItemsAndLeavesOutMalformedOnes) {
    const auto parsed = parseAppcast(feed(
        item("1.2.0",
             "<displayVersion>1.2</displayVersion><date>2026-12-01T10:00:00Z</date>"
             "<channel>beta</channel><releaseNotes><![CDATA[# New\n* one <b>]]></releaseNotes>") +
        item("1.1.0")));
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->architecture, "x86_64");
    ASSERT_EQ(parsed->items.size(), 2u);
    const AppcastItem& first = parsed->items[0];
    EXPECT_EQ(first.version, "1.2.0");
    EXPECT_EQ(first.displayVersion, "1.2");
    EXPECT_EQ(first.channel, "beta");
    EXPECT_EQ(first.releaseNotes, "# New\n* one <b>");
    ASSERT_TRUE(first.date);
    EXPECT_EQ(formatRFC3339(*first.date), "2026-12-01T10:00:00Z");
    EXPECT_EQ(first.enclosure.length, 100u);
    const AppcastItem& second = parsed->items[1];
    EXPECT_EQ(second.displayVersion, "1.1.0");
    EXPECT_FALSE(second.channel);
    EXPECT_FALSE(second.date);
    EXPECT_TRUE(second.releaseNotes.empty());

    const std::string sig = signature();
    const std::string bad[] = {
        "<item><enclosure url=\"https://e/x\" length=\"1\" edSignature=\"" + sig + "\"/></item>",
        item("1.0", "",
             ""
             "<enclosure url=\"ftp://e/x\" length=\"1\" edSignature=\"" +
                 sig + "\"/>"),
        item("1.0", "",
             "<enclosure url=\"https://e/x\" length=\"0\" edSignature=\"" + sig + "\"/>"),
        item("1.0", "",
             "<enclosure url=\"https://e/x\" length=\"12x\" edSignature=\"" + sig + "\"/>"),
        item("1.0", "",
             "<enclosure url=\"https://e/x\" length=\"-1\" edSignature=\"" + sig + "\"/>"),
        item("1.0", "", "<enclosure url=\"https://e/x\" length=\"5\" edSignature=\"AAAA\"/>"),
        item("1.0", "", "<enclosure url=\"https://e/x\" length=\"5\"/>"),
        // Plain http only to this machine's loopback interface.
        item("1.0", "",
             "<enclosure url=\"http://example.org/x\" length=\"1\" edSignature=\"" + sig + "\"/>"),
        item("1.0", "",
             "<enclosure url=\"http://127.0.0.1@example.org/x\" length=\"1\" edSignature=\"" + sig +
                 "\"/>"),
        item("1.0", "",
             "<enclosure url=\"http://127.0.0.1.example.org/x\" length=\"1\" edSignature=\"" + sig +
                 "\"/>"),
        "<item><version>1.0</version></item>",
    };
    for (const auto& b : bad) {
        const auto one = parseAppcast(feed(b + item("0.9")));
        ASSERT_TRUE(one) << b;
        EXPECT_EQ(one->rejectedItems, 1) << b;
        ASSERT_EQ(one->items.size(), 1u) << b;
        EXPECT_EQ(one->items[0].version, "0.9");
    }
}

TEST(AppcastParser, WrittenFeedsReadBackTheSame) {
    Appcast appcast;
    appcast.architecture = "x86_64";
    AppcastItem item;
    item.version = "1.2.0";
    item.displayVersion = "1.2 \"final\" <b>";
    item.date = parseRFC3339("2026-12-01T10:00:00Z");
    item.channel = "beta";
    item.releaseNotes = "# Notes\r\n* a & b ]]> <c>\n";
    item.enclosure = {"https://e.org/t.tar.gz?a=1&b=2", 42, signature()};
    appcast.items = {item};
    item.version = item.displayVersion = "1.1";
    item.releaseNotes.clear();
    item.channel.reset();
    item.date.reset();
    appcast.items.push_back(item);
    const auto again = parseAppcast(writeAppcast(appcast));
    ASSERT_TRUE(again) << again.error();
    EXPECT_EQ(again->architecture, "x86_64");
    EXPECT_EQ(again->items, appcast.items);
}

TEST(AppcastParser, RefusesWhatIsNoFeed) {
    const std::string refused[] = {
        "",
        "not xml",
        "<rss><item/></rss>",
        "<appcast><item>",
        "<?xml version=\"1.0\"?><!DOCTYPE appcast [<!ENTITY a \"aaaa\">]><appcast>&a;</appcast>",
        "<appcast></appcast><appcast/>",
    };
    for (const auto& text : refused) {
        EXPECT_FALSE(parseAppcast(text)) << text;
    }
    EXPECT_TRUE(parseAppcast("<appcast/>"));
}

TEST(AppcastParser, ReadsDatesOfRFC3339Only) {
    struct Case {
        const char* text;
        const char* utc;  // nullptr: refused
    };
    const Case cases[] = {
        {"2026-12-01T10:00:00Z", "2026-12-01T10:00:00Z"},
        {"2026-12-01T10:00:00+02:00", "2026-12-01T08:00:00Z"},
        {"2026-12-01T23:30:00-01:00", "2026-12-02T00:30:00Z"},
        {"2026-12-01T10:00:00.75Z", "2026-12-01T10:00:00Z"},
        {"2026-02-30T10:00:00Z", nullptr},
        {"2026-12-01 10:00", nullptr},
        {"2026-12-01T10:00:00", nullptr},
        {"2026-12-01T25:00:00Z", nullptr},
        {"Tue, 01 Dec 2026 10:00:00 +0000", nullptr},
    };
    for (const auto& c : cases) {
        const auto parsed = parseRFC3339(c.text);
        if (c.utc == nullptr) {
            EXPECT_FALSE(parsed) << c.text;
        } else {
            ASSERT_TRUE(parsed) << c.text;
            EXPECT_EQ(formatRFC3339(*parsed), c.utc) << c.text;
        }
    }
}

TEST(AppcastChoice, OffersTheNewestItemOfTheAllowedChannels) {
    const auto parsed = parseAppcast(feed(item("1.1.0") + item("1.2.0") +
                                          item("1.3.0-beta.1", "<channel>beta</channel>") +
                                          item("2.0.0", "<channel>nightly</channel>")));
    ASSERT_TRUE(parsed);
    struct Case {
        std::set<std::string> channels;
        const char* current;
        std::optional<std::string> skipped;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {{}, "1.0.0", {}, "1.2.0"},
        {{"beta"}, "1.0.0", {}, "1.3.0-beta.1"},
        {{"beta"}, "1.3.0-beta.1", {}, std::nullopt},
        {{}, "1.2.0", {}, std::nullopt},
        {{}, "1.0.0", "1.2.0", "1.1.0"},
        {{"beta"}, "1.0.0", "1.3.0-beta.1", "1.2.0"},
        {{"Beta"}, "1.0.0", {}, "1.2.0"},
        {{}, "3.0", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto best =
            bestAppcastItem(*parsed, c.channels, c.current,
                            c.skipped ? std::optional<std::string_view>(*c.skipped) : std::nullopt);
        EXPECT_EQ(best ? std::optional<std::string>(best->version) : std::nullopt, c.expected)
            << c.current;
    }
}

TEST(Signature, VerifiesOnlyTheSignedBytesWithTheRightKey) {
    const auto pair = generateKeyPair();
    const auto other = generateKeyPair();
    const std::vector<std::uint8_t> message = {1, 2, 3, 4};
    const std::string good = toBase64(sign(message, pair.secretKey));
    std::vector<std::uint8_t> changed = message;
    changed.back() ^= 1;
    EXPECT_TRUE(verifySignature(message, good, pair.publicKey));
    EXPECT_FALSE(verifySignature(changed, good, pair.publicKey));
    EXPECT_FALSE(verifySignature(message, good, other.publicKey));
    EXPECT_FALSE(verifySignature(message, "", pair.publicKey));
    EXPECT_FALSE(verifySignature(message, good.substr(4), pair.publicKey));
    EXPECT_FALSE(verifySignature(message, good + "=", pair.publicKey));
    // A byte with its high bit set is no base64, even where the decoder would alias it ("/"
    // xor 0xe0 read as "/").
    for (std::size_t i = 0; i < good.size() && good[i] != '='; ++i) {
        std::string aliased = good;
        aliased[i] = static_cast<char>(aliased[i] ^ '\xe0');
        EXPECT_FALSE(verifySignature(message, aliased, pair.publicKey)) << i;
    }

    test::TempDir dir;
    const fs::path file = dir.path() / "archive";
    std::ofstream(file, std::ios::binary).write("\x01\x02\x03\x04", 4);
    // Archives are signed in the multi-part form, which a plain signature does not pass.
    const auto signedFile = signFile(file, pair.secretKey);
    ASSERT_TRUE(signedFile);
    EXPECT_TRUE(verifyFileSignature(file, *signedFile, pair.publicKey));
    EXPECT_FALSE(verifyFileSignature(file, good, pair.publicKey));
    EXPECT_FALSE(verifyFileSignature(file, *signedFile, other.publicKey));
    EXPECT_FALSE(verifyFileSignature(dir.path() / "missing", *signedFile, pair.publicKey));
    EXPECT_EQ(decodePublicKey(toBase64(pair.publicKey)), pair.publicKey);
    EXPECT_FALSE(decodePublicKey(good));
}

TEST(Signature, AFeedIsBelievedOnlyWithItsOwnSignatureLine) {
    const auto pair = generateKeyPair();
    const auto other = generateKeyPair();
    const std::string body = "<appcast architecture=\"x86_64\">\n</appcast>\n";
    const std::string good = signFeed(body, pair.secretKey);
    const auto read = verifiedFeedBody(good, pair.publicKey);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, body);
    const auto signatureLine = good.substr(body.size());
    struct Case {
        const char* name;
        std::string text;
    };
    const Case refused[] = {
        {"unsigned", body},
        {"another key", signFeed(body, other.secretKey)},
        {"changed body", "<appcast architecture=\"aarch64\">\n</appcast>\n" + signatureLine},
        {"line added after the signature", good + "<!-- -->\n"},
        {"signature only", signatureLine},
        {"empty", ""},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(verifiedFeedBody(c.text, pair.publicKey)) << c.name;
    }
}

void makeVersion(const fs::path& root, const std::string& version) {
    fs::create_directories(root / version / "bin");
    std::ofstream(root / version / "bin" / "tesvano") << version;
}

TEST(Installation, SwitchesTheLinkAndKeepsThePreviousVersionUntilConfirmed) {
    test::TempDir dir;
    const fs::path root = dir.path() / "opt";
    makeVersion(root, "1.0");
    fs::create_directory_symlink("1.0", root / "current");
    EXPECT_FALSE(Installation::containing(root / "current" / "bin" / "tesvano"))
        << "a folder that is not the standard root needs the installer's record";
    std::ofstream(root / Installation::recordName) << "1.0\n";
    auto found = Installation::containing(root / "current" / "bin" / "tesvano");
    ASSERT_TRUE(found);
    Installation installation = *found;
    EXPECT_EQ(installation.root(), fs::weakly_canonical(root));
    EXPECT_FALSE(Installation::containing(dir.path() / "tesvano"));

    makeVersion(dir.path() / "staging", "unpacked");
    ASSERT_TRUE(installation.adopt(dir.path() / "staging" / "unpacked", "1.1"));
    EXPECT_FALSE(installation.adopt(dir.path() / "nothing", "1.2"));
    EXPECT_FALSE(installation.adopt(root / "1.1", "../evil"));
    EXPECT_FALSE(installation.adopt(root / "1.1", "1.0")) << "the running version is kept";

    ASSERT_TRUE(installation.switchTo("1.1", "1.0"));
    EXPECT_EQ(installation.currentVersion(), "1.1");
    EXPECT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
    installation.confirmStart("1.1");
    EXPECT_FALSE(fs::exists(root / "1.0"));
    EXPECT_TRUE(fs::exists(root / "1.1" / "bin" / "tesvano"));
    EXPECT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::nothingPending);
}

TEST(Installation, ANewVersionCountsItsStartsAndGoesBackAfterOneThatFailed) {
    test::TempDir dir;
    const fs::path root = dir.path();
    makeVersion(root, "1.0");
    fs::create_directory_symlink("1.0", root / "current");
    Installation installation(root);
    makeVersion(dir.path() / "staging", "unpacked");
    ASSERT_TRUE(installation.adopt(dir.path() / "staging" / "unpacked", "1.1"));
    ASSERT_TRUE(installation.switchTo("1.1", "1.0", "build-a"));
    EXPECT_EQ(installation.pendingVersion(), "1.1");
    EXPECT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
    installation.forgetStart("1.1");  // a relaunch step saw it ended from outside
    EXPECT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
    EXPECT_EQ(installation.unconfirmedStarts(), 1);
    // Ended unconfirmed with nothing noted (killed, or its session ended): not counted either.
    EXPECT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
    EXPECT_EQ(installation.unconfirmedStarts(), 1);
    EXPECT_FALSE(installation.recordedFault());
    // A note of another version's fault says nothing about this one.
    std::ofstream(root / "update-pending.fault") << "1.0 3 0\n";
    EXPECT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
    std::ofstream(root / "update-pending.fault") << "1.1 3 0\n";
    EXPECT_EQ(installation.recordedFault(), "ended with status 3 before it confirmed its start");
    EXPECT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::rollBack);
    const auto back = installation.rollBack("ended before it confirmed its start");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, "1.0");
    EXPECT_EQ(installation.currentVersion(), "1.0");
    EXPECT_FALSE(installation.pendingVersion());
    EXPECT_EQ(installation.failedVersions(), std::set<std::string>{"1.1"});
    EXPECT_TRUE(installation.failedBefore("1.1", "build-a"));
    EXPECT_FALSE(installation.failedBefore("1.1", "build-b")) << "another build is offered";
    EXPECT_FALSE(fs::exists(root / "1.1")) << "the failed version was recorded, so it goes";
    EXPECT_TRUE(fs::exists(root / "1.0" / "bin" / "tesvano")) << "never recorded: never deleted";
    EXPECT_EQ(installation.checkStartup("1.0"), Installation::StartupVerdict::nothingPending);
    EXPECT_FALSE(installation.rollBack("again")) << "nothing is pending any more";
    EXPECT_FALSE(fs::exists(root / "update-pending.fault"));

    // Installed again and confirmed, it is no longer noted as failed.
    makeVersion(dir.path() / "staging", "again");
    ASSERT_TRUE(installation.adopt(dir.path() / "staging" / "again", "1.1"));
    ASSERT_TRUE(installation.switchTo("1.1", "1.0", "build-b"));
    EXPECT_EQ(installation.checkStartup("1.1"), Installation::StartupVerdict::probation);
    installation.confirmStart("1.1");
    EXPECT_TRUE(installation.failedVersions().empty());
}

TEST(Installation, EntriesNameTheCurrentLinkWhenTheProgramRunsFromAVersionFolder) {
    test::TempDir dir;
    const fs::path root = dir.path() / "opt";
    makeVersion(root, "1.0");
    makeVersion(root, "0.9");
    fs::create_directory_symlink("1.0", root / "current");
    makeVersion(dir.path() / "elsewhere", "2.0");
    fs::create_directory_symlink("2.0", dir.path() / "elsewhere" / "current");
    const fs::path stable = fs::weakly_canonical(root) / "current" / "bin" / "tesvano";
    struct Case {
        const char* name;
        fs::path running;
        fs::path expected;
    };
    const Case cases[] = {
        {"the current version's folder", root / "1.0" / "bin" / "tesvano", stable},
        {"through the link", root / "current" / "bin" / "tesvano", stable},
        {"another version's folder", root / "0.9" / "bin" / "tesvano", stable},
        {"installed by a package", "/usr/bin/tesvano", "/usr/bin/tesvano"},
        {"a folder that only holds a current link", dir.path() / "elsewhere/2.0/bin/tesvano",
         dir.path() / "elsewhere/2.0/bin/tesvano"},
    };
    std::ofstream(root / Installation::recordName) << "1.0\n";
    for (const auto& c : cases) {
        EXPECT_EQ(Installation::stableExecutable(c.running), c.expected) << c.name;
    }
}

TEST(Installation, ARelaunchStepThatCannotBeStartedIsReported) {
    test::TempDir dir;
    std::ofstream(dir.path() / "not-a-program") << "plain text\n";
    fs::permissions(dir.path() / "not-a-program", fs::perms::owner_all);
    for (const fs::path& helper : {dir.path() / "missing", dir.path() / "not-a-program"}) {
        RelaunchRequest request;
        request.helper = helper;
        request.root = dir.path();
        const auto started = spawnRelaunch(request);
        ASSERT_FALSE(started) << helper;
        EXPECT_NE(started.error().find(helper.string()), std::string::npos) << started.error();
    }
}

TEST(Installation, OnlyPlainNamesAreVersions) {
    for (const char* good : {"1.2.0", "1.3.0-beta.1", "2.0+build.5", "1_0"}) {
        EXPECT_TRUE(Installation::isPlainVersion(good)) << good;
    }
    for (const char* bad :
         {"", ".", "..", ".hidden", "current", "a/b", "1.0 beta", "1.0\n", "$(reboot)", "1&2"}) {
        EXPECT_FALSE(Installation::isPlainVersion(bad)) << bad;
    }
}

}  // namespace
}  // namespace tesvano::platform
