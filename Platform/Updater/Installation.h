#pragma once

#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// A per-user installation: <root>/<version>/ holds one version (bin/tesvano and the rest of
// the prefix), <root>/current links to the one that runs. An update unpacks the new version
// beside the others, switches the link in one rename and notes the switch, so that the
// previous version stays until the new one has started once.
class Installation {
public:
    explicit Installation(std::filesystem::path root) : root_(std::move(root)) {}

    // ~/.local/opt/tesvano ($XDG_DATA_HOME's parent is not used: the folder is fixed).
    static std::filesystem::path standardRoot();
    // The installation the executable belongs to: it must lie at <root>/<version>/bin/<name>
    // with <root>/current a link. None for a build tree or a copy installed elsewhere.
    static std::optional<Installation> containing(const std::filesystem::path& executable);

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path versionFolder(const std::string& version) const;
    std::filesystem::path currentLink() const { return root_ / "current"; }
    std::filesystem::path currentExecutable() const { return currentLink() / "bin" / "tesvano"; }
    // The version the link points at, when it points into the root.
    std::optional<std::string> currentVersion() const;

    // Moves an unpacked folder (holding bin/tesvano) in as `version`.
    std::expected<void, std::string> adopt(const std::filesystem::path& unpacked,
                                           const std::string& version);
    // Points `current` at `version` atomically and notes that `previous` is kept until the
    // new version confirms its start.
    std::expected<void, std::string> switchTo(const std::string& version,
                                              const std::string& previous);

    // At every start of an installed version: answers what to do about a pending switch.
    enum class StartupVerdict {
        nothingPending,  // no switch waits for confirmation
        probation,       // this is the new version's first start; call confirmStart once up
        rolledBack,      // the new version failed before: `current` points back; start that
    };
    StartupVerdict checkStartup(const std::string& runningVersion);
    // The new version runs: the previous one and the note go.
    void confirmStart(const std::string& runningVersion);

private:
    std::filesystem::path markerPath() const { return root_ / "update-pending"; }
    std::filesystem::path root_;
};

// Unpacks a .tar.gz archive into `destination` with tar(1) as a child process, reporting
// its end on the runtime's loop (never blocking it). Leading "/" and ".." in member names
// are refused by tar itself.
class ArchiveUnpacker {
public:
    using Done = std::function<void(std::expected<void, std::string>)>;
    static std::unique_ptr<ArchiveUnpacker> start(Runtime& runtime,
                                                  const std::filesystem::path& archive,
                                                  const std::filesystem::path& destination,
                                                  Done done);
    ~ArchiveUnpacker();
    ArchiveUnpacker(const ArchiveUnpacker&) = delete;
    ArchiveUnpacker& operator=(const ArchiveUnpacker&) = delete;

private:
    ArchiveUnpacker() = default;
    void finish();

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    Registration watch_;
    Done done_;
};

// Starts `executable` once the process `waitFor` has ended (the running program, which
// quits right after), detached from us. False when it could not be started.
bool spawnRelaunch(const std::filesystem::path& executable, pid_t waitFor);

}  // namespace tesvano::platform
