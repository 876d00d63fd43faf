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

    // With `inMemory` nothing touches the disk. Otherwise the store is `fileName` inside
    // `folder` (created when missing), by default inside defaultFolder().
    explicit LogStore(bool inMemory = false,
                      std::optional<std::filesystem::path> folder = std::nullopt);
    ~LogStore();
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;

    // $XDG_DATA_HOME (else ~/.local/share) joined with "Tesvano", or with the program's
    // identifier when it runs under one other than its own.
    static std::filesystem::path defaultFolder(
        std::optional<std::string_view> bundleIdentifier = std::nullopt);

    // Adds the event. When saving fails the entry stays in memory, is still returned by
    // recentEntries and is saved again with the next record.
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

    std::unique_ptr<Database> database_;
    std::optional<std::filesystem::path> filePath_;
    // Entries whose save failed, oldest first; tried again with the next record.
    std::vector<ActivationLogEntry> unsaved_;
    std::vector<std::pair<std::shared_ptr<platform::Registration::State>, ChangeHandler>>
        observers_;
};

}  // namespace tesvano
