#pragma once

// The program's services on fakes, for widget tests and benchmarks that make an AppState.
// Each user brings its own run loop and sets what its case needs on these members.

#include "KeyboardShortcuts/Library.h"
#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "Platform/LoginItems/FakeLoginItemService.h"
#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "Platform/Workspace/DesktopEntryIndex.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "Tesvano/App/AppState.h"

namespace tesvano::test {

struct FakeAppServices {
    // Services over these fakes; the log stays in memory unless the caller says otherwise.
    AppServices appServices(platform::Runtime& runtime) {
        AppServices s(runtime, defaults, system, workspace, accessibility, entries, loginItems);
        s.logInMemory = true;
        // Layout names as the fake system gives them, whatever catalogues this machine has.
        s.localeRoot.reset();
        return s;
    }

    platform::MemoryDefaults defaults;
    platform::FakeTextInputSources system;
    platform::FakeWorkspace workspace;
    platform::FakeAccessibility accessibility;
    platform::DesktopEntryIndex entries;
    platform::FakeLoginItemService loginItems;
};

// With the shortcut library installed on fake hot keys, as the program has it.
struct FakeAppServicesWithShortcuts : FakeAppServices {
    platform::FakeHotKeys hotKeys;
    KeyboardShortcuts::Library library{defaults, hotKeys, hotKeys};
};

}  // namespace tesvano::test
