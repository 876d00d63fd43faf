#include "TesvanoKit/History/LogStore.h"

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <ranges>

#include "Platform/Log/Log.h"

namespace tesvano {

namespace fs = std::filesystem;
using platform::Seconds;
using platform::WallTime;

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("LogStore");
    return logger;
}

// The program's own identifier: running under it, the folder keeps its plain name.
constexpr std::string_view kOwnIdentifier = "com.quorvel.Tesvano";
constexpr std::string_view kFolderName = "Tesvano";

// Each step brings the schema from version i to i + 1; a released step never changes.
// An event's triggeringAppId is the column triggering_bundle_id.
constexpr std::array<std::string_view, LogStore::schemaVersion> kMigrations = {
    R"sql(
    CREATE TABLE activation_log (
        id INTEGER PRIMARY KEY,
        timestamp REAL NOT NULL,
        input_source_id TEXT NOT NULL,
        input_source_name TEXT NOT NULL,
        reason TEXT NOT NULL,
        duration_ms REAL,
        from_source_name TEXT,
        triggering_bundle_id TEXT,
        triggering_app_name TEXT,
        rule_source TEXT,
        matched_host TEXT
    );
    CREATE INDEX activation_log_timestamp ON activation_log (timestamp);
    )sql",
};

constexpr const char* kInsertSQL =
    "INSERT INTO activation_log (timestamp, input_source_id, input_source_name, reason, "
    "duration_ms, from_source_name, triggering_bundle_id, triggering_app_name, rule_source, "
    "matched_host) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)";
// Lets a fetch size its result once instead of moving every entry as it grows.
constexpr const char* kCountSQL =
    "SELECT count(*) FROM (SELECT 1 FROM activation_log WHERE timestamp > ?1 LIMIT ?2)";
constexpr const char* kPurgeSQL = "DELETE FROM activation_log WHERE timestamp < ?1";
// Ties on the timestamp go to the entry recorded last.
constexpr const char* kRecentSQL =
    "SELECT id, timestamp, input_source_id, input_source_name, reason, duration_ms, "
    "from_source_name, triggering_bundle_id, triggering_app_name, rule_source, matched_host "
    "FROM activation_log WHERE timestamp > ?1 ORDER BY timestamp DESC, id DESC LIMIT ?2";

// Another process holding the write lock must never stall the main thread: a busy store
// fails at once, and the entry waits in the backlog for the next retry.
constexpr int kBusyTimeoutMs = 0;

fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return home;
    }
    std::array<char, 4096> buffer{};
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    return fs::temp_directory_path();
}

// A usable folder name: an identifier with a slash or a dot-name would leave the data home.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// Missing folders are made private to the user, as the XDG base-directory rules ask; the
// log names the applications and sites the user visits.
void createFolder(const fs::path& folder) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) {
        return;
    }
    fs::path current;
    for (const auto& part : folder) {
        current /= part;
        if (!fs::exists(current, ec)) {
            ::mkdir(current.c_str(), 0700);
        }
    }
}

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// Leaves a kept statement ready for its next use however the current one ends.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
    ~StatementUse() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

private:
    sqlite3_stmt* statement_;
};

