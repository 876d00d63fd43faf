#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>
#include <chrono>

#include "Tesvano/Settings/Backup/BackupFileDialog.h"
#include "Tesvano/Settings/Backup/BackupSettingsPane.h"
#include "Tesvano/Settings/Backup/ImportReviewDialog.h"
#include "tests/gui/AppFixture.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

class BackupSettingsPaneTest : public test::AppFixture {
protected:
    AppState& startedState() {
        auto& s = makeState();
        s.start();
        s.lockToSource(InputSourceID("xkb:de"));
        s.upsertAppRule(AppRule{"firefox-esr", AppRuleMode::locked, InputSourceID("xkb:de")});
        return s;
    }

    static QString path(const std::filesystem::path& file) {
        return QString::fromStdString(file.string());
    }

    static bool shows(const BackupSettingsPane& pane, const char* name) {
        const auto* widget = pane.findChild<QWidget*>(QString::fromLatin1(name));
        return widget != nullptr && !widget->isHidden();
    }

    // Imports the file the chooser answers and waits until it is read.
    static void importAndWait(BackupSettingsPane& pane) {
        pane.importConfiguration();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (pane.reading() && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::yieldCurrentThread();
        }
        EXPECT_FALSE(pane.reading());
    }

    static QString textOf(const BackupSettingsPane& pane, const char* name) {
        return pane.findChild<QLabel*>(QString::fromLatin1(name))->text();
    }

    // A backup of the state's rules plus a new app rule (English) and one for a layout this
    // machine lacks.
    std::string sampleBackup(const AppState& s) {
        auto backup = s.makeBackupDocument();
        backup.payload.appRules.push_back(
            AppRule{"code", AppRuleMode::locked, InputSourceID("xkb:us")});
        backup.payload.appRules.push_back(
            AppRule{"org.other.App", AppRuleMode::switched, InputSourceID("xkb:jp")});
        return backup.encodedData().value();
    }

    test::TempDir dir;
};

TEST_F(BackupSettingsPaneTest, ExportWritesTheRulesAtomicallyAndAFailureShowsUntilTheNextExport) {
    auto& s = startedState();
    BackupSettingsPane pane(s);
    const auto target = dir / "rules.tesvano";

    BackupFileDialog::setNextAnswer(std::nullopt);  // cancelled
    pane.exportConfiguration();
    EXPECT_FALSE(std::filesystem::exists(target));
    const auto request = BackupFileDialog::lastRequest();
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->kind, BackupFileDialog::Kind::save);
    EXPECT_TRUE(request->suggestedName.startsWith(QStringLiteral("Tesvano Backup 20")));
    EXPECT_TRUE(request->suggestedName.endsWith(QStringLiteral(".tesvano")));
    EXPECT_TRUE(request->nameFilters.join(QString()).contains(QStringLiteral("*.tesvano")));

    test::LogCapture log;
    BackupFileDialog::setNextAnswer(path(dir / "no-such-folder" / "rules.tesvano"));
    pane.exportConfiguration();
    EXPECT_TRUE(pane.exportFailed());
    EXPECT_TRUE(shows(pane, "exportNotice"));
    EXPECT_FALSE(shows(pane, "exportedNotice"));
    EXPECT_TRUE(log.contains("Backup export failed: <private>"));

    BackupFileDialog::setNextAnswer(path(target));
    pane.exportConfiguration();
    EXPECT_FALSE(pane.exportFailed());
    EXPECT_FALSE(shows(pane, "exportNotice"));
    ASSERT_TRUE(shows(pane, "exportedNotice")) << "an export that worked says so";
    EXPECT_TRUE(pane.findChild<QWidget*>(QStringLiteral("exportedNotice"))
                    ->findChildren<QLabel*>()
                    .last()
                    ->text()
                    .contains(QString::fromStdString(target.string())));
    EXPECT_EQ(ConfigBackup::read(test::readFile(target)), s.makeBackupDocument());
    EXPECT_EQ(s.makeBackupDocument().payload.sourceNames,
              (std::map<std::string, std::string>{{"xkb:de", "German"}}));
    EXPECT_EQ(std::filesystem::directory_iterator(dir.path())->path(), target)
        << "no temporary file left beside it";
}

