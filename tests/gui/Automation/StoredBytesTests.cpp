#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "Platform/Defaults/Defaults.h"
#include "Tesvano/App/AppDisplay.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/ShortcutNames.h"
#include "Tesvano/Automation/URLCommandHandler.h"
#include "tests/gui/AppFixture.h"
#include "tests/support/TempDir.h"

// Pins what other programs and later versions read from this one: the settings file, a backup
// and the reply of every command, for one fixed state, byte for byte against a stored copy.
// After a deliberate change of these bytes, run the case with TESVANO_WRITE_GOLDEN=1 to rewrite
// the copy, and review its diff.

namespace tesvano {
namespace {

class RecordingOpener final : public CallbackURLOpener {
public:
    void open(std::string_view url) override { opened.emplace_back(url); }
    std::vector<std::string> opened;
};

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return;
    }
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The program's version and build number, which change with every release, as placeholders.
std::string withoutVersion(std::string text) {
    for (const auto& [key, value] : {std::pair{"version", ProgramInfo::version()},
                                     std::pair{"appVersion", ProgramInfo::version()},
                                     std::pair{"build", ProgramInfo::build()}}) {
        const std::string placeholder = std::string("<") + key + ">";
        replaceAll(text, std::string("%22") + key + "%22%3A%22" + value + "%22",
                   std::string("%22") + key + "%22%3A%22" + placeholder + "%22");
        replaceAll(text, std::string("\"") + key + "\": \"" + value + "\"",
                   std::string("\"") + key + "\": \"" + placeholder + "\"");
    }
    return text;
}

class StoredBytesTest : public test::AppFixture {
protected:
    StoredBytesTest() {
        workspace.addRunning({200, "org.gnome.TextEditor", "/usr/bin/gnome-text-editor"});
        workspace.setActive(200);
        makeState().start();
        state->setApiEnabled(true);
        handler = std::make_unique<URLCommandHandler>(*state, opener);
        handler->requestQuit = [] {};
    }

    // Sends `url` with both callbacks and notes it with what was opened for it.
    void send(const std::string& url) {
        const auto before = opener->opened.size();
        const char* separator = url.find('?') == std::string::npos ? "?" : "&";
        handler->handle(url + separator + "x-success=cb://ok&x-error=cb://fail");
        loop.advance(platform::Seconds(1));
        transcript += "> " + url + "\n";
        for (auto i = before; i < opener->opened.size(); ++i) {
            transcript += opener->opened[i] + "\n";
        }
    }

    // The settings file as the program writes it for the values stored now.
    std::string settingsFile() {
        test::TempDir folder;
        {
            platform::FileDefaults file(folder / "settings.json");
            for (const auto& key : defaults.keys()) {
                file.set(key, *defaults.value(key));
            }
            file.flush();
        }
        return test::readFile(folder / "settings.json");
    }