double seconds(WallTime time) {
    return time.time_since_epoch().count();
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

void bindText(sqlite3_stmt* statement, int index, const std::optional<std::string>& text) {
    if (text) {
        bindText(statement, index, *text);
    } else {
        sqlite3_bind_null(statement, index);
    }
}

std::optional<std::string> columnText(sqlite3_stmt* statement, int index) {
    if (sqlite3_column_type(statement, index) == SQLITE_NULL) {
        return std::nullopt;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    const int size = sqlite3_column_bytes(statement, index);
    return text == nullptr ? std::string() : std::string(text, static_cast<std::size_t>(size));
}

ActivationLogEntry readEntry(sqlite3_stmt* statement) {
    ActivationLogEntry entry;
    entry.id = sqlite3_column_int64(statement, 0);
    entry.timestamp = WallTime(Seconds(sqlite3_column_double(statement, 1)));
    entry.inputSourceID = columnText(statement, 2).value_or("");
    entry.inputSourceName = columnText(statement, 3).value_or("");
    entry.reasonRaw = columnText(statement, 4).value_or("");
    // SQLite keeps a NaN as NULL.
    entry.durationMs = sqlite3_column_type(statement, 5) == SQLITE_NULL
                           ? std::numeric_limits<double>::quiet_NaN()
                           : sqlite3_column_double(statement, 5);
    entry.fromSourceName = columnText(statement, 6);
    entry.triggeringAppId = columnText(statement, 7);
    entry.triggeringAppName = columnText(statement, 8);
    entry.ruleSourceRaw = columnText(statement, 9);
    entry.matchedHost = columnText(statement, 10);
    return entry;
}

// Newest first; among equal times the one recorded last, and unsaved entries (recorded
// after every saved one) before saved ones.
bool newerFirst(const ActivationLogEntry& a, const ActivationLogEntry& b) {
    if (a.timestamp != b.timestamp) {
        return a.timestamp > b.timestamp;
    }
    if ((a.id == 0) != (b.id == 0)) {
        return a.id == 0;
    }
    return a.id > b.id;
}

}  // namespace

// One open connection with its statements, prepared once and reused.
class LogStore::Database {
public:
    // Returns none and describes the problem in `error` when the database cannot be used.
    // `damaged` tells a file that is no SQLite database at all or a damaged one (truncated,
    // overwritten: "database disk image is malformed").
    static std::unique_ptr<Database> open(const std::string& location, std::string& error,
                                          bool* damaged = nullptr);

    ~Database() {
        statements_ = {};
        sqlite3_close_v2(db_);
    }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    std::string lastError() const { return sqlite3_errmsg(db_); }
    // Whether the last failed save failed for want of room (a full disk or quota).
    bool failedForSpace() const { return failedForSpace_; }
    // Moves the journal into the database and cuts it to nothing.
    bool checkpoint(std::string& error) {
        return execute("PRAGMA wal_checkpoint(TRUNCATE)", error);
    }

    // Saves the entries in one transaction and gives them their ids; all or none.
    bool insert(std::vector<ActivationLogEntry*>& entries, std::string& error);
    std::optional<std::size_t> purge(double cutoff, std::string& error);
    bool recent(double cutoff, std::int64_t limit, std::vector<ActivationLogEntry>& out,
                std::string& error);

private:
    explicit Database(sqlite3* db) : db_(db) {}

    bool execute(const char* sql, std::string& error);
    std::optional<std::int64_t> version(std::string& error);
    bool migrate(std::int64_t current, std::string& error);
    bool prepare(const char* sql, Statement& statement, std::string& error);
    bool step(sqlite3_stmt* statement, std::string& error);

    sqlite3* db_;
    bool failedForSpace_ = false;
    struct Statements {
        Statement begin, commit, rollback, insert, purge, count, recent;
    } statements_;
};

std::unique_ptr<LogStore::Database> LogStore::Database::open(const std::string& location,
                                                             std::string& error, bool* damaged) {
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open_v2(location.c_str(), &handle,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (handle == nullptr) {
        error = sqlite3_errstr(rc);
        return nullptr;
    }
    std::unique_ptr<Database> database(new Database(handle));
    if (rc != SQLITE_OK) {
        error = database->lastError();
        return nullptr;
    }
    // SQLite opens a write-protected file for reading only; a log must be able to write.
    if (sqlite3_db_readonly(handle, "main") == 1) {
        error = "the store file is read-only";
        return nullptr;
    }
    sqlite3_busy_timeout(handle, kBusyTimeoutMs);
    // The version first: a newer program's store is left exactly as it is, journal mode and
    // all.
    const auto failed = [&]() -> std::unique_ptr<Database> {
        const int code = sqlite3_errcode(handle);
        if (damaged != nullptr) {
            *damaged = code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
        }
        return nullptr;
    };
    const auto current = database->version(error);
    if (!current) {
        return failed();
    }
    if (*current < 0 || *current > schemaVersion) {
        error = "the store has schema version " + std::to_string(*current) +
                ", newer than this program's " + std::to_string(schemaVersion);
        return nullptr;
    }
    // WAL keeps readers and the writer apart; NORMAL syncs at checkpoints only, which may
    // lose the last entries on power loss but never corrupts the file.
    // The journal is moved into the database every 32 pages (128 KiB of 4 KiB pages, leaving
    // room for the batch that crosses it) and cut back to 256 KiB after,
    // so that it never holds megabytes of a small disk.
    if (!database->execute("PRAGMA journal_mode = WAL", error) ||
        !database->execute("PRAGMA synchronous = NORMAL", error) ||
        !database->execute("PRAGMA wal_autocheckpoint = 32", error) ||
        !database->execute("PRAGMA journal_size_limit = 262144", error) ||
        !database->migrate(*current, error)) {
        return failed();
    }
    auto& s = database->statements_;
    if (!database->prepare("BEGIN IMMEDIATE", s.begin, error) ||
        !database->prepare("COMMIT", s.commit, error) ||
        !database->prepare("ROLLBACK", s.rollback, error) ||
        !database->prepare(kInsertSQL, s.insert, error) ||
        !database->prepare(kPurgeSQL, s.purge, error) ||
        !database->prepare(kCountSQL, s.count, error) ||
        !database->prepare(kRecentSQL, s.recent, error)) {
        return failed();
    }
    return database;
}

bool LogStore::Database::execute(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error = message != nullptr ? message : lastError();
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool LogStore::Database::prepare(const char* sql, Statement& statement, std::string& error) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK) {
        error = lastError();
        sqlite3_finalize(raw);
        return false;
    }
    statement.reset(raw);
    return true;
}

bool LogStore::Database::step(sqlite3_stmt* statement, std::string& error) {
    StatementUse use(statement);
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        error = lastError();
        return false;
    }
    return true;
}

