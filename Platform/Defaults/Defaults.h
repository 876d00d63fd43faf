#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Defaults/DefaultsValue.h"
#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// The user's preferences: a flat map from key to typed value.
class Defaults {
public:
    virtual ~Defaults() = default;

    virtual std::optional<DefaultsValue> value(std::string_view key) const = 0;
    virtual void set(std::string_view key, DefaultsValue value) = 0;
    virtual void remove(std::string_view key) = 0;
    virtual std::vector<std::string> keys() const = 0;

    // Typed reads. A value of another kind reads as absent, except that integers and
    // doubles convert into each other and booleans read as 0/1 numbers, as the usual
    // preference stores do for numbers.
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    std::optional<double> real(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    std::optional<DefaultsValue::Data> data(std::string_view key) const;

    // Why changes are not being kept (a write failed, or they stay in memory), while that
    // lasts; none when everything is saved or still waits for its turn.
    virtual std::optional<std::string> saveProblem() const { return std::nullopt; }
    // Writes what waits now, for a caller that must tell its user whether a change was kept;
    // the problem when it was not.
    virtual std::optional<std::string> saveNow() { return saveProblem(); }
    // Told whenever saveProblem() changes; one observer, none to stop.
    void setSaveProblemObserver(std::function<void()> observer) {
        saveProblemObserver_ = std::move(observer);
    }
    // Counts the changes made, so that a caller can tell whether an action changed anything.
    std::uint64_t changeCount() const { return changeCount_; }

protected:
    void noteChange() { ++changeCount_; }
    void noteSaveProblemChanged() {
        if (saveProblemObserver_) {
            saveProblemObserver_();
        }
    }

private:
    std::function<void()> saveProblemObserver_;
    std::uint64_t changeCount_ = 0;
};

// Kept in memory only; for tests and as the fallback when no file can be used.
class MemoryDefaults final : public Defaults {
public:
    MemoryDefaults() = default;
    explicit MemoryDefaults(std::map<std::string, DefaultsValue, std::less<>> values)
        : values_(std::move(values)) {}
    const std::map<std::string, DefaultsValue, std::less<>>& values() const { return values_; }

    std::optional<DefaultsValue> value(std::string_view key) const override;
    void set(std::string_view key, DefaultsValue value) override;
    void remove(std::string_view key) override;
    std::vector<std::string> keys() const override;

    // Makes the store say, as a failing disk would, that changes are not kept (none ends it).
    void setSaveProblem(std::optional<std::string> problem) {
        if (problem != problem_) {
            problem_ = std::move(problem);
            noteSaveProblemChanged();
        }
    }
    std::optional<std::string> saveProblem() const override { return problem_; }

private:
    std::map<std::string, DefaultsValue, std::less<>> values_;
    std::optional<std::string> problem_;
};

// The settings file's bound: far more than the program ever writes.
inline constexpr std::size_t standardMaximumSettingsSize = 16 * 1024 * 1024;

struct FileDefaultsOptions {
    // What the program's start writes back of the values it read (its rules in their current
    // form, say), so that a file is judged by what its first save writes, not by what it
    // holds: one whose values re-encode larger than a save may take is set aside at start.
    std::function<void(Defaults&)> startRewrite;
    // Lowered by tests; at least four times FileDefaults::saveHeadroom.
    std::size_t maximumFileSize = standardMaximumSettingsSize;
};

// Preferences kept in a JSON file, rewritten atomically (temporary file, fsync, rename), so a
// crash leaves either the old or the new file, never half of one. A file that cannot be
// parsed, nests too deep or is absurdly large is moved aside (never silently overwritten) and
// reported; values of a kind this program does not know are left out, with a copy of the file
// kept. Only a regular file is read and replaced. A symbolic link is written through to its
// target only while that stays in the settings folder; a link out of it, or to anything but a
// regular file, is set aside and the settings are written in its place.
class FileDefaults final : public Defaults {
public:
    // Opens (or starts) the file at `path`. Problems are logged, never thrown.
    explicit FileDefaults(std::filesystem::path path, FileDefaultsOptions options = {});
    // Writes what is still unsaved.
    ~FileDefaults() override;
    FileDefaults(const FileDefaults&) = delete;
    FileDefaults& operator=(const FileDefaults&) = delete;

    // From now on a change is written `delay` after the first unsaved one, so that a burst
    // of changes costs one write. Without this every change is written at once. A write that
    // fails (a full disk) is tried again after a second, doubling up to maximumRetryDelay; a
    // change meanwhile is tried within `delay`, as it may be what makes the settings fit.
    void deferWrites(Runtime& runtime, Seconds delay);
    // Writes unsaved changes now: at every way of quitting. False when they stay unsaved.
    bool flush();
    // Whether changes wait to be written: until a write succeeds, however many failed.
    bool hasUnsavedChanges() const { return dirty_; }
    // From now on changes stay in memory only, for the reason given (logged once).
    void keepChangesInMemory(std::string_view reason);
    std::optional<std::string> saveProblem() const override { return problem_; }
    std::optional<std::string> saveNow() override;

