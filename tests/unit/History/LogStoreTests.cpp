#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "TesvanoKit/History/LogStore.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using platform::Seconds;
using platform::WallTime;
namespace fs = std::filesystem;

const WallTime kNow = WallTime(Seconds(1'700'000'000.25));
constexpr Seconds kDay{86400};

ActivationEvent eventAt(WallTime time, std::string source = "xkb:us") {
    ActivationEvent e;
    e.timestamp = time;
    e.inputSource = InputSourceID(source);
    e.inputSourceName = "English (US)";
    e.reason = ActivationReason::appActivated;
    e.durationMs = 12.345;
    return e;
}

std::vector<std::string> sources(const std::vector<ActivationLogEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) {
        out.push_back(e.inputSourceID);
    }
    return out;
}

// Runs SQL on the store file through a connection of its own, as another process would.
void executeOn(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(LogStore, PurgeAndRecentEntriesHonourTheExactBoundaries) {
    LogStore store(true);
    store.record(eventAt(kNow - kDay, "exactly-a-day"), std::nullopt);
    store.record(eventAt(kNow - Seconds(86400.001), "a-day-and-a-millisecond"), std::nullopt);
    store.record(eventAt(kNow - Seconds(86399.999), "just-inside"), std::nullopt);

    // The window is open at its old end: exactly a day old is already outside.
    EXPECT_EQ(sources(store.recentEntries(kNow, std::nullopt, kDay)),
              std::vector<std::string>{"just-inside"});

    store.purgeExpired(kNow, kDay);
    EXPECT_EQ(sources(store.recentEntries(kNow, std::nullopt, Seconds(1e9))),
              (std::vector<std::string>{"just-inside", "exactly-a-day"}));
}

TEST(LogStore, EntriesSurviveReopeningAndKeepEveryField) {
    test::TempDir dir;
    ActivationEvent full = eventAt(kNow - Seconds(5), "xkb:de");
    full.reason = ActivationReason::urlMatched;
    full.fromSourceName = "English (US)";
    full.triggeringAppId = "org.mozilla.firefox";
    full.ruleSource = RuleSource::urlRule;
    full.matchedHost = "";  // present but empty is not absent
    ActivationEvent bare = eventAt(kNow - Seconds(1), "xkb:ru");
    bare.durationMs = std::nan("");
    {
        LogStore store(false, dir.path());
        EXPECT_EQ(store.filePath(), dir / "ActivationLog.store");
        store.record(full, "Firefox");
        store.record(bare, std::nullopt);
    }
    LogStore reopened(false, dir.path());
    const auto entries = reopened.recentEntries(kNow, std::nullopt, kDay);
    ASSERT_EQ(entries.size(), 2u);

    ActivationLogEntry expected(full, "Firefox");
    expected.id = entries[1].id;
    EXPECT_NE(expected.id, 0);
    EXPECT_EQ(entries[1], expected);
    EXPECT_EQ(entries[1].reason(), ActivationReason::urlMatched);
    EXPECT_EQ(entries[1].ruleSource(), RuleSource::urlRule);

    EXPECT_EQ(entries[0].inputSourceID, "xkb:ru");
    EXPECT_TRUE(std::isnan(entries[0].durationMs));
    EXPECT_EQ(entries[0].ruleSourceRaw, std::nullopt);
    EXPECT_EQ(entries[0].triggeringAppName, std::nullopt);
    EXPECT_EQ(entries[0].matchedHost, std::nullopt);
}

TEST(LogStore, LimitKeepsTheNewestAndUnknownStoredWordsReadAsNone) {
    test::TempDir dir;
    {
        LogStore store(false, dir.path());
        for (int i = 0; i < 250; ++i) {
            store.record(eventAt(kNow - Seconds(1000 - i), "s" + std::to_string(i)), std::nullopt);
        }
    }
    executeOn(dir / "ActivationLog.store",
              "INSERT INTO activation_log (timestamp, input_source_id, input_source_name, "
              "reason, duration_ms, rule_source) VALUES (" +
                  std::to_string(kNow.time_since_epoch().count() - 2000) +
                  ", 'xkb:fr', 'French', 'renamedReason', 1.0, 'someFutureRule')");

    LogStore store(false, dir.path());
    const auto limited = store.recentEntries(kNow, 200, kDay);
    ASSERT_EQ(limited.size(), 200u);
    EXPECT_EQ(limited.front().inputSourceID, "s249");
    EXPECT_EQ(limited.back().inputSourceID, "s50");
    EXPECT_TRUE(std::is_sorted(limited.begin(), limited.end(), [](const auto& a, const auto& b) {
        return a.timestamp > b.timestamp;
    }));
    EXPECT_TRUE(store.recentEntries(kNow, 0, kDay).empty());

    const auto all = store.recentEntries(kNow, std::nullopt, kDay);
    ASSERT_EQ(all.size(), 251u);
    EXPECT_EQ(all.back().reasonRaw, "renamedReason");
    EXPECT_EQ(all.back().reason(), std::nullopt);
    EXPECT_EQ(all.back().ruleSource(), std::nullopt);
}

TEST(LogStore, AStoreThatCannotBeOpenedKeepsTheLogInMemory) {
    test::LogCapture capture;
    test::TempDir dir;
    // The store path is a folder; a folder that cannot be created (its parent is a file);
    // a store written by a newer version. (A file that is no database is set aside instead.)
    fs::create_directories(dir / "folder" / "ActivationLog.store");
    test::writeFile(dir / "file", "x");
    const auto future = dir / "future";
    { LogStore store(false, future); }
    executeOn(future / "ActivationLog.store", "PRAGMA user_version = 99");

    for (const fs::path& folder : {dir / "folder", dir / "file" / "sub", future}) {
        SCOPED_TRACE(folder.string());
        EXPECT_NO_THROW({
            LogStore store(false, folder);
            EXPECT_EQ(store.filePath(), std::nullopt);
            store.record(eventAt(kNow), std::nullopt);
            store.purgeExpired(kNow, kDay);
            EXPECT_EQ(store.recentEntries(kNow, std::nullopt, kDay).size(), 1u);
        });
    }
    EXPECT_TRUE(capture.contains("Cannot open the activation log"));
    // Nothing that was there is touched.
    EXPECT_TRUE(fs::is_directory(dir / "folder" / "ActivationLog.store"));
}

TEST(LogStore, AnUnwritableFolderKeepsTheLogInMemory) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    test::TempDir dir;
    fs::create_directories(dir / "locked");
    ::chmod((dir / "locked").c_str(), 0500);
    {
        LogStore store(false, dir / "locked");
        EXPECT_EQ(store.filePath(), std::nullopt);
        store.record(eventAt(kNow), std::nullopt);
        EXPECT_EQ(store.recentEntries(kNow, std::nullopt, kDay).size(), 1u);
    }
    ::chmod((dir / "locked").c_str(), 0700);
}

TEST(LogStore, AFailedSaveKeepsTheEntryAndSavesItWithTheNextRecord) {
    test::LogCapture capture;
    test::TempDir dir;
    const auto file = dir / "ActivationLog.store";
    LogStore store(false, dir.path());
    store.record(eventAt(kNow - Seconds(3), "first"), std::nullopt);

    executeOn(file,
              "CREATE TRIGGER refuse BEFORE INSERT ON activation_log "
              "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
    store.record(eventAt(kNow - Seconds(2), "second"), std::nullopt);
    EXPECT_TRUE(capture.contains("Failed to save activation log entry: database or disk is full"));
    auto entries = store.recentEntries(kNow, std::nullopt, kDay);
    EXPECT_EQ(sources(entries), (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(entries[0].id, 0);

    executeOn(file, "DROP TRIGGER refuse");
    store.record(eventAt(kNow - Seconds(1), "third"), std::nullopt);
    LogStore reopened(false, dir.path());
    EXPECT_EQ(sources(reopened.recentEntries(kNow, std::nullopt, kDay)),
              (std::vector<std::string>{"third", "second", "first"}));
}

TEST(LogStore, DefaultFolderFollowsXdgDataHomeAndTheIdentifier) {
    test::TempDir dir;
    ScopedEnv env("XDG_DATA_HOME", dir.path().string());
    EXPECT_EQ(LogStore::defaultFolder(), dir / "Tesvano");
    EXPECT_EQ(LogStore::defaultFolder("com.quorvel.Tesvano"), dir / "Tesvano");
    EXPECT_EQ(LogStore::defaultFolder("org.example.Other"), dir / "org.example.Other");
    EXPECT_EQ(LogStore::defaultFolder("../escape"), dir / "Tesvano");
    EXPECT_EQ(LogStore::defaultFolder(".."), dir / "Tesvano");
    {
        LogStore store;
        EXPECT_EQ(store.filePath(), dir / "Tesvano" / "ActivationLog.store");
    }
    struct stat st {};
    ASSERT_EQ(::stat((dir / "Tesvano").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ScopedEnv relative("XDG_DATA_HOME", "relative/path");
    ScopedEnv home("HOME", dir.path().string());
    EXPECT_EQ(LogStore::defaultFolder(), dir / ".local" / "share" / "Tesvano");
}

TEST(LogStore, ObserversHearOfAdditionsAndRemovalsUntilTheyLetGo) {
    LogStore store(true);
    std::vector<LogStoreChange> seen;
    auto registration =
        store.observeChanges([&](const LogStoreChange& change) { seen.push_back(change); });
    // One that lets go of itself from inside its handler.
    int selfCancelling = 0;
    platform::Registration once;
    once = store.observeChanges([&](const LogStoreChange&) {
        ++selfCancelling;
        once.cancel();
    });

    store.record(eventAt(kNow - Seconds(90000), "old"), "App");
    store.record(eventAt(kNow, "new"), std::nullopt);
    store.purgeExpired(kNow, kDay);
    store.purgeExpired(kNow, kDay);  // nothing left to remove: no news

    ASSERT_EQ(seen.size(), 3u);
    ASSERT_EQ(seen[0].added.size(), 1u);
    EXPECT_EQ(seen[0].added[0].inputSourceID, "old");
    EXPECT_EQ(seen[0].added[0].triggeringAppName, "App");
    EXPECT_NE(seen[0].added[0].id, 0);
    EXPECT_EQ(seen[2].added.size(), 0u);
    EXPECT_EQ(seen[2].removed, 1u);
    EXPECT_EQ(selfCancelling, 1);

    registration.cancel();
    store.record(eventAt(kNow), std::nullopt);
    EXPECT_EQ(seen.size(), 3u);
}

}  // namespace
}  // namespace tesvano
