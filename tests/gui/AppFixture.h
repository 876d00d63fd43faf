#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Tesvano/App/AppState.h"
#include "TesvanoKit/Updates/UpdateController.h"
#include "tests/support/FakeAppServices.h"

namespace tesvano::test {

// UTF-8 literals as a string list (the build forbids the implicit conversion).
inline QStringList texts(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* item : items) {
        out << QString::fromUtf8(item);
    }
    return out;
}

// An updater that counts what the program asks of it; whether it starts is the test's choice.
class ScriptedUpdater final : public platform::Updater {
public:
    std::expected<void, platform::UpdaterError> startUpdater() override {
        if (startFails) {
            return std::unexpected(platform::UpdaterError{platform::UpdaterError::updaterDomain, 1,
                                                          "scripted start failure"});
        }
        return {};
    }
    void checkForUpdates() override { ++checks; }
    void resetUpdateCycle() override { ++resets; }
    bool automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool on) override { automatic = on; }
    std::optional<platform::WallTime> lastUpdateCheckDate() const override { return lastCheck; }

    bool startFails = false;
    bool automatic = true;
    std::optional<platform::WallTime> lastCheck;
    int checks = 0;
    int resets = 0;
};

// The program's state on fakes and virtual time: two sources (US current, DE), no tray.
class AppFixture : public ::testing::Test, protected FakeAppServicesWithShortcuts {
protected:
    AppFixture() {
        system.installed = {
            platform::FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
            platform::FakeTextInputSources::keyboard("xkb:de", "German", {"de"})};
        system.currentID = "xkb:us";
        accessibility.setTrusted(false);
    }

    AppServices services() {
        AppServices s = appServices(loop);
        s.updateFeedURL = "http://127.0.0.1:9/Tesvano/appcast-x86_64.xml";
        s.makeUpdater = [this](platform::UpdateEvents&,
                               platform::UpdaterDelegate&) -> std::unique_ptr<platform::Updater> {
            auto made = std::make_unique<ScriptedUpdater>();
            made->startFails = updaterStartFails;
            updater = made.get();
            return made;
        };
        return s;
    }
    AppState& makeState() {
        state = std::make_unique<AppState>(services());
        return *state;
    }
    // A scheduled check finds `version` (the updater's event); answers what
    // the offer was answered with, once it is.
    std::shared_ptr<std::optional<platform::UpdateChoice>> offerUpdate(const std::string& version,
                                                                       bool userInitiated = false) {
        auto answer = std::make_shared<std::optional<platform::UpdateChoice>>();
        platform::AppcastItem item;
        item.version = version;
        item.displayVersion = version;
        state->updateController().events().updateFound(
            item, userInitiated, [answer](platform::UpdateChoice choice) { *answer = choice; });
        return answer;
    }
    static void processEvents() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    platform::ManualRunLoop loop;
    ScriptedUpdater* updater = nullptr;
    bool updaterStartFails = false;
    std::unique_ptr<AppState> state;
};

}  // namespace tesvano::test
