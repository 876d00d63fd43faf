#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "Platform/Defaults/Defaults.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "TesvanoKit/Rules/RuleStore.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

namespace fs = std::filesystem;
using platform::FileDefaults;
using platform::Seconds;

// A settings file whose stored rules are `rules`, as the program writes it.
fs::path settingsWithRules(const test::TempDir& dir, const std::string& rules) {
    const auto path = dir / "settings.json";
    FileDefaults defaults(path);
    defaults.set("apiEnabled", true);
    defaults.set("lockConfiguration", platform::DefaultsValue::data(rules));
    return path;
}

TEST(FileDefaults, OddThingsAtThePathNeitherHangNorLoseSettings) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> plant;
        bool setAside;
    };
    const std::vector<Case> cases{
        {"fifo", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, true},
        {"folder", [](const fs::path& p) { fs::create_directory(p); }, true},
        {"dangling link", [](const fs::path& p) { fs::create_symlink("nowhere.json", p); }, false},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const auto path = dir / "settings.json";
        c.plant(path);
        FileDefaults defaults(path);
        EXPECT_TRUE(defaults.keys().empty()) << c.name;
        EXPECT_EQ(defaults.setAsidePath().has_value(), c.setAside) << c.name;
        defaults.set("apiEnabled", true);
        EXPECT_EQ(FileDefaults(path).boolean("apiEnabled"), true) << c.name;
    }
}

TEST(FileDefaults, ALinkedSettingsFileStaysALinkAndItsTargetIsWritten) {
    test::TempDir dir;
    fs::create_directories(dir / "dotfiles");
    const auto target = dir / "dotfiles/tesvano.json";
    test::writeFile(target, R"({"apiEnabled": false})");
    const auto path = dir / "settings.json";
    fs::create_symlink("dotfiles/tesvano.json", path);

    FileDefaults defaults(path);
    EXPECT_EQ(defaults.boolean("apiEnabled"), false);
    defaults.set("apiEnabled", true);
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(FileDefaults(target).boolean("apiEnabled"), true);
}

TEST(FileDefaults, AWriteNeverReplacesWhatALinkLeadsOutOfTheFolderToOrAnythingButAFile) {
    test::TempDir elsewhere;
    const auto fifo = elsewhere / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    test::writeFile(elsewhere / "other.json", "{}");
    for (const std::string& target :
         {fifo.string(), (elsewhere / "other.json").string(), std::string("inside-fifo")}) {
        test::TempDir dir;
        ASSERT_EQ(::mkfifo((dir / "inside-fifo").c_str(), 0600), 0);
        const auto path = dir / "settings.json";
        test::writeFile(path, R"({"apiEnabled": false})");
        FileDefaults defaults(path);
        // Swapped while running, as another program might.
        fs::remove(path);
        fs::create_symlink(target, path);
        test::LogCapture logs;
        defaults.set("apiEnabled", true);

        const fs::path reached = fs::path(target).is_absolute() ? fs::path(target) : dir / target;
        EXPECT_EQ(fs::is_fifo(reached), target != elsewhere / "other.json") << target;
        if (!fs::is_fifo(reached)) {
            EXPECT_EQ(test::readFile(reached), "{}") << target;
        }
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path))) << target;
        EXPECT_EQ(FileDefaults(path).boolean("apiEnabled"), true) << target;
        EXPECT_TRUE(logs.contains("kept it as")) << target;
        const auto kept = std::ranges::count_if(fs::directory_iterator(dir.path()), [](auto& e) {
            return fs::is_symlink(e.symlink_status());
        });
        EXPECT_EQ(kept, 1) << "the link is set aside, not lost: " << target;
    }
}

