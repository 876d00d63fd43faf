#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include "Tesvano/Menu/StatusMenu.h"
#include "Tesvano/Settings/General/GeneralSettingsPane.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "TesvanoKit/Automation/URLCommandError.h"
#include "TesvanoKit/Languages/Localization.h"
#include "tests/gui/AppFixture.h"
#include "tests/gui/GuiApplication.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

using platform::Seconds;
using R = ActivationReason;

class GeneralSettingsPaneTest : public test::AppFixture {
protected:
    ~GeneralSettingsPaneTest() override {
        ::unsetenv("LANGUAGE");
        LanguageOverride::apply(SupportedLanguage::english);
    }

    template <typename T>
    static T* child(QWidget* pane, const char* name) {
        auto* found = pane->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    std::optional<R> newestReason() {
        const auto logged = state->logStore().recentEntries(loop.now(), 1, Seconds(60));
        return logged.empty() ? std::nullopt : logged.front().reason();
    }

    QApplication& application = guitest::guiApplication();
};

TEST_F(GeneralSettingsPaneTest, StatusAndPasswordFieldSwitchesCommitWithTheirReasons) {
    defaults.set("activationCount", std::int64_t{1234});
    auto& s = makeState();
    GeneralSettingsPane early(s);
    EXPECT_EQ(early.currentSourceLabel()->text(), QStringLiteral("\u2014")) << "no engine yet";
    s.start();
    s.lockToSource(InputSourceID("xkb:de"));
    GeneralSettingsPane pane(s);
    EXPECT_EQ(pane.currentSourceLabel()->text(), QStringLiteral("German"));
    EXPECT_EQ(pane.activationsLabel()->text(), QStringLiteral("1,235"));
    EXPECT_EQ(early.currentSourceLabel()->text(), QStringLiteral("German")) << "follows";
    // A name is words, never markup.
    EXPECT_EQ(pane.currentSourceLabel()->textFormat(), Qt::PlainText);

    auto* enable = child<QCheckBox>(&pane, "enableTesvano");
    ASSERT_TRUE(enable->isChecked());
    enable->click();
    EXPECT_FALSE(s.config().isEnabled);
    EXPECT_FALSE(RuleStore(defaults, "lockConfiguration").load().isEnabled);
    EXPECT_FALSE(s.engine()->configuration().isEnabled);
    loop.advance(Seconds(1));     // past the settling of the last switch
    system.currentID = "xkb:us";  // drifts while unlocked
    enable->click();
    EXPECT_EQ(system.currentID, "xkb:de");
    EXPECT_EQ(newestReason(), R::lockEngaged);
    EXPECT_TRUE(RuleStore(defaults, "lockConfiguration").load().isEnabled);

    auto* passwords = child<QCheckBox>(&pane, "enforceInPasswordFields");
    EXPECT_FALSE(passwords->isChecked());
    loop.advance(Seconds(1));
    system.currentID = "xkb:us";
    passwords->click();
    EXPECT_TRUE(s.config().revertsInSecureInput);
    EXPECT_TRUE(RuleStore(defaults, "lockConfiguration").load().revertsInSecureInput);
    EXPECT_EQ(newestReason(), R::configChanged);

    s.toggleLock();  // from the tray or a shortcut
    EXPECT_FALSE(enable->isChecked());
    auto* hide = child<QCheckBox>(&pane, "hideTrayIcon");
    hide->click();
    EXPECT_EQ(defaults.boolean("menuBarIconHidden"), true);
}

// A panel that starts after Settings opened (or quits) changes the tray section at once, as the
// tray icon follows it; the icon once hidden can always be shown again.
TEST_F(GeneralSettingsPaneTest, TheTraySectionFollowsATrayThatComesAndGoes) {
    bool tray = false;
    AppServices withTray = services();
    withTray.isTrayAvailable = [&tray] { return tray; };
    state = std::make_unique<AppState>(std::move(withTray));
    auto& s = *state;
    GeneralSettingsPane pane(s);
    auto* hide = child<QCheckBox>(&pane, "hideTrayIcon");
    const auto says = [&](bool hideable, bool trayShown) {
        return hide->isEnabled() == hideable &&
               child<QLabel>(&pane, "trayFooter")->isVisibleTo(&pane) == trayShown &&
               child<QLabel>(&pane, "noTrayFooter")->isVisibleTo(&pane) == !trayShown;
    };
    EXPECT_TRUE(says(false, false));
    int told = 0;
    QObject::connect(&s, &AppState::trayAvailableChanged, [&] { ++told; });

    tray = true;
    s.trayHostsChanged();
    EXPECT_TRUE(says(true, true));
    s.trayHostsChanged();
    EXPECT_EQ(told, 1) << "told only when the answer changes";

    hide->click();
    tray = false;
    s.trayHostsChanged();
    EXPECT_TRUE(says(true, false)) << "a hidden icon can still be shown for a later tray";
    hide->click();
    EXPECT_TRUE(says(false, false));
    EXPECT_EQ(told, 2);
}

TEST_F(GeneralSettingsPaneTest, LaunchAtLoginWritesTheAutostartEntryAndShowsWhatIsReadBack) {
    test::TempDir dir;
    platform::XdgAutostartLoginItem autostart(dir.path(), "tesvano", "/usr/bin/tesvano");
    AppServices s(loop, defaults, system, workspace, accessibility, entries, autostart);
    s.logInMemory = true;
    AppState appState(std::move(s));
    appState.start();
    GeneralSettingsPane pane(appState);
    auto* launch = child<QCheckBox>(&pane, "launchAtLogin");
    EXPECT_FALSE(launch->isChecked());
    launch->click();
    EXPECT_TRUE(std::filesystem::exists(autostart.entryPath()));
    EXPECT_TRUE(launch->isChecked());
    EXPECT_EQ(appState.loginItemState(), LoginItemState::enabled);

    // Removed behind the program's back: seen when the pane is shown again.
    std::filesystem::remove(autostart.entryPath());
    pane.show();
    EXPECT_FALSE(launch->isChecked());
    launch->click();
    launch->click();
    EXPECT_FALSE(std::filesystem::exists(autostart.entryPath()));
    EXPECT_FALSE(launch->isChecked());
}

TEST_F(GeneralSettingsPaneTest, AFailedChangeShowsTheStateAndApprovalOffersTheDesktopsSettings) {
    auto& s = makeState();
    s.start();
    GeneralSettingsPane pane(s);
    pane.show();
    QStringList ran;
    pane.runCommand = [&](const QStringList& command) { ran = command; };
    auto* launch = child<QCheckBox>(&pane, "launchAtLogin");
    auto* open = child<QPushButton>(&pane, "openAutostartSettings");

    loginItems.failure = "read-only folder";
    launch->click();
    EXPECT_FALSE(launch->isChecked()) << "the state read back, no message";
    EXPECT_EQ(loginItems.registerCalls, 1);

    struct Case {
        int status;
        std::optional<QStringList> command;
        bool checked, button, footer;
    };
    const QStringList kde{QStringLiteral("systemsettings"), QStringLiteral("kcm_autostart")};
    const Case cases[] = {
        {platform::LoginItemService::requiresApproval, kde, false, true, true},
        {platform::LoginItemService::requiresApproval, std::nullopt, false, false, true},
        {platform::LoginItemService::enabled, kde, true, false, false},
        {platform::LoginItemService::notRegistered, kde, false, false, false},
        {platform::LoginItemService::notFound, kde, false, false, false},
        {7, kde, false, false, false},
    };
    for (const auto& c : cases) {
        loginItems.rawStatus = c.status;
        pane.setAutostartSettingsCommand(c.command);
        pane.hide();
        pane.show();
        EXPECT_EQ(launch->isChecked(), c.checked) << c.status;
        EXPECT_EQ(open->isVisible(), c.button) << c.status;
        const auto footers = pane.findChildren<QLabel*>(QStringLiteral("sectionFooter"));
        const bool footer = std::any_of(footers.begin(), footers.end(), [](QLabel* label) {
            return label->isVisible() && label->text().startsWith(QStringLiteral("Approval"));
        });
        EXPECT_EQ(footer, c.footer) << c.status;
    }
    loginItems.rawStatus = platform::LoginItemService::requiresApproval;
    pane.setAutostartSettingsCommand(kde);
    open->click();
    EXPECT_EQ(ran, kde);
}

TEST_F(GeneralSettingsPaneTest, TheLanguageChoiceIsStoredAndThePaneFollowsIt) {
    defaults.set("activationCount", std::int64_t{1234});
    auto& s = makeState();
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
    s.start();
    SettingsWindow window(s);
    auto pane = [&] { return window.pane(SettingsTab::general); };
    auto count = [&] { return child<QLabel>(pane(), "activations")->text(); };
    EXPECT_EQ(count(), QStringLiteral("1,234"));
    auto* picker = child<QComboBox>(pane(), "language");
    ASSERT_EQ(picker->count(), 11);
    EXPECT_EQ(picker->itemText(0), QStringLiteral("Follow System"));
    EXPECT_EQ(picker->itemText(3), QStringLiteral("简体中文"));
    EXPECT_EQ(picker->itemText(5), QStringLiteral("日本語"));
    EXPECT_EQ(picker->currentIndex(), 2) << "English";

    picker->setCurrentIndex(7);
    emit picker->activated(7);
    processEvents();
    EXPECT_EQ(defaults.string("appLanguage"), "de");
    EXPECT_EQ(count(), QStringLiteral("1.234"));

    ::setenv("LANGUAGE", "fr_CA:de", 1);
    picker = child<QComboBox>(pane(), "language");
    EXPECT_EQ(picker->currentIndex(), 7) << "the new pane shows the choice";
    picker->setCurrentIndex(0);
    emit picker->activated(0);
    processEvents();
    EXPECT_EQ(defaults.string("appLanguage"), "system");
    EXPECT_EQ(s.effectiveLanguage(), SupportedLanguage::french);
    EXPECT_EQ(count(), QStringLiteral("1\u202F234"));
    EXPECT_EQ(child<QComboBox>(pane(), "language")->currentIndex(), 0);
}

TEST_F(GeneralSettingsPaneTest, AutomationSwitchItsDocumentationAndThePathTheErrorNames) {
    auto& s = makeState();
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
    SettingsWindow window(s);
    auto* pane = dynamic_cast<GeneralSettingsPane*>(window.pane(SettingsTab::general));
    ASSERT_NE(pane, nullptr);
    std::vector<QUrl> opened;
    pane->openURL = [&](const QUrl& url) { opened.push_back(url); };

    auto* section = child<QGroupBox>(pane, "automationSection");
    auto* api = child<QCheckBox>(section, "urlSchemeAPI");
    api->click();
    EXPECT_TRUE(s.apiEnabled());
    EXPECT_EQ(defaults.boolean("apiEnabled"), true);

    child<QPushButton>(section, "apiDocumentation")->click();
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::russian));
    child<QPushButton>(section, "apiDocumentation")->click();
    ASSERT_EQ(opened.size(), 2u);
    for (const QUrl& url : opened) {
        EXPECT_TRUE(url.isLocalFile());
        EXPECT_TRUE(std::filesystem::is_regular_file(url.toLocalFile().toStdString()))
            << url.toString().toStdString() << ": no dead link, English where missing";
    }

    // The error a disabled interface answers with sends the user along existing steps.
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
    processEvents();
    const QString path = QString::fromStdString(URLCommandError::apiSwitchPath());
    StatusMenu menu(s, [] {});
    QString settingsItem;
    for (QAction* action : menu.menu()->actions()) {
        if (action->text().endsWith(QStringLiteral("\u2026")) &&
            action->text().startsWith(s.text("Settings"))) {
            settingsItem = action->text().chopped(1);
        }
    }
    ASSERT_FALSE(settingsItem.isEmpty()) << "the tray menu opens Settings";
    const QString expected =
        s.text("Tesvano") + QStringLiteral(" \u2192 ") + settingsItem + QStringLiteral(" \u2192 ") +
        window.tabButton(SettingsTab::general)->text() + QStringLiteral(" \u2192 ") +
        child<QGroupBox>(window.pane(SettingsTab::general), "automationSection")->title();
    EXPECT_EQ(path, expected);
    EXPECT_EQ(URLCommandError::apiDisabled().message(),
              "The URL scheme API is disabled. Enable it in Tesvano \u2192 Settings \u2192 General "
              "\u2192 Automation.");
}

}  // namespace
}  // namespace tesvano
