#include "Tesvano/Updates/ProgramUpdater.h"

#include <unistd.h>

#include <cstdlib>

#include "Platform/Log/Log.h"
#include "Platform/Updater/AppcastUpdater.h"
#include "Tesvano/App/AppDisplay.h"

#ifndef TESVANO_UPDATE_FEED_URL
#define TESVANO_UPDATE_FEED_URL ""
#endif
#ifndef TESVANO_UPDATE_PUBLIC_KEY
#define TESVANO_UPDATE_PUBLIC_KEY ""
#endif

namespace tesvano::ProgramUpdater {

namespace fs = std::filesystem;

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("Updater");
    return logger;
}

fs::path downloadFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    const fs::path base =
        cache && *cache ? fs::path(cache) : fs::path(home && *home ? home : "/tmp") / ".cache";
    return base / "tesvano" / "updates";
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

void checkInstallation(platform::Runtime& runtime, platform::Seconds probation) {
    auto installation = platform::Installation::containing(ownExecutable());
    if (!installation) {
        return;
    }
    const std::string version = BundleInfo::shortVersion();
    switch (installation->checkStartup(version)) {
        case platform::Installation::StartupVerdict::nothingPending:
            return;
        case platform::Installation::StartupVerdict::rolledBack: {
            log().error(
                "Version %{public}s did not start properly before; going back to %{public}s",
                version, installation->currentVersion().value_or("?"));
            const std::string executable = installation->currentExecutable().string();
            ::execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
            log().error("Cannot start %{public}s", executable);
            return;
        }
        case platform::Installation::StartupVerdict::probation:
            runtime.post(probation, [root = installation->root(), version] {
                platform::Installation(root).confirmStart(version);
                log().info("Version %{public}s started; the previous version is removed", version);
            });
            return;
    }
}

void confirmStart() {
    if (auto installation = platform::Installation::containing(ownExecutable())) {
        installation->confirmStart(BundleInfo::shortVersion());
    }
}

UpdateController::MakeUpdater make(platform::Runtime& runtime, platform::Defaults& defaults,
                                   platform::HttpTransport& transport,
                                   std::function<void()> terminate) {
    return [&runtime, &defaults, &transport, terminate = std::move(terminate)](
               platform::UserDriver& driver,
               platform::UpdaterDelegate& delegate) -> std::unique_ptr<platform::Updater> {
        if (feedURL().empty()) {
            return nullptr;
        }
        platform::AppcastUpdater::Options options;
        options.currentVersion = BundleInfo::shortVersion();
        options.publicKey = platform::decodePublicKey(publicKey());
        options.installation = platform::Installation::containing(ownExecutable());
        options.downloadFolder = downloadFolder();
        options.relaunch = [](const fs::path& executable) {
            return platform::spawnRelaunch(executable, ::getpid());
        };
        options.terminate = terminate;
        return std::make_unique<platform::AppcastUpdater>(runtime, defaults, transport, driver,
                                                          delegate, std::move(options));
    };
}

}  // namespace tesvano::ProgramUpdater