// What an export says takes room kept for it: the Import section below stays where it was.
TEST_F(BackupSettingsPaneTest, TheExportsNoticeMovesNothingBelowIt) {
    auto& s = startedState();
    BackupSettingsPane pane(s);
    pane.resize(660, 500);
    pane.show();
    processEvents();
    auto* importButton = pane.findChild<QPushButton*>(QStringLiteral("importButton"));
    const auto place = [&] { return importButton->mapTo(&pane, QPoint(0, 0)); };
    const QPoint before = place();
    BackupFileDialog::setNextAnswer(path(dir / "rules.tesvano"));
    pane.exportConfiguration();
    processEvents();
    ASSERT_TRUE(shows(pane, "exportedNotice"));
    EXPECT_EQ(place(), before) << "Saved as";
    BackupFileDialog::setNextAnswer(path(dir / "no-such-folder" / "rules.tesvano"));
    pane.exportConfiguration();
    processEvents();
    ASSERT_TRUE(shows(pane, "exportNotice"));
    EXPECT_EQ(place(), before) << "Couldn't save";
}

TEST_F(BackupSettingsPaneTest, BadFilesShowTheirReasonAndChangeNothing) {
    auto& s = startedState();
    const LockConfiguration before = s.config();
    test::writeFile(dir / "other.json", R"({"name":"not ours"})");
    test::writeFile(dir / "damaged.tesvano",
                    R"({"format":"com.quorvel.Tesvano.backup","payload":{"appRules":[{}]}})");
    test::writeFile(dir / "newer.tesvano",
                    R"({"format":"com.quorvel.Tesvano.backup","minReader":2,"appVersion":"9.1"})");
    test::writeFile(dir / "huge.tesvano", std::string(10 * 1024 * 1024, ' '));
    const struct {
        std::filesystem::path file;
        const char* notice;
    } cases[] = {
        {dir / "missing.tesvano",
         "Couldn't read the selected file. Check permissions and try again."},
        {dir.path(), "Couldn't read the selected file. Check permissions and try again."},
        {dir / "other.json", "This file isn't a Tesvano backup."},
        {dir / "huge.tesvano", "This file isn't a Tesvano backup."},
        {dir / "damaged.tesvano", "This backup file is damaged and can't be read."},
        {dir / "newer.tesvano",
         "This backup was made by a newer Tesvano (9.1). Update Tesvano, then try again."},
    };
    BackupSettingsPane pane(s);
    for (const auto& c : cases) {
        BackupFileDialog::setNextAnswer(path(c.file));
        importAndWait(pane);
        EXPECT_TRUE(shows(pane, "importNotice")) << c.file;
        EXPECT_EQ(pane.findChild<QWidget*>(QStringLiteral("importNotice"))
                      ->findChildren<QLabel*>()
                      .last()
                      ->text(),
                  QString::fromUtf8(c.notice));
        EXPECT_EQ(pane.reviewDialog(), nullptr);
        EXPECT_EQ(s.config(), before);
    }
    // Starting another import clears the notice, even when it is cancelled.
    BackupFileDialog::setNextAnswer(std::nullopt);
    pane.importConfiguration();
    EXPECT_FALSE(shows(pane, "importNotice"));
}

TEST_F(BackupSettingsPaneTest, ApplyingCommitsTheReviewAndLeavesAReceiptCancelChangesNothing) {
    auto& s = startedState();
    test::writeFile(dir / "b.tesvano", sampleBackup(s));
    BackupSettingsPane pane(s);
    const LockConfiguration before = s.config();

    BackupFileDialog::setNextAnswer(path(dir / "b.tesvano"));
    importAndWait(pane);
    ASSERT_NE(pane.reviewDialog(), nullptr);
    EXPECT_EQ(pane.reviewModel()->plan().mode, ImportMode::merge);
    pane.reviewDialog()->cancelButton()->click();
    processEvents();
    EXPECT_EQ(pane.reviewDialog(), nullptr);
    EXPECT_EQ(pane.reviewModel(), nullptr);
    EXPECT_EQ(s.config(), before);
    EXPECT_FALSE(pane.receipt().has_value());

    BackupFileDialog::setNextAnswer(path(dir / "b.tesvano"));
    importAndWait(pane);
    ASSERT_NE(pane.reviewDialog(), nullptr);
    pane.reviewDialog()->applyButton()->click();
    processEvents();
    EXPECT_EQ(pane.reviewDialog(), nullptr);
    EXPECT_EQ(pane.receipt(), (ImportOutcome{2, 1}));
    EXPECT_EQ(textOf(pane, "receipt.imported"), QStringLiteral("Rules imported: 2"));
    EXPECT_TRUE(shows(pane, "receipt.inactive"));
    EXPECT_EQ(textOf(pane, "receipt.inactive"), QStringLiteral("Not active until installed: 1"));
    ASSERT_NE(s.config().appRule("org.other.App"), nullptr);
    EXPECT_EQ(s.store().load(), s.config()) << "committed to the store";
}

