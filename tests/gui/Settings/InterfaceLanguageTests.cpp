#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QToolButton>

#include "Tesvano/App/QtTranslations.h"
#include "Tesvano/Menu/StatusMenu.h"
#include "Tesvano/Settings/SettingsWindow.h"
#include "Tesvano/Windows/AboutView.h"
#include "TesvanoKit/Languages/Localization.h"
#include "tests/gui/AppFixture.h"
#include "tests/gui/GuiApplication.h"

namespace tesvano {
namespace {

class InterfaceLanguageTest : public test::AppFixture {
protected:
    ~InterfaceLanguageTest() override { LanguageOverride::apply(SupportedLanguage::english); }
};

// Choosing a language in General changes every open window and the tray menu at once, from
// the compiled tables: no restart, no reopening.
TEST_F(InterfaceLanguageTest, ChoosingALanguageRetitlesOpenWindowsAndTheTrayMenuAtOnce) {
    auto& s = makeState();
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
    s.makeAboutContent = [&s](const std::function<void()>&) -> QWidget* {
        return new AboutView(s);
    };
    s.start();
    SettingsWindow window(s);
    window.show();
    s.aboutWindow().show();
    StatusMenu tray(s, [] {});

    auto expect = [&](SupportedLanguage language) {
        const auto in = [&](std::string_view key) {
            return QString::fromStdString(Localization::text(key, language));
        };
        const std::string code(rawValue(language));
        EXPECT_TRUE(window.windowTitle().startsWith(in("General") + QStringLiteral(" \u2013 ")))
            << code;
        // A long title may take two lines.
        EXPECT_EQ(window.tabButton(SettingsTab::urlRules)
                      ->text()
                      .replace(QLatin1Char('\n'), QLatin1Char(' ')),
                  in("URL Rules"))
            << code;
        EXPECT_EQ(s.aboutWindow().window()->windowTitle(), in("About Tesvano")) << code;
        EXPECT_EQ(tray.item(QStringLiteral("settings"))->text(), in("Settings…")) << code;
        EXPECT_EQ(tray.item(QStringLiteral("quit"))->text(), in("Quit")) << code;
        auto* status = window.pane(SettingsTab::general)
                           ->findChild<QGroupBox*>(QStringLiteral("statusSection"));
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(status->title(), in("Status")) << code;
    };
    expect(SupportedLanguage::english);

    const std::pair<int, std::string_view> choices[] = {
        {10, "Общие"}, {5, "一般"}, {3, "通用"}, {7, "Allgemein"}, {2, "General"}};
    for (const auto& [index, general] : choices) {
        auto* picker =
            window.pane(SettingsTab::general)->findChild<QComboBox*>(QStringLiteral("language"));
        ASSERT_NE(picker, nullptr);
        picker->setCurrentIndex(index);
        emit picker->activated(index);
        processEvents();
        const auto language = s.effectiveLanguage();
        EXPECT_TRUE(
            window.windowTitle().toStdString().starts_with(std::string(general) + " \u2013 "))
            << index;
        expect(language);
    }
    s.aboutWindow().closeWindow();
}

// Qt's own dialogs (its file chooser, where no portal runs) speak the interface language too,
// from the system's catalogues, and change with it while they are open.
TEST_F(InterfaceLanguageTest, QtsOwnDialogsFollowTheInterfaceLanguage) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const auto language : allCases<SupportedLanguage>()) {
        const QString name = QtTranslations::catalogue(language);
        if (language == SupportedLanguage::english) {
            EXPECT_TRUE(name.isEmpty());
            continue;
        }
        EXPECT_TRUE(QFileInfo::exists(folder + QLatin1Char('/') + name + QStringLiteral(".qm")))
            << name.toStdString() << " in " << folder.toStdString()
            << " (qt6-translations-l10n, see scripts/deps)";
    }

    auto& s = makeState();
    QFileDialog chooser;
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    const auto label = [&] {
        return chooser.findChild<QLabel*>(QStringLiteral("fileNameLabel"))->text();
    };
    const auto cancel = [] { return QCoreApplication::translate("QPlatformTheme", "Cancel"); };
    const QString english = label();
    const std::pair<SupportedLanguage, const char*> cancels[] = {
        {SupportedLanguage::german, "Abbrechen"},
        {SupportedLanguage::russian, "Отмена"},
        {SupportedLanguage::simplifiedChinese, "取消"},
        {SupportedLanguage::portuguese, "Cancelar"}};
    for (const auto& [language, word] : cancels) {
        s.setLanguagePreference(LanguagePreference::specific(language));
        processEvents();
        EXPECT_EQ(cancel(), QString::fromUtf8(word)) << rawValue(language);
        EXPECT_NE(label(), english) << rawValue(language) << ": the open chooser retranslates";
    }
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
    processEvents();
    EXPECT_EQ(cancel(), QStringLiteral("Cancel"));
    EXPECT_EQ(label(), english);
}

}  // namespace
}  // namespace tesvano
