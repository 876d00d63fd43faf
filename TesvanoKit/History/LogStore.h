#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Runtime/Runtime.h"
#include "TesvanoKit/History/ActivationEvent.h"
#include "TesvanoKit/History/ActivationLogEntry.h"

namespace tesvano {

// What one call changed in the log, for views that follow it live.
struct LogStoreChange {
    std::vector<ActivationLogEntry> added;
    std::size_t removed = 0;
};

// The activation log: every forced switch, kept in an SQLite database for the Log pane and
// the automation interface. Storage errors never reach callers: they are logged, a fetch
// that fails yields nothing, and a store that cannot be opened is replaced by one in memory.
// Main thread only.
class LogStore {
public:
    using ChangeHandler = std::function<void(const LogStoreChange&)>;

    static constexpr std::string_view fileName = "ActivationLog.store";
    static constexpr int schemaVersion = 1;

    // Entries kept while the store cannot be written; older ones beyond it are dropped.
    static constexpr std::size_t maximumBacklog = 1000;
    // With a runtime, the entries recorded within this many seconds of the first unsaved one
    // are saved together: one transaction, a fraction of the journal each would take alone.
    static constexpr double batchDelay = 1.0;
    // Seconds between tries to save the backlog, doubling up to the maximum.
    static constexpr double initialRetryDelay = 1.0;
    static constexpr double maximumRetryDelay = 60.0;

    // With `inMemory` nothing touches the disk. Otherwise the store is `fileName` inside
    // `folder` (created when missing), by default inside defaultFolder(); a file there that is
    // no database is moved aside and a new one made. With a runtime, entries are saved in
    // batches and a store that fails is tried again on a timer; without one, each entry is
    // saved at once and a failed save is tried again with the next record.
    explicit LogStore(bool inMemory = false,
                      std::optional<std::filesystem::path> folder = std::nullopt,
                      platform::Runtime* runtime = nullptr);
    ~LogStore();
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;

    // $XDG_DATA_HOME (else ~/.local/share) joined with "Tesvano", or with the program's
    // identifier when it runs under one other than its own.
    static std::filesystem::path defaultFolder(
        std::optional<std::string_view> appId = std::nullopt);

    // Adds the event. Until it is saved (a batch later, or after a failure, with the next
    // successful try) it waits in a bounded backlog and is still returned by recentEntries.
    void record(const ActivationEvent& event, std::optional<std::string> applicationName);

    // Deletes every entry older than now - maximumAge; one exactly that old is kept.
    void purgeExpired(platform::WallTime now, platform::Seconds maximumAge);

    // Entries strictly newer than now - within, newest first, at most `limit` of them.
    std::vector<ActivationLogEntry> recentEntries(platform::WallTime now,
                                                  std::optional<std::int64_t> limit,
                                                  platform::Seconds within) const;

    // The handler runs after each call that added or removed entries, until the
    // registration is dropped.
    platform::Registration observeChanges(ChangeHandler handler);

    // The database file, or none when the log is kept in memory only.
    const std::optional<std::filesystem::path>& filePath() const { return filePath_; }

private:
    class Database;

    void notify(const LogStoreChange& change);
    bool saveBacklog();
    void scheduleSave(double delay);
    static std::optional<std::filesystem::path> moveAside(const std::filesystem::path& file);

    std::unique_ptr<Database> database_;
    std::optional<std::filesystem::path> filePath_;
    platform::Runtime* runtime_ = nullptr;
    // Entries not saved yet, oldest first.
    std::vector<ActivationLogEntry> backlog_;
    std::size_t dropped_ = 0;
    bool failing_ = false;
    double retryDelay_ = initialRetryDelay;
    platform::Registration saveTask_;
    ActivationLogEntry lastSaved_;
    std::vector<std::pair<std::shared_ptr<platform::Registration::State>, ChangeHandler>>
        observers_;
};

}  // namespace tesvano
