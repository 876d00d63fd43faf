#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <string>

namespace tesvano {

// An exclusive lock on a file beside the settings, held for the program's life. The socket
// of SingleInstance lives in the runtime folder, which two copies may see differently; this
// lock guards the data itself, so two copies can never write one settings file.
class DataLock {
public:
    // The lock file in the settings folder of `settingsFile`.
    static std::filesystem::path pathFor(const std::filesystem::path& settingsFile);

    // Takes the lock; nullptr when another process holds it, an error when the file cannot be
    // made or locked at all (a read-only or full folder): the caller then keeps its changes
    // in memory.
    static std::expected<std::unique_ptr<DataLock>, std::string> acquire(
        const std::filesystem::path& lockFile);

    ~DataLock();
    DataLock(const DataLock&) = delete;
    DataLock& operator=(const DataLock&) = delete;

private:
    explicit DataLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace tesvano