std::optional<std::int64_t> LogStore::Database::version(std::string& error) {
    Statement statement;
    if (!prepare("PRAGMA user_version", statement, error)) {
        return std::nullopt;
    }
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
        error = lastError();
        return std::nullopt;
    }
    return sqlite3_column_int64(statement.get(), 0);
}

bool LogStore::Database::migrate(std::int64_t current, std::string& error) {
    if (current == schemaVersion) {
        return true;
    }
    if (!execute("BEGIN IMMEDIATE", error)) {
        return false;
    }
    for (auto step = static_cast<std::size_t>(current); step < kMigrations.size(); ++step) {
        if (!execute(std::string(kMigrations[step]).c_str(), error)) {
            std::string ignored;
            execute("ROLLBACK", ignored);
            return false;
        }
    }
    const std::string setVersion = "PRAGMA user_version = " + std::to_string(schemaVersion);
    if (!execute(setVersion.c_str(), error) || !execute("COMMIT", error)) {
        std::string ignored;
        execute("ROLLBACK", ignored);
        return false;
    }
    return true;
}

bool LogStore::Database::insert(std::vector<ActivationLogEntry*>& entries, std::string& error) {
    const auto failed = [this] {
        const int code = sqlite3_errcode(db_);
        failedForSpace_ = code == SQLITE_FULL || code == SQLITE_IOERR;
    };
    failedForSpace_ = false;
    if (!step(statements_.begin.get(), error)) {
        failed();
        return false;
    }
    std::vector<std::int64_t> ids;
    ids.reserve(entries.size());
    bool ok = true;
    sqlite3_stmt* s = statements_.insert.get();
    for (const ActivationLogEntry* e : entries) {
        StatementUse use(s);
        sqlite3_bind_double(s, 1, seconds(e->timestamp));
        bindText(s, 2, e->inputSourceID);
        bindText(s, 3, e->inputSourceName);
        bindText(s, 4, e->reasonRaw);
        sqlite3_bind_double(s, 5, e->durationMs);
        bindText(s, 6, e->fromSourceName);
        bindText(s, 7, e->triggeringAppId);
        bindText(s, 8, e->triggeringAppName);
        bindText(s, 9, e->ruleSourceRaw);
        bindText(s, 10, e->matchedHost);
        if (sqlite3_step(s) != SQLITE_DONE) {
            error = lastError();
            ok = false;
            break;
        }
        ids.push_back(sqlite3_last_insert_rowid(db_));
    }
    if (ok && step(statements_.commit.get(), error)) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i]->id = ids[i];
        }
        return true;
    }
    failed();
    // A failed COMMIT leaves the transaction open.
    std::string ignored;
    if (sqlite3_get_autocommit(db_) == 0) {
        step(statements_.rollback.get(), ignored);
    }
    return false;
}

std::optional<std::size_t> LogStore::Database::purge(double cutoff, std::string& error) {
    sqlite3_stmt* s = statements_.purge.get();
    StatementUse use(s);
    sqlite3_bind_double(s, 1, cutoff);
    if (sqlite3_step(s) != SQLITE_DONE) {
        error = lastError();
        return std::nullopt;
    }
    return static_cast<std::size_t>(sqlite3_changes64(db_));
}

