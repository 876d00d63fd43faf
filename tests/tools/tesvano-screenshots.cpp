// Renders the tray icons and menu, the About window, the Settings window, the Backup pane and the
// import review with sample data into PNG files, for the README. Run it on an X display (for
// instance under xvfb-run):
//   xvfb-run -a build/dev/tests/tesvano-screenshots docs
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Library.h"
#include "Platform/Accessibility/FakeAccessibility.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "Platform/LoginItems/FakeLoginItemService.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Resources.h"
#include "Tesvano/App/ShortcutNames.h"
#include "Tesvano/Menu/StatusMenu.h"
#include "Tesvano/Menu/TrayIcon.h"
#include "Tesvano/Settings/AppRules/AppPickerDialog.h"
#include "Tesvano/Settings/AppRules/AppRulesSettingsPane.h"
#include "Tesvano/Settings/Backup/BackupFileDialog.h"
#include "Tesvano/Settings/Backup/BackupSettingsPane.h"
#include "Tesvano/Settings/Backup/ImportReviewDialog.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "Tesvano/Settings/URLRules/RuleEditorDialog.h"
#include "Tesvano/Settings/URLRules/URLRuleListModel.h"
#include "Tesvano/Settings/URLRules/URLRulesPane.h"
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
            KeyboardShortcuts::Modifiers::control | KeyboardShortcuts::Modifiers::alt),
        ShortcutNames::toggleLock());

    defaults.set("activationCount", std::int64_t{1234});  // a history for the General pane
    AppServices services(loop, defaults, system, workspace, accessibility, entries, loginItems);
    services.logInMemory = true;
    services.updateFeedURL = "https://example.org/Tesvano/appcast-x86_64.xml";
    services.makeUpdater = [](platform::UpdateEvents&, platform::UpdaterDelegate&) {
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
                // The ink a panel of that shade writes in.
                const QColor ink =
                    panel.lightness() < 128 ? QColor(0xF2, 0xF2, 0xF2) : QColor(0x20, 0x20, 0x20);
                painter.drawPixmap(QRect(x + 4, 4, 44, 44),
                                   TrayIcon::trayImage(locked, ink).pixmap(QSize(44, 44)));
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

    // The General pane with some history, and the Log pane with a few entries.
    state.setApiEnabled(true);
    state.setSettingsTab(SettingsTab::general);
    const QSize usual = settings.size();
    settings.resize(usual.width(), 690);  // every section at once
    ok = save(&settings, out / "settings-general.png") && ok;
    settings.resize(usual);

    struct Sample {
        double age;
        const char* from;
        const char* to;
        ActivationReason reason;
        std::optional<RuleSource> rule;
        std::optional<std::string> app;
        std::optional<std::string> host;
        double milliseconds;
    };
    const Sample samples[] = {
        {3620, "German", "English (US)", ActivationReason::startupApplied,
         RuleSource::globalDefault, std::nullopt, std::nullopt, 4.21},
        {2450, "English (US)", "Russian", ActivationReason::appActivated, RuleSource::appRule,
         "org.telegram.desktop", std::nullopt, 6.83},
        {1210, "Russian", "English (US)", ActivationReason::urlMatched, RuleSource::urlRule,
         "firefox-esr", "github.com", 3.05},
        {640, "English (US)", "German", ActivationReason::revertedSwitch, RuleSource::appRule,
         "org.gnome.TextEditor", std::nullopt, 2.47},
        {95, "German", "German", ActivationReason::lockEngaged, RuleSource::globalDefault,
         std::nullopt, std::nullopt, 1.92},
        {12, "German", "English (US)", ActivationReason::addressBarFocused,
         RuleSource::addressBarRule, "chromium", std::nullopt, 3.4},
    };
    for (const auto& sample : samples) {
        ActivationEvent event;
        event.timestamp = loop.now() - platform::Seconds(sample.age);
        event.inputSourceName = sample.to;
        event.inputSource = InputSourceID(sample.to);
        event.fromSourceName = sample.from;
        event.reason = sample.reason;
        event.ruleSource = sample.rule;
        event.triggeringAppId = sample.app;
        event.matchedHost = sample.host;
        event.durationMs = sample.milliseconds;
        static const std::map<std::string, std::string> names{
            {"org.telegram.desktop", "Telegram"},
            {"firefox-esr", "Firefox ESR"},
            {"org.gnome.TextEditor", "Text Editor"},
            {"chromium", "Chromium"}};
        std::optional<std::string> name;
        if (sample.app) {
            name = names.at(*sample.app);
        }
        state.logStore().record(event, name);
    }
    state.setSettingsTab(SettingsTab::log);
    ok = save(&settings, out / "settings-log.png") && ok;

    // The URL Rules tab with a few rules, Accessibility granted, and the editor over it.
    accessibility.setTrusted(true);
    state.refreshAccessibilityStatus();
    {
        LockConfiguration config = state.config();
        config.enhancedModeEnabled = true;
        state.setConfig(config);
    }
    const auto addRule = [&state](const char* pattern, URLMatchType type, RuleAction action,
                                  const char* source) {
        state.upsertURLRule(URLRule{Uuid::random(), pattern, InputSourceID(source), action, type});
    };
    addRule("github.com", URLMatchType::domainSuffix, RuleAction::lock, "xkb:us");
    addRule("mail.example.de", URLMatchType::domain, RuleAction::switchOnce, "xkb:de");
    addRule("yandex", URLMatchType::domainKeyword, RuleAction::lock, "xkb:ru");
    addRule("/wiki/Spezial:", URLMatchType::urlRegex, RuleAction::lock, "xkb:de");
    state.setAddressBarFocusEnabled(true);
    state.setSettingsTab(SettingsTab::urlRules);
    auto* pane = dynamic_cast<URLRulesPane*>(settings.pane(SettingsTab::urlRules));
    if (pane == nullptr) {
        std::printf("FAILED: no URL Rules pane\n");
        return 1;
    }
    // How a rule looks once matching its pattern has been found too slow.
    const Uuid slow = state.config().urlRules.back().id;
    pane->ruleModel()->isSkipped = [slow](const Uuid& id) { return id == slow; };
    emit state.skippedURLRulesChanged();
    ok = save(&settings, out / "url-rules.png") && ok;
    pane->openEditor(state.config().urlRules.front());
    if (RuleEditorDialog* editor = pane->editor()) {
        ok = save(editor, out / "url-rule-editor.png") && ok;
        editor->close();
    }

    {
        // The import of a backup made on another machine: a conflict, new rules, an application and
        // a layout this machine lacks. Reviewed, then applied.
        state.upsertAppRule(AppRule{"firefox-esr", AppRuleMode::locked, InputSourceID("xkb:de")});
        state.upsertAppRule(AppRule{"org.gnome.Terminal", AppRuleMode::ignored, std::nullopt});
        state.upsertURLRule(URLRule{Uuid::random(), "github.com", InputSourceID("xkb:us"),
                                    RuleAction::lock, URLMatchType::domainSuffix});
        const auto backupFile =
            std::filesystem::temp_directory_path() / "tesvano-screenshot.tesvano";
        std::ofstream(backupFile)
            << R"({"format": "com.quorvel.Tesvano.backup", "appVersion": "0.1.0",
        "payload": {"defaultSourceID": "xkb:us", "defaultAction": "switchOnce",
          "appRules": [{"bundleID": "firefox-esr", "mode": "switched", "lockedSourceID": "xkb:ru"},
                       {"bundleID": "code", "mode": "locked", "lockedSourceID": "xkb:us"},
                       {"bundleID": "com.example.Notes", "mode": "locked",
                        "lockedSourceID": "xkb:jp"}],
          "urlRules": [{"hostPattern": "github.com", "lockedSourceID": "xkb:us"},
                       {"hostPattern": "yandex.ru", "lockedSourceID": "xkb:ru",
                        "action": "switchOnce", "matchType": "domain"},
                       {"hostPattern": "^https://docs\\.google\\.com/",
                        "lockedSourceID": "xkb:us", "matchType": "url-regex"}],
          "sourceNames": {"xkb:jp": "Japanese"}}})";
        state.setSettingsTab(SettingsTab::backup);
        auto* backupPane = dynamic_cast<BackupSettingsPane*>(settings.pane(SettingsTab::backup));
        if (backupPane == nullptr) {
            std::printf("FAILED: no Backup pane\n");
            return 1;
        }
        BackupFileDialog::setNextAnswer(QString::fromStdString(backupFile.string()));
        backupPane->importConfiguration();
        // The file is read off the interface thread; the review opens once it is read.
        QElapsedTimer waited;
        waited.start();
        while (backupPane->reading() && waited.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::yieldCurrentThread();
        }
        std::filesystem::remove(backupFile);
        if (backupPane->reviewDialog() == nullptr) {
            std::printf("FAILED: the sample backup was not read\n");
            return 1;
        }
        backupPane->reviewDialog()->model().overrideResolution("app:firefox-esr",
                                                               ConflictResolution::useFile);
        ok = save(backupPane->reviewDialog(), out / "import-review.png") && ok;
        backupPane->reviewDialog()->applyButton()->click();
        ok = save(&settings, out / "backup.png") && ok;
    }
    // The App Rules pane with a few rules, then its application picker.
    state.upsertAppRule({"firefox-esr", AppRuleMode::locked, InputSourceID("xkb:de")});
    state.upsertAppRule({"org.gnome.Terminal", AppRuleMode::ignored, std::nullopt});
    state.upsertAppRule({"process:htop", AppRuleMode::switched, InputSourceID("xkb:ru")});
    state.upsertAppRule({"org.kde.krunner", AppRuleMode::locked, std::nullopt});
    state.setSettingsTab(SettingsTab::appRules);
    settings.resize(settings.width(), 760);
    ok = save(&settings, out / "app-rules.png") && ok;
    if (auto* appsPane =
            dynamic_cast<AppRulesSettingsPane*>(settings.pane(SettingsTab::appRules))) {
        appsPane->pickApp();
        appsPane->picker()->waitForScan();
        ok = save(appsPane->picker(), out / "app-picker.png") && ok;
        appsPane->picker()->reject();
    }
    // The same window in two more interface languages (CJK needs the Noto CJK fonts).
    const std::pair<SupportedLanguage, SettingsTab> languageScenes[] = {
        {SupportedLanguage::japanese, SettingsTab::general},
        {SupportedLanguage::russian, SettingsTab::appRules}};
    for (const auto& [language, tab] : languageScenes) {
        state.setLanguagePreference(LanguagePreference::specific(language));
        state.setSettingsTab(tab);
        settings.resize(usual.width(), tab == SettingsTab::general ? 690 : 760);
        ok = save(&settings, out / ("settings-" + std::string(rawValue(language)) + ".png")) && ok;
    }
    state.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
    std::filesystem::remove_all(applications);
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
    state.updateController().events().updateFound(beta, false, [](platform::UpdateChoice) {});
    state.setSettingsTab(SettingsTab::updates);
    settle();
    ok = save(&settings, out / "updates-pane.png") && ok;
    state.showUpdateWindow();
    ok = save(state.updateWindow().window(), out / "update-window.png") && ok;
    // The same update downloading.
    auto& events = state.updateController().events();
    events.downloadStarted([] {});
    events.downloadSizeKnown(6'400'000);
    events.downloadReceived(1'000'000);
    loop.advance(platform::Seconds(1.5));
    events.downloadReceived(1'700'000);
    ok = save(state.updateWindow().window(), out / "update-downloading.png") && ok;
    state.updateWindow().closeWindow();
    return ok ? 0 : 1;
}
