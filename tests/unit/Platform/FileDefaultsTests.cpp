#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "Platform/Defaults/Defaults.h"
#include "TesvanoKit/Rules/RuleStore.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using platform::DefaultsValue;
using platform::FileDefaults;

TEST(FileDefaults, EveryKindSurvivesAReopenAndKindsStayApart) {
    test::TempDir dir;
    const auto path = dir / "tesvano/settings.json";
    DefaultsValue::Dictionary dict{{"inner", DefaultsValue(std::int64_t{3})},
                                   {"data", DefaultsValue::data("x")}};
    {
        FileDefaults defaults(path);
        defaults.set("bool", true);
        defaults.set("int", std::int64_t{9'223'372'036'854'775'807});
        defaults.set("double", 2.0);
        defaults.set("string", std::string("{\"a\":1}"));
        defaults.set("data", DefaultsValue::data(std::string("\0\xff{\"a\":1}", 9)));
        defaults.set("array", DefaultsValue::Array{DefaultsValue(1), DefaultsValue("two")});
        defaults.set("dict", dict);
        defaults.set("nan", std::numeric_limits<double>::quiet_NaN());
        defaults.set("gone", 1);
        defaults.remove("gone");
    }
    FileDefaults reopened(path);
    EXPECT_EQ(reopened.boolean("bool"), true);
    EXPECT_EQ(reopened.integer("int"), std::numeric_limits<std::int64_t>::max());
    ASSERT_TRUE(reopened.value("double"));
    EXPECT_EQ(reopened.value("double")->kind(), DefaultsValue::Kind::real);
    EXPECT_EQ(reopened.string("string"), "{\"a\":1}");
    EXPECT_FALSE(reopened.data("string")) << "a string is never data";
    EXPECT_FALSE(reopened.string("data")) << "data is never a string";
    EXPECT_EQ(reopened.data("data"),
              *DefaultsValue::data(std::string("\0\xff{\"a\":1}", 9)).asData());
    EXPECT_EQ(reopened.value("array"),
              DefaultsValue(DefaultsValue::Array{DefaultsValue(1), DefaultsValue("two")}));
    EXPECT_EQ(reopened.value("dict"), DefaultsValue(dict));
    EXPECT_TRUE(std::isnan(reopened.real("nan").value_or(0)));
    EXPECT_FALSE(reopened.value("gone"));
}

TEST(FileDefaults, ADamagedFileIsKeptAsideReportedAndReplacedByDefaults) {
    for (const std::string& damaged : {std::string(R"({"lockConfiguration": {"data": "eyJpc0)"),
                                       std::string("\x00\x01garbage", 9), std::string("[]"),
                                       std::string(R"({"a": {"data": "!!"}})")}) {
        test::TempDir dir;
        const auto path = dir / "settings.json";
        test::writeFile(path, damaged);
        test::LogCapture logs;

        FileDefaults defaults(path);
        EXPECT_TRUE(defaults.keys().empty());
        ASSERT_TRUE(defaults.setAsidePath().has_value());
        EXPECT_EQ(test::readFile(*defaults.setAsidePath()), damaged);
        EXPECT_TRUE(logs.contains("damaged"));

        defaults.set("menuBarIconHidden", false);
        EXPECT_EQ(test::readFile(*defaults.setAsidePath()), damaged)
            << "writing new settings must not touch the damaged copy";
        EXPECT_EQ(FileDefaults(path).boolean("menuBarIconHidden"), false);
    }
}

TEST(FileDefaults, ConfigurationWithNonASCIIPatternsSavedByOneProcessLoadsInAnother) {
    test::TempDir dir;
    const auto path = dir / "settings.json";
    LockConfiguration c;
    c.isEnabled = true;
    c.defaultSourceID = InputSourceID("xkb:ru");
    c.enhancedModeEnabled = true;
    c.urlRules = {URLRule{Uuid::random(), "пример.рф", "xkb:ru", RuleAction::lock,
                          URLMatchType::domainSuffix},
                  URLRule{Uuid::random(), "例え.テスト", "xkb:jp", RuleAction::switchOnce,
                          URLMatchType::domain},
                  URLRule{Uuid::random(), "^https://😀\\.example/", "xkb:us", RuleAction::lock,
                          URLMatchType::urlRegex}};

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileDefaults defaults(path);
        RuleStore(defaults, "lockConfiguration").save(c);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    FileDefaults defaults(path);
    RuleStore store(defaults, "lockConfiguration");
    EXPECT_TRUE(store.hasStoredConfiguration());
    EXPECT_EQ(store.load(), c);
}

TEST(FileDefaults, AKilledWriterNeverLeavesAHalfWrittenFile) {
    test::TempDir dir;
    const auto path = dir / "settings.json";
    const std::string big(64 * 1024, 'x');
    for (int round = 0; round < 20; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            FileDefaults defaults(path);
            for (std::int64_t i = 0;; ++i) {
                defaults.set("counter", i);
                defaults.set("payload", big + std::to_string(i));
            }
        }
        // Let it write for a moment, at a different point each round, then kill it.
        ::usleep(static_cast<useconds_t>(2000 + round * 700));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        FileDefaults reopened(path);
        EXPECT_FALSE(reopened.setAsidePath().has_value()) << "round " << round;
        if (auto payload = reopened.string("payload")) {
            EXPECT_EQ(payload->compare(0, big.size(), big), 0);
        }
    }
    // The dead writers' temporary files are cleaned up on the next open.
    FileDefaults last(path);
    int leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        leftovers += entry.path().filename().string().find(".tmp-") != std::string::npos;
    }
    EXPECT_EQ(leftovers, 0);
}

TEST(FileDefaults, TypedReadsConvertOnlyBetweenNumbers) {
    platform::MemoryDefaults d;
    d.set("i", 3);
    d.set("d", 2.5);
    d.set("b", true);
    d.set("s", "1");
    d.set("huge", 1e300);
    EXPECT_EQ(d.real("i"), 3.0);
    EXPECT_EQ(d.integer("d"), 2);
    EXPECT_EQ(d.integer("b"), 1);
    EXPECT_FALSE(d.integer("s"));
    EXPECT_FALSE(d.boolean("s"));
    EXPECT_FALSE(d.integer("huge"));
    EXPECT_FALSE(d.data("s"));
}

}  // namespace
}  // namespace tesvano
