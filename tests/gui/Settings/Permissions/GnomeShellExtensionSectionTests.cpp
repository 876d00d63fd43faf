#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "Platform/TextInput/GnomeShell/GnomeShellExtension.h"
#include "Tesvano/Settings/Permissions/GnomeShellExtensionSection.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

// A GNOME session without our extension, which counts the installs asked for.
class AbsentExtension final : public platform::GnomeShellExtension {
public:
    platform::GnomeShellExtensionFacts facts() override {
        platform::GnomeShellExtensionFacts facts;
        facts.gnome = true;
        return facts;
    }
    std::expected<void, std::string> installAndEnable() override {
        ++installs;
        return {};
    }
    std::shared_ptr<void> watch(std::function<void()>) override { return nullptr; }

    int installs = 0;
};

class GnomeShellExtensionSectionTest : public test::AppFixture {
protected:
    // Clicks the install button and, once the confirmation shows, reads its buttons and
    // presses the one named `press`.
    QStringList installAnswering(GnomeShellExtensionSection& section, const QString& press) {
        QStringList buttons;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->objectName(), QStringLiteral("confirmGnomeExtension"));
            for (QAbstractButton* button : box->buttons()) {
                buttons << button->text();
            }
            box->findChild<QPushButton*>(press)->click();
        });
        section.findChild<QPushButton*>(QStringLiteral("installGnomeExtension"))->click();
        return buttons;
    }
};

// The confirmation's buttons say what they do, in the interface language, and only the one
// that installs installs.
TEST_F(GnomeShellExtensionSectionTest, TheConfirmationAnswersWithVerbs) {
    auto& s = makeState();
    AbsentExtension extension;
    GnomeShellExtensionSection section(s, extension);
    section.show();
    processEvents();
    auto buttons = installAnswering(section, QStringLiteral("cancel"));
    buttons.sort();
    EXPECT_EQ(buttons,
              (QStringList{QStringLiteral("Cancel"), QStringLiteral("Install and Enable")}));
    EXPECT_EQ(extension.installs, 0);

    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::german));
    buttons = installAnswering(section, QStringLiteral("installAndEnable"));
    EXPECT_TRUE(buttons.contains(QStringLiteral("Installieren und aktivieren")))
        << buttons.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(extension.installs, 1);
    s.setLanguagePreference(LanguagePreference::specific(SupportedLanguage::english));
}

}  // namespace
}  // namespace tesvano