    // Files beyond these are set aside unread.
    static constexpr std::size_t maximumFileSize = standardMaximumSettingsSize;
    static constexpr int maximumNesting = 64;
    // What a write may take, somewhat less than what is read: a file read at start must take
    // the start's own writes and the next changes, so one that leaves less room than this is
    // set aside at start, whole, rather than read and then never saved again.
    static constexpr std::size_t saveHeadroom = 64 * 1024;
    static constexpr std::size_t maximumSavedSize = maximumFileSize - saveHeadroom;

    // A retry costs little (the text is encoded once per change), so a disk that has room
    // again or a folder made writable is used again within seconds.
    static constexpr double initialRetryDelay = 1.0;
    static constexpr double maximumRetryDelay = 8.0;
    // Files written so far, for measurements: each costs an fsync, and one more for the
    // folder when written at once or by flush().
    std::uint64_t writeCount() const { return writeCount_; }

    // $XDG_CONFIG_HOME/tesvano/settings.json, with ~/.config when the variable is unset.
    static std::filesystem::path standardPath();

    std::optional<DefaultsValue> value(std::string_view key) const override;
    void set(std::string_view key, DefaultsValue value) override;
    void remove(std::string_view key) override;
    std::vector<std::string> keys() const override;

    // Re-reads the file (another process may have written it).
    void reload();

    const std::filesystem::path& path() const { return path_; }
    // Where a damaged file was moved to when it was opened, if it was.
    const std::optional<std::filesystem::path>& setAsidePath() const { return setAside_; }
    // False when the file could be neither read nor moved aside: changes then stay in
    // memory so the unreadable file is not lost.
    bool writable() const { return writable_; }

private:
    void load();
    // Whether the values read, once the start has written them back, fit a save; the reason
    // when they do not.
    std::optional<std::string> tooLargeToSave(
        const std::map<std::string, DefaultsValue, std::less<>>& values) const;
    void setAsideTooLarge(const std::string& why);
    bool persist(bool durableRename = true);
    // The file a write replaces; none when what stands at the path could not be set aside.
    std::filesystem::path replaceableTarget();
    void changed();
    void scheduleWrite(Seconds delay);
    void setProblem(std::optional<std::string> problem);

    std::filesystem::path path_;
    FileDefaultsOptions options_;
    std::size_t maximumSaved_;
    std::map<std::string, DefaultsValue, std::less<>> values_;
    // The text of the values as last encoded (none when too large, with its size), for
    // retries with nothing changed since.
    bool encodedValid_ = false;
    std::optional<std::string> encoded_;
    std::size_t encodedSize_ = 0;
    std::uint64_t encodedAtChange_ = 0;
    std::optional<std::filesystem::path> setAside_;
    bool writable_ = true;
    bool memoryOnly_ = false;
    Runtime* runtime_ = nullptr;
    Seconds delay_{1.0};
    bool dirty_ = false;
    bool failing_ = false;
    double retryDelay_ = initialRetryDelay;
    Registration writeTask_;
    Seconds writeDue_{0.0};
    std::uint64_t writeCount_ = 0;
    std::optional<std::string> problem_;
};

// The JSON form used by FileDefaults: plain JSON for booleans, numbers, strings and arrays;
// {"data": "<base64>"} for data and {"dictionary": {...}} for dictionaries.
std::string encodeDefaultsFile(const std::map<std::string, DefaultsValue, std::less<>>& values);
// The same, or none with the size it would take when that is more than `limit`; memory and
// time stay linear in the values however deep they nest (the text's indentation does not).
struct BoundedEncoding {
    std::optional<std::string> text;
    std::size_t size = 0;
};
BoundedEncoding encodeDefaultsFileWithin(
    const std::map<std::string, DefaultsValue, std::less<>>& values, std::size_t limit);
// Reads what can be read: none only when the text is no JSON object; values it cannot read
// are named in `unreadableKeys`.
struct DecodedDefaultsFile {
    std::map<std::string, DefaultsValue, std::less<>> values;
    std::vector<std::string> unreadableKeys;
};
std::optional<DecodedDefaultsFile> decodeDefaultsFileLeniently(std::string_view text);
// Fails (returns nothing) on any malformed input.
std::optional<std::map<std::string, DefaultsValue, std::less<>>> decodeDefaultsFile(
    std::string_view text);

}  // namespace tesvano::platform
