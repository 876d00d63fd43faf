// The activation log when its disk fails: a full disk, another process holding the write
// lock, a file that is no database, a store of a newer version.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>

#include "Platform/Runtime/ManualRunLoop.h"
#include "TesvanoKit/History/LogStore.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using platform::Seconds;
using platform::WallTime;
namespace fs = std::filesystem;

const WallTime kStart = WallTime(Seconds(1'800'000'000.0));
constexpr Seconds kForever{1e7};

ActivationEvent eventNumber(int i) {
    ActivationEvent e;
    e.timestamp = kStart + Seconds(i);
    e.inputSource = InputSourceID("xkb:de");
    e.inputSourceName = "German";
    e.reason = ActivationReason::appActivated;
    return e;
}

std::size_t entriesOnDisk(const fs::path& folder) {
    return LogStore(false, folder).recentEntries(kStart + kForever, std::nullopt, kForever).size();
}

// Writes past `room` bytes of a file fail, as on a full disk, until it goes out of scope.
class FullDisk {
public:
    explicit FullDisk(rlim_t room = 1) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit full = saved_;
        full.rlim_cur = room;
        ::setrlimit(RLIMIT_FSIZE, &full);
    }
    ~FullDisk() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

// Holds SQLite's write lock from another connection, as another process would.
class WriteLockHolder {
public:
    explicit WriteLockHolder(const fs::path& file) {
        sqlite3_open(file.c_str(), &db_);
        sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    }
    ~WriteLockHolder() {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }

private:
    sqlite3* db_ = nullptr;
};

TEST(LogStoreFailure, WhileTheStoreFailsEntriesWaitInABoundedBacklogForATimedRetry) {
    struct Case {
        const char* name;
        int records;
    };
    for (const Case c : {Case{"full disk", 1500}, Case{"write lock held", 1500}}) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        platform::ManualRunLoop loop;
        test::LogCapture logs;
        LogStore store(false, dir.path(), &loop);
        {
            std::optional<FullDisk> full;
            std::optional<WriteLockHolder> lock;
            if (std::string_view(c.name) == "full disk") {
                full.emplace();
            } else {
                lock.emplace(dir.path() / std::string(LogStore::fileName));
            }
            for (int i = 1; i <= c.records; ++i) {
                store.record(eventNumber(i), std::nullopt);
            }
            loop.advance(Seconds(LogStore::batchDelay));
        }
        const auto failures = std::ranges::count_if(logs.sink().records, [](const auto& r) {
            return r.message.starts_with("Failed to save activation log entry");
        });
        EXPECT_EQ(failures, 1) << "one report per outage, not one per entry";
        const auto shown = store.recentEntries(kStart + kForever, std::nullopt, kForever);
        ASSERT_EQ(shown.size(), LogStore::maximumBacklog);
        EXPECT_EQ(shown.front().timestamp, kStart + Seconds(c.records)) << "the newest are kept";

        EXPECT_EQ(entriesOnDisk(dir.path()), 0u) << "nothing saved before the retry";
        loop.advance(Seconds(LogStore::initialRetryDelay));
        EXPECT_EQ(entriesOnDisk(dir.path()), LogStore::maximumBacklog);
        EXPECT_TRUE(logs.contains("500 activation log entries were dropped"));
    }
}

TEST(LogStoreFailure, AJournalThatFillsTheDiskIsCheckpointedAndSavingGoesOn) {
    test::TempDir dir;
    platform::ManualRunLoop loop;
    test::LogCapture logs;
    LogStore store(false, dir.path(), &loop);
    {
        // Room for a few dozen saves' journal, far less than the journal grows to between
        // checkpoints of its own.
        FullDisk full(160 * 1024);
        for (int i = 1; i <= 300; ++i) {
            store.record(eventNumber(i), "Text Editor");
            loop.advance(Seconds(LogStore::batchDelay));
        }
    }
    EXPECT_FALSE(logs.contains("Failed to save")) << "the journal made room for every save";
    EXPECT_EQ(entriesOnDisk(dir.path()), 300u);
}

TEST(LogStoreFailure, AFileThatIsNoDatabaseOrADamagedOneIsSetAsideAndAFreshStoreMade) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> plant;
    };
    const std::vector<Case> cases{
        {"no database",
         [](const fs::path& file) { test::writeFile(file, std::string(4096, 'g')); }},
        {"truncated",
         [](const fs::path& file) {
             {
                 LogStore store(false, file.parent_path());
                 for (int i = 0; i < 3000; ++i) {
                     store.record(eventNumber(i), std::string(100, 'a'));
                 }
             }
             fs::resize_file(file, fs::file_size(file) / 2);
         }},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const auto file = dir.path() / std::string(LogStore::fileName);
        c.plant(file);
        const std::string damaged = test::readFile(file);
        test::LogCapture logs;
        {
            LogStore store(false, dir.path());
            ASSERT_EQ(store.filePath(), file) << c.name;
            store.record(eventNumber(1), std::nullopt);
        }
        EXPECT_EQ(entriesOnDisk(dir.path()), 1u) << c.name;
        EXPECT_TRUE(logs.contains("not a database")) << c.name;
        int kept = 0;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            if (entry.path().filename().string().starts_with("ActivationLog.store.corrupt-") &&
                !entry.path().filename().string().ends_with("-wal") &&
                !entry.path().filename().string().ends_with("-shm")) {
                EXPECT_EQ(test::readFile(entry.path()), damaged) << c.name;
                ++kept;
            }
        }
        EXPECT_EQ(kept, 1) << c.name;
    }
}

TEST(LogStoreFailure, AStoreOfANewerVersionIsNotModifiedAtAll) {
    test::TempDir dir;
    const auto file = dir.path() / std::string(LogStore::fileName);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE future (x); PRAGMA user_version = 7;", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
    const std::string before = test::readFile(file);

    {
        LogStore store(false, dir.path());
        EXPECT_EQ(store.filePath(), std::nullopt);
    }
    EXPECT_EQ(test::readFile(file), before);
    EXPECT_FALSE(fs::exists(dir / "ActivationLog.store-wal"));
}

}  // namespace
}  // namespace tesvano