TEST(FileDefaults, AFileNestedTooDeepOrTooLargeIsSetAsideAndDefaultsAreUsed) {
    const std::string deep = R"({"apiEnabled": true, "odd": )" + std::string(20'000, '[') +
                             std::string(20'000, ']') + "}";
    for (const auto& [text, reason] : {std::pair<std::string, std::string>{deep, "deeper than"},
                                       {std::string(), "more than settings ever take"}}) {
        test::TempDir dir;
        const auto path = dir / "settings.json";
        test::writeFile(path, text);
        if (text.empty()) {
            fs::resize_file(path, FileDefaults::maximumFileSize + 1);
        }
        test::LogCapture logs;
        FileDefaults defaults(path);
        EXPECT_TRUE(defaults.keys().empty()) << reason;
        EXPECT_TRUE(logs.contains(reason)) << reason;
        ASSERT_TRUE(defaults.setAsidePath()) << reason;
        EXPECT_EQ(fs::file_size(*defaults.setAsidePath()),
                  text.empty() ? FileDefaults::maximumFileSize + 1 : text.size());
        defaults.set("apiEnabled", false);
        EXPECT_EQ(FileDefaults(path).boolean("apiEnabled"), false) << reason;
        // Nor is such a file ever written: the last one that fits stays.
        defaults.set("odd", std::string(FileDefaults::maximumFileSize, 'x'));
        EXPECT_TRUE(defaults.hasUnsavedChanges()) << reason;
        EXPECT_EQ(FileDefaults(path).keys(), std::vector<std::string>{"apiEnabled"}) << reason;
    }
}

// A file of exactly `size` bytes in the form the program writes: settings and one long text.
std::string settingsOfSize(std::size_t size) {
    const std::string head = "{\n  \"apiEnabled\": true,\n  \"padding\": \"";
    const std::string tail = "\"\n}\n";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

TEST(FileDefaults, AFileTooLargeToTakeAnyChangeIsSetAsideWholeAndTheChangesAreSaved) {
    for (const std::size_t size :
         {FileDefaults::maximumFileSize, FileDefaults::maximumSavedSize + 1}) {
        test::TempDir dir;
        const auto path = dir / "settings.json";
        const std::string text = settingsOfSize(size);
        test::writeFile(path, text);
        test::LogCapture logs;
        {
            FileDefaults defaults(path);
            EXPECT_TRUE(logs.contains("too close to the")) << size;
            ASSERT_TRUE(defaults.setAsidePath()) << size;
            EXPECT_EQ(test::readFile(*defaults.setAsidePath()), text) << "nothing is lost";
            // The start's own write of the rules, then a change by the user.
            RuleStore(defaults, "lockConfiguration")
                .save(LockConfiguration::defaultConfiguration());
            defaults.set("newAppRuleMode", "ignored");
            EXPECT_FALSE(defaults.hasUnsavedChanges()) << size;
            EXPECT_FALSE(defaults.saveProblem()) << size;
        }
        EXPECT_EQ(FileDefaults(path).string("newAppRuleMode"), "ignored") << "saved, " << size;
    }
    // What the program writes at most is read back, and is not set aside.
    test::TempDir dir;
    const auto path = dir / "settings.json";
    test::writeFile(path, settingsOfSize(FileDefaults::maximumSavedSize));
    FileDefaults defaults(path);
    EXPECT_FALSE(defaults.setAsidePath());
    EXPECT_EQ(defaults.boolean("apiEnabled"), true);
}

// Files well under the bound whose values take far more once saved: rules written without
// the fields a save writes out, a compact array, values nested deep (indentation).
TEST(FileDefaults, AFileWhoseValuesSaveLargerThanABoundIsSetAsideWholeAtStart) {
    constexpr std::size_t bound = 256 * 1024;
    const platform::FileDefaultsOptions options{
        .startRewrite = RuleStore::rewriteStandardAsStartWould, .maximumFileSize = bound};
    constexpr std::size_t saveBound = bound - FileDefaults::saveHeadroom;
    std::string rules = R"({"appRules":[)";
    for (int i = 0; i < 3500; ++i) {
        rules += (i ? "," : "") + std::string(R"({"bundleID":"org.example.app)") +
                 std::to_string(i) + R"("})";
    }
    rules += "]}";
    std::string compact = R"({"apiEnabled":true,"odd":[1)";
    for (int i = 0; i < 40'000; ++i) {
        compact += ",1";
    }
    compact += "]}";
    std::string nested = R"({"apiEnabled":true,"odd":)" + std::string(60, '[');
    for (int i = 0; i < 4000; ++i) {
        nested += i ? ",1" : "1";
    }
    nested += std::string(60, ']') + "}";

    for (const auto& [name, plant] : std::vector<std::pair<
             std::string,
             std::function<fs::path(const test::TempDir&)>>>{{"rules without their mode",
                                                              [&](const test::TempDir& dir) {
                                                                  return settingsWithRules(dir,
                                                                                           rules);
                                                              }},
                                                             {"a compact array",
                                                              [&](const test::TempDir& dir) {
                                                                  test::writeFile(
                                                                      dir / "settings.json",
                                                                      compact);
                                                                  return dir / "settings.json";
                                                              }},
                                                             {"nested 60 deep",
                                                              [&](const test::TempDir& dir) {
                                                                  test::writeFile(
                                                                      dir / "settings.json",
                                                                      nested);
                                                                  return dir / "settings.json";
                                                              }}}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        const fs::path path = plant(dir);
        const std::string text = test::readFile(path);
        ASSERT_LT(text.size(), saveBound) << "as it is, it fits";
        test::LogCapture logs;
        {
            FileDefaults defaults(path, options);
            EXPECT_TRUE(logs.contains("once saved"));
            ASSERT_TRUE(defaults.setAsidePath());
            EXPECT_NE(defaults.setAsidePath()->string().find("too-large"), std::string::npos);
            EXPECT_EQ(test::readFile(*defaults.setAsidePath()), text) << "nothing is lost";
            EXPECT_TRUE(defaults.keys().empty());
            RuleStore(defaults, RuleStore::standardKey)
                .save(LockConfiguration::defaultConfiguration());
            defaults.set("newAppRuleMode", "ignored");
            EXPECT_FALSE(defaults.saveProblem()) << "the start and its changes are saved";
        }
        EXPECT_EQ(FileDefaults(path, options).string("newAppRuleMode"), "ignored");
    }

    // Judged without the start's rewrite, the rules fit: it is what makes them too large.
    test::TempDir dir;
    const auto path = settingsWithRules(dir, rules);
    FileDefaults withoutRewrite(path, {.startRewrite = {}, .maximumFileSize = bound});
    EXPECT_FALSE(withoutRewrite.setAsidePath());
    EXPECT_TRUE(withoutRewrite.data(RuleStore::standardKey));
}

TEST(FileDefaults, AnEncodingPastItsLimitIsCountedNotKept) {
    platform::DefaultsValue::Array deep{platform::DefaultsValue(std::int64_t{7})};
    for (int i = 0; i < 40; ++i) {
        deep = {platform::DefaultsValue(deep), platform::DefaultsValue("x")};
    }
    const std::map<std::string, platform::DefaultsValue, std::less<>> values{
        {"apiEnabled", platform::DefaultsValue(true)}, {"odd", platform::DefaultsValue(deep)}};
    // The form itself, as every earlier version wrote it.
    EXPECT_EQ(
        platform::encodeDefaultsFile({{"a", platform::DefaultsValue(true)},
                                      {"b", platform::DefaultsValue(platform::DefaultsValue::Array{
                                                platform::DefaultsValue(std::int64_t{1})})}}),
        "{\n  \"a\": true,\n  \"b\": [\n    1\n  ]\n}\n");
    const std::string whole = platform::encodeDefaultsFile(values);
    for (const std::size_t limit : {whole.size(), whole.size() - 1, std::size_t{10}}) {
        const auto bounded = platform::encodeDefaultsFileWithin(values, limit);
        EXPECT_EQ(bounded.size, whole.size()) << limit;
        EXPECT_EQ(bounded.text.has_value(), limit >= whole.size()) << limit;
        if (bounded.text) {
            EXPECT_EQ(*bounded.text, whole);
        }
    }
}

TEST(FileDefaults, AChangeThatCannotBeSavedIsToldToItsObserverAndSaveNowSaysWhy) {
    test::TempDir dir;
    const auto path = dir / "settings.json";
    platform::ManualRunLoop loop;
    FileDefaults defaults(path);
    defaults.deferWrites(loop, Seconds(1.0));
    int told = 0;
    defaults.setSaveProblemObserver([&] { ++told; });
    const auto full = std::string(FileDefaults::maximumSavedSize, 'x');

    defaults.set("padding", full);
    EXPECT_FALSE(defaults.saveProblem()) << "not yet tried";
    loop.advance(Seconds(1.0));
    ASSERT_TRUE(defaults.saveProblem());
    EXPECT_NE(defaults.saveProblem()->find("grown to"), std::string::npos);
    EXPECT_EQ(told, 1);
    loop.advance(Seconds(100));
    EXPECT_EQ(told, 1) << "retries that fail alike say nothing new";

    // A caller that must answer at once asks for the write itself.
    const auto changes = defaults.changeCount();
    defaults.set("apiEnabled", true);
    EXPECT_EQ(defaults.changeCount(), changes + 1);
    EXPECT_TRUE(defaults.saveNow());

    const int before = told;
    defaults.remove("padding");
    EXPECT_FALSE(defaults.saveNow());
    EXPECT_FALSE(defaults.saveProblem());
    EXPECT_EQ(told, before + 1) << "told that saving works again";
    EXPECT_EQ(FileDefaults(path).boolean("apiEnabled"), true);
    defaults.set("apiEnabled", true);
    EXPECT_EQ(defaults.changeCount(), changes + 2) << "the same value again is no change";
}

TEST(FileDefaults, AValueOfAnUnknownKindIsSetAsideAloneWithAWarning) {
    // Numbers JSON can write but no double can hold are unreadable values too.
    for (const std::string& unknown :
         {std::string("null"), std::string(R"({"a": 1, "b": 2})"), std::string(R"({"future": 3})"),
          std::string(R"([1, null])"), std::string("1e400"), std::string("[1, -1E+999]"),
          std::string(R"({"dictionary": {"a": 1e400}})"), std::string(400, '9')}) {
        test::TempDir dir;
        const auto path = dir / "settings.json";
        const std::string text =
            R"({"apiEnabled": true, "odd": )" + unknown + R"(, "newAppRuleMode": "ignored"})";
        test::writeFile(path, text);
        test::LogCapture logs;

        FileDefaults defaults(path);
        EXPECT_EQ(defaults.boolean("apiEnabled"), true) << unknown;
        EXPECT_EQ(defaults.string("newAppRuleMode"), "ignored") << unknown;
        EXPECT_FALSE(defaults.value("odd")) << unknown;
        EXPECT_TRUE(logs.contains("odd")) << unknown;
        ASSERT_TRUE(defaults.setAsidePath()) << unknown;
        EXPECT_EQ(test::readFile(*defaults.setAsidePath()), text) << "nothing is lost";
        EXPECT_EQ(test::readFile(path), text) << "reading alone writes nothing";
    }
}

TEST(FileDefaults, DeferredWritesMakeABurstOneWriteAndFlushOnDemandOrAtTheEnd) {
    test::TempDir dir;
    const auto path = dir / "settings.json";
    platform::ManualRunLoop loop;
    {
        FileDefaults defaults(path);
        defaults.deferWrites(loop, Seconds(1.0));
        for (std::int64_t i = 1; i <= 100; ++i) {
            defaults.set("activationCount", i);
            loop.advance(Seconds(0.005));
        }
        EXPECT_EQ(defaults.writeCount(), 0u);
        EXPECT_FALSE(fs::exists(path));
        loop.advance(Seconds(1.0));
        EXPECT_EQ(defaults.writeCount(), 1u) << "one write for the burst, within a second";
        EXPECT_EQ(FileDefaults(path).integer("activationCount"), 100);

        loop.advance(Seconds(10));
        EXPECT_EQ(defaults.writeCount(), 1u) << "nothing to write, nothing written";

        defaults.set("activationCount", std::int64_t{101});
        defaults.flush();
        EXPECT_EQ(FileDefaults(path).integer("activationCount"), 101);
        loop.advance(Seconds(2));
        EXPECT_EQ(defaults.writeCount(), 2u) << "the flushed change is not written again";

        defaults.remove("activationCount");
    }
    EXPECT_FALSE(FileDefaults(path).value("activationCount")) << "written when it closes";
}

TEST(FileDefaults, ChangesTheDiskRefusesStayUnsavedAreRetriedAndAreWrittenAtTheEnd) {
    test::TempDir dir;
    const auto path = dir / "settings.json";
    test::writeFile(path, R"({"apiEnabled": false})");
    // Every write starts in this file; a folder in its place fails them as a full disk does.
    fs::path blocker = path;
    blocker += ".tmp-" + std::to_string(::getpid());
    const auto failures = [](const test::LogCapture& logs) {
        return std::ranges::count_if(logs.sink().records, [](const auto& record) {
            return record.message.find("Could not") != std::string::npos;
        });
    };
    platform::ManualRunLoop loop;
    test::LogCapture logs;
    {
        FileDefaults defaults(path);
        defaults.deferWrites(loop, Seconds(1.0));
        fs::create_directories(blocker / "inside");
        defaults.set("apiEnabled", true);
        loop.advance(Seconds(1.0));
        EXPECT_TRUE(defaults.hasUnsavedChanges()) << "the mark stays until a write succeeds";
        const auto writes = defaults.writeCount();
        loop.advance(Seconds(1000));
        // 1, 2, 4 s, then every few seconds: the disk's room is seen again soon.
        const auto retries = static_cast<double>(defaults.writeCount() - writes);
        EXPECT_GT(retries, 1000 / FileDefaults::maximumRetryDelay - 4) << "tried again on a timer";
        EXPECT_LT(retries, 1000 / FileDefaults::maximumRetryDelay + 8) << "backing off";
        EXPECT_EQ(failures(logs), 1) << "said once per outage";
        EXPECT_EQ(FileDefaults(path).boolean("apiEnabled"), false);

        fs::remove_all(blocker);
        loop.advance(Seconds(FileDefaults::maximumRetryDelay));
        EXPECT_FALSE(defaults.hasUnsavedChanges());
        EXPECT_EQ(FileDefaults(path).boolean("apiEnabled"), true) << "a retry wrote it";

        // Backed off, a change is still tried as soon as a first one would be.
        fs::create_directories(blocker / "inside");
        defaults.set("activationCount", std::int64_t{1});
        loop.advance(Seconds(100));
        ASSERT_TRUE(defaults.hasUnsavedChanges());
        loop.advance(Seconds(FileDefaults::maximumRetryDelay / 2));
        fs::remove_all(blocker);
        const auto before = defaults.writeCount();
        defaults.set("activationCount", std::int64_t{2});
        loop.advance(Seconds(1.0));
        EXPECT_EQ(defaults.writeCount(), before + 1);
        EXPECT_FALSE(defaults.hasUnsavedChanges()) << "within the delay of a first change";

        // Failing again, and quitting before a retry could succeed.
        fs::create_directories(blocker / "inside");
        defaults.set("newAppRuleMode", "ignored");
        loop.advance(Seconds(1.0));
        EXPECT_FALSE(defaults.flush());
        EXPECT_TRUE(defaults.hasUnsavedChanges());
        fs::remove_all(blocker);
    }
    EXPECT_EQ(FileDefaults(path).string("newAppRuleMode"), "ignored") << "written at the end";

    // Written at once (no timer): a failed write is made by the next change or at the end.
    {
        FileDefaults defaults(path);
        fs::create_directories(blocker / "inside");
        defaults.set("apiEnabled", false);
        EXPECT_TRUE(defaults.hasUnsavedChanges());
        fs::remove_all(blocker);
    }
    EXPECT_EQ(FileDefaults(path).boolean("apiEnabled"), false);
}

TEST(FileDefaults, StoredRulesNestedTooDeepAreKeptAsideAndTheDefaultsUsed) {
    const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
    for (const std::string& rules : {R"({"appRules":[)" + deep + "]}",
                                     R"({"appRules":[{"bundleID":"org.gnome.Terminal","mode":)" +
                                         deep + R"(,"lockedSourceID":"xkb:de"}]})"}) {
        test::TempDir dir;
        const auto path = settingsWithRules(dir, rules);
        test::LogCapture logs;
        {
            FileDefaults defaults(path);
            RuleStore store(defaults, "lockConfiguration");
            EXPECT_TRUE(store.hasStoredConfiguration());
            EXPECT_EQ(store.load(), LockConfiguration::defaultConfiguration());
            EXPECT_TRUE(logs.contains("deeper than 64 levels"));
            // Start-up writes its configuration back; the user's value stays beside it.
            store.save(LockConfiguration::defaultConfiguration());
            EXPECT_EQ(defaults.boolean("apiEnabled"), true) << "the other settings are kept";
        }
        FileDefaults reopened(path);
        EXPECT_EQ(reopened.data("lockConfiguration.unreadable"),
                  platform::DefaultsValue::Data(rules.begin(), rules.end()));
        EXPECT_EQ(RuleStore(reopened, "lockConfiguration").load(),
                  LockConfiguration::defaultConfiguration())
            << "the next start starts too";
    }
}

TEST(FileDefaults, StoredRulesWithManyKeysInOneRuleAreReadAndLeftAsStored) {
    std::string rules = R"({"isEnabled":true,"appRules":[{)";
    for (int i = 0; i < 100'000; ++i) {
        rules += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    }
    rules += R"("bundleID":"org.gnome.Terminal","mode":"switched","lockedSourceID":"xkb:de"}]})";
    test::TempDir dir;
    const auto path = settingsWithRules(dir, rules);
    const std::string file = test::readFile(path);

    FileDefaults defaults(path);
    RuleStore store(defaults, "lockConfiguration");
    const LockConfiguration loaded = store.load();
    EXPECT_TRUE(loaded.isEnabled);
    ASSERT_EQ(loaded.appRules.size(), 1u);
    EXPECT_EQ(loaded.appRules[0],
              (AppRule{"org.gnome.Terminal", AppRuleMode::switched, InputSourceID("xkb:de")}));
    EXPECT_FALSE(defaults.value("lockConfiguration.unreadable"));
    EXPECT_FALSE(defaults.hasUnsavedChanges());
    EXPECT_EQ(test::readFile(path), file) << "reading leaves the stored bytes as they are";
    // Written back in field order, as always.
    store.save(loaded);
    const std::string written =
        R"({"isEnabled":true,"defaultAction":"lock","appRules":[{"bundleID":"org.gnome.Terminal",)"
        R"("mode":"switched","lockedSourceID":"xkb:de"}],"enhancedModeEnabled":false,)"
        R"("urlRules":[],"addressBarFocusEnabled":false,"addressBarAction":"switchOnce",)"
        R"("addressBarOutranksURLRules":true,"revertsInSecureInput":false})";
    EXPECT_EQ(defaults.data("lockConfiguration"),
              platform::DefaultsValue::Data(written.begin(), written.end()));
}

}  // namespace
}  // namespace tesvano
