#pragma once

#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/Archive.h"
#include "Platform/Updater/StartJudgement.h"

namespace tesvano::platform {

// A per-user installation: <root>/<version>/ holds one version (bin/tesvano and the rest of
// the prefix), <root>/current links to the one that runs. An update unpacks the new version
// beside the others, switches the link in one rename and notes the switch, so that the
// previous version stays until the new one has started once.
//
// The root holds a list of the versions that the installer or the updater put there
// (`.tesvano-installation`); only those folders are ever deleted.
class Installation {
public:
    explicit Installation(std::filesystem::path root) : root_(std::move(root)) {}

    static constexpr const char* recordName = ".tesvano-installation";

    // ~/.local/opt/tesvano; none when HOME is unset or not an absolute path.
    static std::optional<std::filesystem::path> standardRoot();
    // The installation the executable belongs to: it must lie at <root>/<version>/bin/<name>
    // with <root>/current a link, and the root must be positively ours: the standard root,
    // or one whose record the installer wrote. None for a build tree, a copy installed
    // elsewhere, or a folder that only happens to hold a `current` link.
    static std::optional<Installation> containing(const std::filesystem::path& executable);

    // The path that names the program across updates, for entries that start it (autostart):
    // the `current` link's program when `running` lies in a version folder of an installation
    // (see containing), else `running` itself.
    static std::filesystem::path stableExecutable(const std::filesystem::path& running);

    // A version names one folder: letters, digits and ". _ + -", not hidden, not "current".
    static bool isPlainVersion(std::string_view version);

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path versionFolder(const std::string& version) const;
    std::filesystem::path currentLink() const { return root_ / "current"; }
    std::filesystem::path currentExecutable() const { return currentLink() / "bin" / "tesvano"; }
    // The version the link points at, when it points into the root.
    std::optional<std::string> currentVersion() const;

    // The versions this installation put in place itself.
    std::set<std::string> recordedVersions() const;
    // Versions that did not start. A background check does not offer them again unless the
    // feed carries another build of that version (another archive signature); a check the
    // user asked for does.
    std::set<std::string> failedVersions() const;
    bool failedBefore(const std::string& version, const std::string& build) const;

    // Moves an unpacked folder (holding bin/tesvano) in as `version` and records it.
    std::expected<void, std::string> adopt(const std::filesystem::path& unpacked,
                                           const std::string& version);
    // Deletes a version's folder, when it is recorded, is not the current one and no process
    // runs a program from it.
    void discard(const std::string& version);
    // Points `current` at `version` atomically and notes that `previous` is kept until the
    // new version confirms its start. `build` tells this build of the version from others.
    std::expected<void, std::string> switchTo(const std::string& version,
                                              const std::string& previous,
                                              const std::string& build = {});

    // At every start of an installed version, once it knows it is the only copy running:
    // answers what to do about a pending switch. The new version counts its own starts and
    // notes an end that was its fault (watchOwnStart), so that one which fails is rolled back
    // however it is started, even when the relaunch step is gone. An earlier start that ended
    // unconfirmed without such a note was ended from outside (killed, or its session ended):
    // it is not counted, as the relaunch step would not count it. A probation starts without
    // a note, so only this start's own can count against it.
    enum class StartupVerdict {
        nothingPending,  // no switch waits for confirmation
        probation,       // this start is counted; call confirmStart once up
        rollBack,        // an earlier start ended unconfirmed: call rollBack and start the
                         // previous version with the same arguments instead
    };
    StartupVerdict checkStartup(const std::string& runningVersion);
    // On probation: from now until confirmStart, an end of this process that is its fault is
    // noted for the next start.
    void watchOwnStart(const std::string& runningVersion) const;
    // How the earlier start that failed ended, when one did.
    std::optional<std::string> recordedFault() const;
    // The new version runs: the previous one and the note go.
    void confirmStart(const std::string& runningVersion);
    // This start of the pending version says nothing about it (it was ended from outside, or
    // its display went away): it is not counted against it, nor is a fault it noted.
    void forgetStart(const std::string& runningVersion);

    // The version that waits for confirmation, if a switch is pending.
    std::optional<std::string> pendingVersion() const;
    // Unconfirmed starts of the pending version so far (0: none, or nothing pending).
    int unconfirmedStarts() const;
    // The pending version failed: `current` goes back to the previous version, the failed one
    // is noted and its folder deleted (unless it still runs). The version now current, or why
    // not.
    std::expected<std::string, std::string> rollBack(const std::string& why);

    // Held by the relaunch step while it acts, so that only one acts at a time; released on
    // exec or exit. Waits for another step to finish. -1 when the lock cannot be made.
    int holdRelaunchLock() const;

    // Leftovers of an update that was interrupted (a kill while unpacking): staging folders;
    // and the folders of failed versions that were kept while they ran.
    void sweep();
    // A fresh staging folder for unpacking, only the user can enter.
    std::expected<std::filesystem::path, std::string> makeStaging() const;

private:
    std::filesystem::path markerPath() const { return root_ / "update-pending"; }
    std::filesystem::path faultPath() const { return root_ / "update-pending.fault"; }
    std::filesystem::path failedPath() const { return root_ / "failed-versions"; }
    std::filesystem::path lockPath() const { return root_ / ".update-lock"; }
    std::filesystem::path root_;
};

// Ends this process by starting `executable` with `arguments` (argv[0] included) and our
// environment; returns only when that cannot be done.
void execInstead(const std::filesystem::path& executable, std::vector<std::string> arguments);

// The relaunch step: a small program of the running version (tesvano-relaunch) that waits
// for this process to end, starts the new version, counts its start and switches back when
// it does not confirm within its probation.
struct RelaunchRequest {
    std::filesystem::path helper;
    std::filesystem::path root;
    pid_t waitFor = -1;
    Seconds probation{60};
    // Passed on to whichever version is started.
    std::vector<std::string> arguments;
};
// Starts the relaunch step detached from us. An error when it could not be started (the
// failed exec is reported through a close-on-exec pipe).
std::expected<void, std::string> spawnRelaunch(const RelaunchRequest& request);

}  // namespace tesvano::platform