    std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
    std::unique_ptr<URLCommandHandler> handler;
    std::string transcript;
};

TEST_F(StoredBytesTest, SettingsBackupAndRepliesStayByteForByteAsStored) {
    // Every command in every spelling, and the failures the parser and the handler answer.
    for (const char* url : {
             "tesvano://ping",
             "tesvano://version",
             "tesvano://status",
             "tesvano://set-default-source?name=German&action=switch-once",
             "tesvano://set-app-rule?bundle=org.gnome.TextEditor&mode=locked&source=xkb:de",
             "tesvano://"
             "set-app-rule?bundle=org.mozilla.firefox&mode=switch&source-name=English%20(US)",
             "tesvano://set-app-rule?bundle=org.gnome.Terminal&mode=ignore",
             "tesvano://set-app-rule?bundle=org.gnome.Nautilus&mode=default",
             "tesvano://set-url-rule?id=6F1C2D3E-4B5A-4978-8695-A4B3C2D1E0F9&host=example.org"
             "&source=xkb:de&match-type=domain",
             "tesvano://set-url-rule?id=0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9&pattern=news"
             "&source-name=German&action=switch&matchtype=keyword",
             "tesvano://"
             "set-url-rule?id=11111111-2222-4333-8444-555555555555&host=%5Ehttps%3A%2F%2Fdocs%5C."
             "&source=xkb:us&match-type=url-regex",
             "tesvano://x-callback-url/lock",
             "tesvano:unlock",
             "tesvano:///toggle-lock",
             "tesvano://toggle",
             "tesvano://lock-to-source?source=xkb:de",
             "tesvano://switch-source?name=English%20(US)",
             "tesvano://cycle-source?direction=next",
             "tesvano://cycle-app-source?direction=previous",
             "tesvano://cycle-app-source?bundle=org.gnome.TextEditor&direction=down",
             "tesvano://set-launch-at-login?enabled=on",
             "tesvano://launch-at-login?enabled=toggle",
             "tesvano://set-enhanced-mode?enabled=yes",
             "tesvano://set-language?code=de",
             "tesvano://set-language?code=system",
             "tesvano://status",
             "tesvano://current-source",
             "tesvano://list-sources",
             "tesvano://sources",
             "tesvano://list-app-rules",
             "tesvano://app-rules",
             "tesvano://list-url-rules",
             "tesvano://url-rules",
             "tesvano://list-log",
             "tesvano://log",
             "tesvano://recent-activations",
             "tesvano://get-config",
             "tesvano://config",
             "tesvano://frobnicate",
             "tesvano://",
             "mailto:lock",
             "tesvano://lock-to-source",
             "tesvano://lock-to-source?source=xkb:fr",
             "tesvano://cycle-source?direction=sideways",
             "tesvano://set-app-rule?bundle=org.gnome.Maps&mode=locked",
             "tesvano://remove-app-rule?bundle=org.gnome.Maps",
             "tesvano://remove-url-rule?id=not-a-uuid",
             "tesvano://remove-url-rule?host=missing.example",
             "tesvano://"
             "set-url-rule?host=example.org&source=xkb:us&id=0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9",
             "tesvano://set-language?code=xx-unknown",
         }) {
        send(url);
    }
    // Settings only the windows change.
    state->setNewAppRuleMode(AppRuleMode::switched);
    state->setAddressBarFocusEnabled(true);
    state->setAddressBarSourceID(InputSourceID("xkb:de"));
    state->setUsesBetaChannel(true);
    KeyboardShortcuts::setShortcut(
        KeyboardShortcuts::Shortcut(
            KeyboardShortcuts::Key::l,
            KeyboardShortcuts::Modifiers::control | KeyboardShortcuts::Modifiers::alt),
        ShortcutNames::toggleLock());
    const std::string settings = settingsFile();
    KeyboardShortcuts::setShortcut(std::nullopt, ShortcutNames::toggleLock());
    const auto backup = state->makeBackupDocument().encodedData();
    ASSERT_TRUE(backup.has_value());

    for (const char* url : {
             "tesvano://remove-app-rule?bundle=org.gnome.Terminal",
             "tesvano://remove-frontmost-app-rule",
             "tesvano://remove-frontmost-app-rule",
             "tesvano://remove-url-rule?host=EXAMPLE.org",
             "tesvano://remove-url-rule?id=0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9",
             "tesvano://clear-app-rules",
             "tesvano://clear-url-rules",
             "tesvano://get-config",
             "tesvano://quit",
         }) {
        send(url);
    }

    const std::string actual = withoutVersion("== replies\n" + transcript + "== settings.json\n" +
                                              settings + "\n== backup\n" + *backup + "\n");
    const std::string golden = TESVANO_GOLDEN_DIR "/stored-bytes.golden";
    if (const char* write = std::getenv("TESVANO_WRITE_GOLDEN"); write && *write == '1') {
        test::writeFile(golden, actual);
    }
    const std::string expected = test::readFile(golden);
    EXPECT_EQ(actual, expected) << "a stored or replied byte changed; see the golden file's diff";
}

}  // namespace
}  // namespace tesvano