TEST_F(BackupSettingsPaneTest, ChangesMadeWhileTheReviewIsOpenSurviveApply) {
    auto& s = startedState();
    test::writeFile(dir / "b.tesvano", sampleBackup(s));
    BackupSettingsPane pane(s);
    BackupFileDialog::setNextAnswer(path(dir / "b.tesvano"));
    importAndWait(pane);
    ASSERT_NE(pane.reviewDialog(), nullptr);
    pane.reviewModel()->setInclude("app:code", false);

    // A shortcut, the tray menu and a command act while the dialog is open.
    s.toggleLock();
    s.upsertURLRule(URLRule{Uuid::random(), "example.org", InputSourceID("xkb:us"),
                            RuleAction::lock, URLMatchType::domain});
    s.upsertAppRule(AppRule{"org.other.App", AppRuleMode::ignored, std::nullopt});
    const bool enabled = s.config().isEnabled;

    pane.reviewDialog()->applyButton()->click();
    processEvents();
    EXPECT_EQ(s.config().isEnabled, enabled);
    ASSERT_EQ(s.config().urlRules.size(), 1u);
    EXPECT_EQ(s.config().urlRules[0].hostPattern, "example.org");
    // Now a conflict, kept as the user set it; the rule the user left out stays out.
    EXPECT_EQ(*s.config().appRule("org.other.App"),
              (AppRule{"org.other.App", AppRuleMode::ignored, std::nullopt}));
    EXPECT_EQ(s.config().appRule("code"), nullptr);
    EXPECT_EQ(pane.receipt(), (ImportOutcome{0, 0}));
    EXPECT_FALSE(shows(pane, "receipt.inactive"));
}

TEST_F(BackupSettingsPaneTest, ABackupAtTheCapIsReadOffTheInterfaceThreadAndShownAPageAtATime) {
    auto& s = startedState();
    LockConfiguration remote;
    for (std::size_t i = 0; i < ConfigBackup::maximumRules / 2; ++i) {
        const std::string n = std::to_string(i);
        remote.appRules.push_back(
            AppRule{"org.example.App" + n, AppRuleMode::locked, InputSourceID("xkb:de")});
        remote.urlRules.push_back(
            URLRule{Uuid::random(), "site" + n + ".example.org", InputSourceID("xkb:de")});
    }
    test::writeFile(dir / "cap.tesvano",
                    ConfigBackup::fromConfiguration(remote, "1", {}).encodedData().value());
    remote.appRules.push_back(AppRule{"one.too.many", AppRuleMode::ignored, std::nullopt});
    test::writeFile(dir / "over.tesvano",
                    ConfigBackup::fromConfiguration(remote, "1", {}).encodedData().value());
    BackupSettingsPane pane(s);

    BackupFileDialog::setNextAnswer(path(dir / "over.tesvano"));
    importAndWait(pane);
    EXPECT_EQ(pane.importError(), BackupReadError::tooManyRules());
    EXPECT_EQ(pane.findChild<QWidget*>(QStringLiteral("importNotice"))
                  ->findChildren<QLabel*>()
                  .last()
                  ->text(),
              QStringLiteral("This backup holds more rules than Tesvano can import (at most "
                             "10000)."));

    BackupFileDialog::setNextAnswer(path(dir / "cap.tesvano"));
    pane.importConfiguration();
    EXPECT_TRUE(pane.reading()) << "the interface goes on while the file is read";
    EXPECT_TRUE(shows(pane, "importProgress"));
    EXPECT_FALSE(pane.findChild<QPushButton*>(QStringLiteral("importButton"))->isEnabled());
    importAndWait(pane);
    EXPECT_FALSE(shows(pane, "importProgress"));
    ASSERT_NE(pane.reviewDialog(), nullptr);

    // Each section shows a page of rows; more come when asked for.
    const auto rows = [&] {
        return pane.reviewDialog()
            ->findChildren<QWidget*>(QRegularExpression(QStringLiteral("^row:")))
            .size();
    };
    EXPECT_EQ(rows(), qsizetype(2 * ImportReviewDialog::rowsPerPage));
    auto* more = pane.reviewDialog()->findChild<QPushButton*>(QStringLiteral("showMore.apps"));
    ASSERT_NE(more, nullptr);
    more->click();
    processEvents();
    EXPECT_EQ(rows(), qsizetype(3 * ImportReviewDialog::rowsPerPage));
    // Choices still reach every rule, shown or not.
    pane.reviewDialog()->findChild<QPushButton*>(QStringLiteral("selectNone.urls"))->click();
    pane.reviewDialog()->applyButton()->click();
    processEvents();
    EXPECT_EQ(s.config().appRules.size(), ConfigBackup::maximumRules / 2 + 1);
    EXPECT_TRUE(s.config().urlRules.empty());
}

}  // namespace
}  // namespace tesvano
