// Renders the tray icons and menu, the About window and the Settings window with sample data into
// PNG files, for the README. Run it on an X display (for instance under xvfb-run):
//   xvfb-run -a build/dev/tests/tesvano-screenshots docs
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Library.h"
#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "Platform/LoginItems/LoginItemService.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/FakeTextInputSources.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Resources.h"
#include "Tesvano/App/ShortcutNames.h"
#include "Tesvano/Menu/StatusItem.h"
#include "Tesvano/Menu/StatusMenu.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "Tesvano/Updates/UpdateWindowView.h"
#include "Tesvano/Windows/AboutView.h"
#include "TesvanoKit/Updates/UpdateChannel.h"

namespace {

void settle() {
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
    }
}

// An updater that checked this morning and checks on its own.
class SampleUpdater final : public tesvano::platform::Updater {
public:
    std::expected<void, tesvano::platform::UpdaterError> startUpdater() override { return {}; }
    void checkForUpdates() override {}
    void resetUpdateCycle() override {}
    bool automaticallyChecksForUpdates() const override { return true; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    std::optional<tesvano::platform::WallTime> lastUpdateCheckDate() const override {
        return tesvano::platform::parseRFC3339("2026-12-09T08:15:00Z");
    }
};

bool save(QWidget* widget, const std::filesystem::path& file) {
    settle();
    const bool ok = widget->grab().save(QString::fromStdString(file.string()), "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", file.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    tesvano::initResources();
    const std::filesystem::path out = argc > 1 ? argv[1] : "docs";
    std::filesystem::create_directories(out);

    using namespace tesvano;
    platform::ManualRunLoop loop;
    platform::MemoryDefaults defaults;
    platform::FakeTextInputSources system;
    system.installed = {
        platform::FakeTextInputSources::keyboard("xkb:us", "English (US)", {"en"}),
        platform::FakeTextInputSources::keyboard("xkb:de", "German", {"de"}),
        platform::FakeTextInputSources::keyboard("xkb:ru", "Russian", {"ru"}),
    };
    system.currentID = "xkb:us";
    platform::FakeWorkspace workspace;
    platform::FakeAccessibility accessibility;
    accessibility.setTrusted(false);  // the Permissions pane then offers the grant
    platform::DesktopEntryIndex entries;
    platform::FakeLoginItemService loginItems;
    platform::FakeHotKeys hotKeys;
    KeyboardShortcuts::Library library(defaults, hotKeys, hotKeys);
    KeyboardShortcuts::setShortcut(
        KeyboardShortcuts::Shortcut(
            KeyboardShortcuts::Key::l,
            KeyboardShortcuts::Modifiers::control | KeyboardShortcuts::Modifiers::option),
        ShortcutNames::toggleLock());

    AppServices services(loop, defaults, system, workspace, accessibility, entries, loginItems);
    services.logInMemory = true;
    services.updateFeedURL = "https://example.org/Tesvano/appcast-x86_64.xml";
    services.makeUpdater = [](platform::UserDriver&, platform::UpdaterDelegate&) {
        return std::unique_ptr<platform::Updater>(std::make_unique<SampleUpdater>());
    };
    AppState state(services);
    state.start();
    state.lockToSource(InputSourceID("xkb:de"));
    state.makeAboutContent = [&state](const std::function<void()>&) -> QWidget* {
        return new AboutView(state);
    };

    bool ok = true;
    StatusMenu menu(state, [] {});
    menu.menu()->popup(QPoint(40, 40));
    ok = save(menu.menu(), out / "menu.png") && ok;
    menu.menu()->hide();

    state.aboutWindow().show();
    ok = save(state.aboutWindow().window(), out / "about.png") && ok;
    state.aboutWindow().closeWindow();

    // The two tray images on a dark and on a light panel, at twice their size.
    {
        QPixmap tray(4 * 52, 52);
        tray.fill(Qt::transparent);
        QPainter painter(&tray);
        int x = 0;
        for (const QColor panel : {QColor(0x30, 0x30, 0x30), QColor(0xE8, 0xE8, 0xE8)}) {
            for (bool locked : {true, false}) {
                painter.fillRect(QRect(x, 0, 52, 52), panel);
                painter.drawPixmap(QRect(x + 4, 4, 44, 44),
                                   StatusItem::trayImage(locked).pixmap(QSize(44, 44)));
                x += 52;
            }
        }
        painter.end();
        const auto file = out / "tray.png";
        ok = tray.save(QString::fromStdString(file.string()), "PNG") && ok;
        std::printf("wrote %s\n", file.c_str());
    }

    SettingsWindow settings(state);
    state.setSettingsTab(SettingsTab::permissions);
    settings.present();
    ok = save(&settings, out / "settings.png") && ok;

    // A beta found by a background check: the update window and the Updates pane with it.
    state.makeUpdateContent = [&state](std::function<void()> close) -> QWidget* {
        return new UpdateWindowView(state, std::move(close));
    };
    defaults.set(usesBetaChannelKey, true);
    platform::AppcastItem beta;
    beta.version = "0.2.0-beta.1";
    beta.displayVersion = "0.2.0-beta.1";
    beta.channel = "beta";
    beta.date = platform::parseRFC3339("2026-12-08T01:00:00Z");
    beta.releaseNotes =
        "## New\n"
        "* The **Updates** pane: choose *Stable* or *Beta*, check by hand or on a schedule "
        "([#23](https://github.com/quorvel/tesvano/issues/23)).\n"
        "* Signed updates of a per-user installation under `~/.local/opt/tesvano`, thanks "
        "@tesvano-tester.\n\n"
        "## Fixed\n"
        "* A cancelled check no longer reports later background results.\n\n"
        "[Full list of changes](https://github.com/quorvel/tesvano/compare/v0.1.0...v0.2.0-beta.1)";
    state.updateController().driver().showUpdateFound(beta, platform::UserUpdateState{false},
                                                      [](platform::UserUpdateChoice) {});
    state.setSettingsTab(SettingsTab::updates);
    settle();
    ok = save(&settings, out / "updates-pane.png") && ok;
    state.showUpdateWindow();
    ok = save(state.updateWindow().window(), out / "update-window.png") && ok;
    // The same update downloading.
    auto& driver = state.updateController().driver();
    driver.showDownloadInitiated([] {});
    driver.showDownloadDidReceiveExpectedContentLength(6'400'000);
    driver.showDownloadDidReceiveDataOfLength(1'000'000);
    loop.advance(platform::Seconds(1.5));
    driver.showDownloadDidReceiveDataOfLength(1'700'000);
    ok = save(state.updateWindow().window(), out / "update-downloading.png") && ok;
    state.updateWindow().closeWindow();
    return ok ? 0 : 1;
}