bool LogStore::Database::recent(double cutoff, std::int64_t limit,
                                std::vector<ActivationLogEntry>& out, std::string& error) {
    {
        sqlite3_stmt* c = statements_.count.get();
        StatementUse use(c);
        sqlite3_bind_double(c, 1, cutoff);
        sqlite3_bind_int64(c, 2, limit);
        if (sqlite3_step(c) != SQLITE_ROW) {
            error = lastError();
            return false;
        }
        const auto count = sqlite3_column_int64(c, 0);
        out.reserve(static_cast<std::size_t>(count));
    }
    sqlite3_stmt* s = statements_.recent.get();
    StatementUse use(s);
    sqlite3_bind_double(s, 1, cutoff);
    sqlite3_bind_int64(s, 2, limit);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        out.push_back(readEntry(s));
    }
    if (rc != SQLITE_DONE) {
        error = lastError();
        out.clear();
        return false;
    }
    return true;
}

LogStore::LogStore(bool inMemory, std::optional<fs::path> folder, platform::Runtime* runtime)
    : runtime_(runtime) {
    std::string error;
    if (!inMemory) {
        const fs::path directory = folder ? *folder : defaultFolder();
        createFolder(directory);
        const fs::path file = directory / fileName;
        bool damaged = false;
        database_ = Database::open(file.string(), error, &damaged);
        // A damaged file would otherwise cost the log at every start: keep it and begin anew.
        if (!database_ && damaged) {
            database_.reset();
            if (auto kept = moveAside(file)) {
                log().error(
                    "The activation log at %{public}s is damaged or not a database (%{public}s); "
                    "kept it as %{public}s and started a new one",
                    file.string(), error, kept->string());
                database_ = Database::open(file.string(), error);
            }
        }
        if (database_) {
            filePath_ = file;
            return;
        }
        log().error(
            "Cannot open the activation log at %{public}s (%{public}s); keeping it in "
            "memory until the program quits",
            file.string(), error);
    }
    database_ = Database::open(":memory:", error);
    if (!database_) {
        // Entries then live only in the backlog, which is just as long-lived.
        log().error("Cannot create an in-memory activation log either (%{public}s)", error);
    }
}

std::optional<fs::path> LogStore::moveAside(const fs::path& file) {
    const auto stamp = std::to_string(static_cast<long long>(std::time(nullptr)));
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path target = file;
        target += ".corrupt-" + stamp + (attempt > 0 ? "-" + std::to_string(attempt) : "");
        std::error_code ec;
        if (fs::exists(fs::symlink_status(target, ec))) {
            continue;
        }
        if (::rename(file.c_str(), target.c_str()) != 0) {
            return std::nullopt;
        }
        // Journals of the damaged file belong with it, never with the new one.
        for (const char* journal : {"-wal", "-shm", "-journal"}) {
            fs::path from = file;
            from += journal;
            fs::path to = target;
            to += journal;
            if (fs::exists(fs::symlink_status(from, ec))) {
                ::rename(from.c_str(), to.c_str());
            }
        }
        return target;
    }
    return std::nullopt;
}

LogStore::~LogStore() {
    saveTask_.cancel();
    // A last try, so that a store that came back keeps what waited.
    if (!backlog_.empty() && database_) {
        saveBacklog();
    }
}

fs::path LogStore::defaultFolder(std::optional<std::string_view> appId) {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        base = homeFolder() / ".local" / "share";
    }
    const bool ownName = !appId || *appId == kOwnIdentifier || !isPlainName(*appId);
    return base / (ownName ? kFolderName : *appId);
}

void LogStore::record(const ActivationEvent& event, std::optional<std::string> applicationName) {
    if (!std::isfinite(seconds(event.timestamp))) {
        // Such an entry could never be purged or placed in time.
        log().error("Failed to save activation log entry: %{public}s",
                    "the timestamp is not a finite time");
        return;
    }
    backlog_.emplace_back(event, std::move(applicationName));
    if (backlog_.size() > maximumBacklog) {
        // The newest entries say most; the count says what is missing.
        const std::size_t excess = backlog_.size() - maximumBacklog;
        backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(excess));
        dropped_ += excess;
    }
    // While a save is pending (a batch, or a retry of a store known to fail) the entry waits
    // for it.
    if (database_ && runtime_ != nullptr) {
        if (!saveTask_.active()) {
            scheduleSave(batchDelay);
        }
    } else if (database_) {
        LogStoreChange change;
        change.added.push_back(backlog_.back());
        if (saveBacklog()) {
            change.added.back() = lastSaved_;
            notify(change);
            return;
        }
    }
    notify(LogStoreChange{{backlog_.back()}, 0});
}

