#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "Platform/Defaults/Defaults.h"
#include "Platform/LoginItems/LoginItemService.h"
#include "Platform/Runtime/Runtime.h"
#include "Platform/Updater/HttpTransport.h"
#include "TesvanoKit/Updates/UpdateController.h"

namespace tesvano::ProgramUpdater {

// This build's feed address (empty: it checks none) and its release key.
std::string feedURL();
std::string publicKey();

// The running executable, as the kernel knows it.
std::filesystem::path ownExecutable();

// The login item: it names the program by a path that outlives updates. At start-up, an
// entry naming a version folder of this installation (written by an older version) is made
// to name that path; said in the log.
platform::XdgAutostartLoginItem loginItem();

// At start, once this copy knows it is the only one running: a new version counts its start
// (true: it is on probation). When an earlier start of it ended without confirming, it is
// rolled back here and the previous version started in its place with the same arguments.
bool checkStartup(int argc, char** argv);
// On probation: the start is confirmed once the program has been up for `probation` (the
// relaunch step that started it, or the next start, switches back when that does not happen).
void confirmAfter(platform::Runtime& runtime, platform::Seconds probation = platform::Seconds(10));

// The program ran and ends normally: a new version's first start counts as confirmed even
// when it ends before its probation is over.
void confirmStart();

// The updater of the program: none without a feed; one that refuses to start (and says why)
// without a key or a per-user installation.
UpdateController::MakeUpdater make(platform::Runtime& runtime, platform::Defaults& defaults,
                                   platform::HttpTransport& transport,
                                   std::function<void()> terminate);

}  // namespace tesvano::ProgramUpdater
