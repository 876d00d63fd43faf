#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>

#include "KeyboardShortcuts/Library.h"
#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "Platform/LoginItems/LoginItemService.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/FakeTextInputSources.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/Updates/UpdateController.h"

namespace tesvano::test {

// UTF-8 literals as a string list (the build forbids the implicit conversion).
inline QStringList texts(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* item : items) {
        out << QString::fromUtf8(item);
    }
    return out;
}

// An updater whose state the test sets, counting what the program asks of it.
class ScriptedUpdater final : public UpdateController {
public:
    void start() override {}
    void checkForUpdates() override { ++checks; }
    std::optional<std::string> pendingUpdateVersion() const override { return pending; }
    bool canCheckForUpdates() const override { return canCheck; }
    Phase phase() const override { return currentPhase; }
    void dismiss() override { ++dismissals; }

    void announce() {
        if (onStateChange) {
            onStateChange();
        }
    }

    std::optional<std::string> pending;
    bool canCheck = true;
    Phase currentPhase = Phase::idle;
    int checks = 0;
    int dismissals = 0;
};

// The program's state on fakes and virtual time: two sources (US current, DE), no tray.
class AppFixture : public ::testing::Test {
protected:
    AppFixture() {
        system.installed = {
            platform::FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
            platform::FakeTextInputSources::keyboard("xkb:de", "German", {"de"})};
        system.currentID = "xkb:us";
        accessibility.setTrusted(false);
    }

    AppServices services() {
        AppServices s(loop, defaults, system, workspace, accessibility, entries, loginItems);
        s.logInMemory = true;
        s.makeUpdateController = [this]() -> std::unique_ptr<UpdateController> {
            auto made = std::make_unique<ScriptedUpdater>();
            updater = made.get();
            return made;
        };
        return s;
    }
    AppState& makeState() {
        state = std::make_unique<AppState>(services());
        return *state;
    }
    static void processEvents() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    platform::ManualRunLoop loop;
    platform::MemoryDefaults defaults;
    platform::FakeTextInputSources system;
    platform::FakeWorkspace workspace;
    platform::FakeAccessibility accessibility;
    platform::DesktopEntryIndex entries;
    platform::FakeLoginItemService loginItems;
    platform::FakeHotKeys hotKeys;
    KeyboardShortcuts::Library library{defaults, hotKeys, hotKeys};
    ScriptedUpdater* updater = nullptr;
    std::unique_ptr<AppState> state;
};

}  // namespace tesvano::test