bool LogStore::saveBacklog() {
    std::vector<ActivationLogEntry*> batch;
    batch.reserve(backlog_.size());
    for (auto& entry : backlog_) {
        batch.push_back(&entry);
    }
    std::string error;
    bool saved = database_->insert(batch, error);
    if (!saved && database_->failedForSpace()) {
        // The journal of earlier saves may be what fills the disk: moved into the database
        // and cut short, it leaves the room this save needs.
        std::string ignored;
        saved = database_->checkpoint(ignored) && database_->insert(batch, error);
    }
    if (saved) {
        if (failing_) {
            log().notice("The activation log is saved again (%{public}s entries had waited)",
                         std::to_string(backlog_.size()));
        }
        if (dropped_ > 0) {
            log().error(
                "%{public}s activation log entries were dropped while it could not be "
                "saved",
                std::to_string(dropped_));
        }
        lastSaved_ = std::move(backlog_.back());
        backlog_.clear();
        dropped_ = 0;
        failing_ = false;
        retryDelay_ = initialRetryDelay;
        return true;
    }
    // Logged once per outage, not for every entry.
    if (!failing_) {
        log().error("Failed to save activation log entry: %{public}s", error);
    }
    failing_ = true;
    if (runtime_ != nullptr) {
        scheduleSave(retryDelay_);
        retryDelay_ = std::min(retryDelay_ * 2, maximumRetryDelay);
    }
    return false;
}

void LogStore::scheduleSave(double delay) {
    saveTask_ = runtime_->after(platform::Seconds(delay), [this] {
        saveTask_.detach();
        if (!backlog_.empty() && database_) {
            saveBacklog();
        }
    });
}

void LogStore::purgeExpired(WallTime now, Seconds maximumAge) {
    const WallTime cutoff = now - maximumAge;
    std::size_t removed = std::erase_if(
        backlog_, [cutoff](const ActivationLogEntry& e) { return e.timestamp < cutoff; });
    if (database_) {
        std::string error;
        if (auto deleted = database_->purge(seconds(cutoff), error)) {
            removed += *deleted;
        } else {
            log().error("Failed to purge expired log entries: %{public}s", error);
        }
    }
    if (removed > 0) {
        notify(LogStoreChange{{}, removed});
    }
}

std::vector<ActivationLogEntry> LogStore::recentEntries(WallTime now,
                                                        std::optional<std::int64_t> limit,
                                                        Seconds within) const {
    const WallTime cutoff = now - within;
    // SQLite reads a negative limit as "no limit".
    const std::int64_t count = limit ? std::max<std::int64_t>(*limit, 0) : -1;
    std::vector<ActivationLogEntry> entries;
    if (database_) {
        std::string error;
        if (!database_->recent(seconds(cutoff), count, entries, error)) {
            log().error("Failed to fetch activation log entries: %{public}s", error);
            return {};
        }
    }
    const auto before = entries.size();
    // Newest first, so that among unsaved entries of the same time the sort keeps the one
    // recorded last first.
    for (const auto& entry : std::views::reverse(backlog_)) {
        if (entry.timestamp > cutoff) {
            entries.push_back(entry);
        }
    }
    if (entries.size() != before) {
        std::stable_sort(entries.begin(), entries.end(), newerFirst);
        if (count >= 0 && entries.size() > static_cast<std::size_t>(count)) {
            entries.resize(static_cast<std::size_t>(count));
        }
    }
    return entries;
}

platform::Registration LogStore::observeChanges(ChangeHandler handler) {
    auto state = std::make_shared<platform::Registration::State>();
    observers_.emplace_back(state, std::move(handler));
    return platform::Registration(std::move(state));
}

void LogStore::notify(const LogStoreChange& change) {
    std::erase_if(observers_, [](const auto& o) { return o.first->cancelled; });
    // A handler may register, unregister or record; work on a snapshot.
    const auto snapshot = observers_;
    for (const auto& [state, handler] : snapshot) {
        if (!state->cancelled) {
            handler(change);
        }
    }
}

}  // namespace tesvano
