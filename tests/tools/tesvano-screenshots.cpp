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
#include "Tesvano/Settings/AppPickerSheet.h"
#include "Tesvano/Settings/AppRulesSettingsPane.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "Tesvano/Windows/AboutView.h"

namespace {

void settle() {
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
    }
}

bool save(QWidget* widget, const std::filesystem::path& file) {
    settle();
    const bool ok = widget->grab().save(QString::fromStdString(file.string()), "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", file.c_str());
    return ok;
}

// A private XDG data tree with a few applications, so that the App Rules pane and the picker
// show names and icons without reading the machine's own entries.
std::filesystem::path makeApplications() {
    char pattern[] = "/tmp/tesvano-screenshots-XXXXXX";
    const std::filesystem::path root = mkdtemp(pattern);
    struct App {
        const char* id;
        const char* name;
        const char* icon;
        const char* extra;
    };
    const App apps[] = {
        {"firefox-esr", "Firefox ESR", "/usr/share/icons/hicolor/48x48/apps/firefox-esr.png", ""},
        {"chromium", "Chromium", "/usr/share/icons/hicolor/48x48/apps/chromium.png", ""},
        {"org.gnome.TextEditor", "Text Editor",
         "/usr/share/icons/Adwaita/48x48/legacy/accessories-text-editor.png", ""},
        {"org.gnome.Calculator", "Calculator",
         "/usr/share/icons/Adwaita/48x48/legacy/accessories-calculator.png", ""},
        {"org.gnome.Terminal", "Terminal",
         "/usr/share/icons/Adwaita/48x48/legacy/utilities-terminal.png", ""},
        {"org.kde.krunner", "KRunner", "", "NoDisplay=true\n"},
    };
    std::filesystem::create_directories(root / "data/applications");
    for (const auto& app : apps) {
        std::FILE* file = std::fopen(
            (root / "data/applications" / (std::string(app.id) + ".desktop")).c_str(), "w");
        if (file == nullptr) {
            continue;
        }
        std::fprintf(file, "[Desktop Entry]\nType=Application\nName=%s\nExec=%s\n%s%s%s\n",
                     app.name, app.id, *app.icon != '\0' ? "Icon=" : "", app.icon,
                     *app.icon != '\0' ? "\n" : "");
        std::fputs(app.extra, file);
        std::fclose(file);
    }
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (root / "none").c_str(), 1);
    return root;
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
    const auto applications = makeApplications();
    platform::FakeWorkspace workspace;
    workspace.addRunning({4242, std::nullopt, "/usr/bin/htop"});
    platform::FakeAccessibility accessibility;
    accessibility.setTrusted(false);  // the Permissions pane then offers the grant
    platform::DesktopEntryIndex entries = platform::DesktopEntryIndex::scanStandardFolders();
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

    // The App Rules pane with a few rules, then its application picker.
    state.upsertAppRule({"firefox-esr", AppRuleMode::locked, InputSourceID("xkb:de")});
    state.upsertAppRule({"org.gnome.Terminal", AppRuleMode::ignored, std::nullopt});
    state.upsertAppRule({"process:htop", AppRuleMode::switched, InputSourceID("xkb:ru")});
    state.upsertAppRule({"org.kde.krunner", AppRuleMode::locked, std::nullopt});
    state.setSettingsTab(SettingsTab::appRules);
    settings.resize(settings.width(), 760);
    ok = save(&settings, out / "app-rules.png") && ok;
    if (auto* pane = dynamic_cast<AppRulesSettingsPane*>(settings.pane(SettingsTab::appRules))) {
        pane->pickApp();
        pane->picker()->waitForScan();
        ok = save(pane->picker(), out / "app-picker.png") && ok;
        pane->picker()->reject();
    }
    std::filesystem::remove_all(applications);
    return ok ? 0 : 1;
}
