#include "Tesvano/Updates/ProgramUpdater.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Platform/Log/Log.h"
#include "Platform/Updater/AppcastUpdater.h"
#include "Tesvano/App/AppDisplay.h"

#ifndef TESVANO_UPDATE_FEED_URL
#define TESVANO_UPDATE_FEED_URL ""
#endif
#ifndef TESVANO_UPDATE_PUBLIC_KEY
#define TESVANO_UPDATE_PUBLIC_KEY ""
#endif
#ifndef TESVANO_RELAUNCH_RELATIVE
#define TESVANO_RELAUNCH_RELATIVE "../libexec/tesvano/tesvano-relaunch"
#endif

namespace tesvano::ProgramUpdater {

namespace fs = std::filesystem;

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("Updater");
    return logger;
}

// None without an absolute cache folder or home: downloads never land in a shared folder.
fs::path downloadFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    if (cache != nullptr && *cache == '/') {
        return fs::path(cache) / "tesvano" / "updates";
    }
    if (home != nullptr && *home == '/') {
        return fs::path(home) / ".cache" / "tesvano" / "updates";
    }
    return {};
}

}  // namespace

std::string feedURL() {
    return TESVANO_UPDATE_FEED_URL;
}

std::string publicKey() {
    return TESVANO_UPDATE_PUBLIC_KEY;
}

fs::path ownExecutable() {
    std::error_code ec;
    const fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : path;
}

platform::XdgAutostartLoginItem loginItem() {
    const fs::path own = ownExecutable();
    const auto installation = platform::Installation::containing(own);
    auto item =
        platform::XdgAutostartLoginItem::standard(platform::Installation::stableExecutable(own),
                                                  installation ? installation->root() : fs::path());
    if (const auto followed = item.followInstallation(); !followed) {
        log().error("Cannot make the login item follow the installation: %{public}s",
                    followed.error());
    } else if (*followed) {
        log().notice("The login item named a version folder; it now names %{public}s",
                     platform::Installation::stableExecutable(own).string());
    }
    return item;
}

bool checkStartup(int argc, char** argv) {
    auto installation = platform::Installation::containing(ownExecutable());
    if (!installation) {
        return false;
    }
    switch (installation->checkStartup(ProgramInfo::version())) {
        case platform::Installation::StartupVerdict::nothingPending:
            return false;
        case platform::Installation::StartupVerdict::probation:
            // A crash or a failed start is noted for the next start, with or without a relaunch
            // step watching; a kill or the end of the session says nothing about this version.
            installation->watchOwnStart(ProgramInfo::version());
            return true;
        case platform::Installation::StartupVerdict::rollBack:
            break;
    }
    const std::string why =
        installation->recordedFault().value_or("an earlier start ended before it confirmed");
    const auto previous = installation->rollBack(why);
    if (!previous) {
        log().error(
            "Version %{public}s did not confirm an earlier start and cannot go back: "
            "%{public}s",
            ProgramInfo::version(), previous.error());
        return false;
    }
    log().error("Version %{public}s %{public}s; starting %{public}s again", ProgramInfo::version(),
                why, *previous);
    std::vector<std::string> words(argv, argv + argc);
    words.at(0) = installation->currentExecutable().string();
    platform::execInstead(installation->currentExecutable(), std::move(words));
    log().error("Cannot start %{public}s: %{public}s", *previous, std::strerror(errno));
    return false;
}

void confirmAfter(platform::Runtime& runtime, platform::Seconds probation) {
    auto installation = platform::Installation::containing(ownExecutable());
    if (!installation) {
        return;
    }
    runtime.post(probation, [root = installation->root(), version = ProgramInfo::version()] {
        platform::Installation(root).confirmStart(version);
        log().info("Version %{public}s started; the previous version is removed", version);
    });
}

void confirmStart() {
    if (auto installation = platform::Installation::containing(ownExecutable())) {
        installation->confirmStart(ProgramInfo::version());
    }
}

UpdateController::MakeUpdater make(platform::Runtime& runtime, platform::Defaults& defaults,
                                   platform::HttpTransport& transport,
                                   std::function<void()> terminate) {
    return [&runtime, &defaults, &transport, terminate = std::move(terminate)](
               platform::UpdateEvents& events,
               platform::UpdaterDelegate& delegate) -> std::unique_ptr<platform::Updater> {
        if (feedURL().empty()) {
            return nullptr;
        }
        platform::AppcastUpdater::Options options;
        options.currentVersion = ProgramInfo::version();
        options.publicKey = platform::decodePublicKey(publicKey());
        options.installation = platform::Installation::containing(ownExecutable());
        options.downloadFolder = downloadFolder();
        // The relaunch step of the version that runs now, which is known to start.
        options.relaunch = [](const platform::Installation& installation) {
            platform::RelaunchRequest request;
            request.helper =
                (ownExecutable().parent_path() / TESVANO_RELAUNCH_RELATIVE).lexically_normal();
            request.root = installation.root();
            request.waitFor = ::getpid();
            return platform::spawnRelaunch(request);
        };
        options.terminate = terminate;
        return std::make_unique<platform::AppcastUpdater>(runtime, defaults, transport, events,
                                                          delegate, std::move(options));
    };
}

}  // namespace tesvano::ProgramUpdater
