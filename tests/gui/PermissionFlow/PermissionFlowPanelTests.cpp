#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "PermissionFlow/Panels/AppDragSourceView.h"
#include "PermissionFlow/Panels/FloatingDropPanel.h"
#include "PermissionFlow/Panels/PermissionFlowButton.h"
#include "PermissionFlow/PermissionStatus.h"
#include "Platform/Accessibility/FakeAssistiveTechnologyStatus.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/Workspace/FakeWindowList.h"
#include "Platform/Workspace/FakeWorkspace.h"
#include "tests/gui/GuiApplication.h"
#include "tests/support/TempDir.h"

namespace PermissionFlow {
namespace {

using namespace tesvano::platform;

class PermissionFlowPanelTest : public ::testing::Test {
protected:
    PermissionFlowPanelTest() {
        tesvano::guitest::guiApplication();
        workspace.addRunning(settings);
        windows.list = {{8, 50, {50, 50, 600, 300}, true}};
        entry = dir.path() / "tesvano.desktop";
        writeEntry("Tesvano");
    }
    void writeEntry(const std::string& name) {
        tesvano::test::writeFile(
            entry, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=tesvano\n");
    }
    std::unique_ptr<PermissionFlowController> make(
        bool withPanel = true, SystemSettings::Desktop desktop = SystemSettings::Desktop::gnome) {
        const SystemSettings::Catalogue catalogue(desktop);
        const auto program = catalogue.settingsApplication().value();
        workspace.addRunning({50, program.appId, "/usr/bin/" + program.executable});
        PermissionFlowEnvironment env{loop, workspace, windows, catalogue};
        env.launcher =
            [](const std::vector<std::string>&) -> std::expected<std::int32_t, std::string> {
            return 90;
        };
        env.assistiveTechnologies = bus;
        env.mainApplicationEntry = entry;
        return std::make_unique<PermissionFlowController>(
            env, PermissionFlowConfiguration{},
            [withPanel](PermissionFlowController& c) -> std::unique_ptr<FloatingPanel> {
                if (!withPanel) {
                    return nullptr;
                }
                return makeFloatingDropPanel(c, {});
            });
    }
    static FloatingDropPanel* shownPanel() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* p = qobject_cast<FloatingDropPanel*>(w); p && p->isVisible()) {
                return p;
            }
        }
        return nullptr;
    }

    tesvano::test::TempDir dir;
    std::filesystem::path entry;
    ManualRunLoop loop;
    FakeWorkspace workspace;
    FakeWindowList windows;
    std::shared_ptr<FakeAssistiveTechnologyStatus> bus =
        std::make_shared<FakeAssistiveTechnologyStatus>();
    RunningApplication settings{50, "org.gnome.Settings", "/usr/bin/gnome-control-center"};
};

TEST_F(PermissionFlowPanelTest, TheDragAreaIsFoundInItsParentsCoordinates) {
    QWidget parent;
    parent.resize(600, 400);
    AppDragSourceView card(entry, std::nullopt, {}, &parent);
    card.setGeometry(100, 50, 300, 60);
    const std::tuple<QPoint, bool> cases[] = {
        {{105, 55}, true}, {{399, 109}, true}, {{5, 5}, false},
        {{299, 59}, true}, {{401, 60}, false}, {{150, 111}, false},
    };
    for (const auto& [point, inside] : cases) {
        EXPECT_EQ(card.hitTest(point) == &card, inside) << point.x() << "," << point.y();
    }
}

TEST_F(PermissionFlowPanelTest, DragsTheDesktopEntryInEveryFormAfterFourPixels) {
    AppDragSourceView card(entry, std::nullopt, {});
    card.resize(300, 60);
    std::vector<bool> states;
    std::unique_ptr<QMimeData> dropped;
    card.onDragStateChange = [&](bool d) { states.push_back(d); };
    card.runDrag = [&](QMimeData* mime, const QPixmap&) { dropped.reset(mime); };
    QTest::mousePress(&card, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(&card, QPoint(24, 20));
    EXPECT_TRUE(states.empty());
    QTest::mouseMove(&card, QPoint(25, 20));
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    QTest::mouseMove(&card, QPoint(40, 20));
    EXPECT_EQ(states.size(), 2U) << "a second drag needs a new press";
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->formats(),
              (QStringList{
                  QStringLiteral("text/uri-list"), QStringLiteral("application/x-kde4-urilist"),
                  QStringLiteral("x-special/gnome-copied-files"), QStringLiteral("text/x-moz-url"),
                  QStringLiteral("text/plain;charset=utf-8")}));
    EXPECT_EQ(dropped->urls().value(0).toLocalFile().toStdString(), entry.string());
    EXPECT_EQ(card.applicationName(), QStringLiteral("Tesvano"));
}

TEST_F(PermissionFlowPanelTest, AHostileApplicationNameShowsAsWritten) {
    writeEntry("**Evil** [click](http://example.com) <i>x</i>");
    auto flow = make();
    flow->open(PermissionFlowPane::accessibility, {});
    auto* panel = shownPanel();
    ASSERT_NE(panel, nullptr);
    const QString html = panel->view()->instructionText();
    EXPECT_TRUE(html.contains(
        QStringLiteral("<b>**Evil** [click](http://example.com) &lt;i&gt;x&lt;/i&gt;</b>")))
        << html.toStdString();
    EXPECT_FALSE(html.contains(QStringLiteral("<a"))) << html.toStdString();
    // The drag card shows the name as it is written, markup and all.
    AppDragSourceView standalone(entry, std::nullopt, {});
    auto* card = &standalone;
    int shown = 0;
    for (auto* label : card->findChildren<QLabel*>()) {
        if (label->text().contains(QStringLiteral("<i>x</i>"))) {
            ++shown;
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
    EXPECT_EQ(shown, 1);
    flow->stop(false);
}

// What each desktop's accessibility settings offer: no desktop has a list to drop Tesvano onto.
TEST_F(PermissionFlowPanelTest, TheGuideSaysWhatEachDesktopsSettingsOffer) {
    using D = SystemSettings::Desktop;
    const struct {
        D desktop;
        const char* instruction;
        const char* turnOff;
    } cases[] = {
        {D::gnome, "The accessibility settings of GNOME have no switch", "gsettings set"},
        {D::kde, "The accessibility settings of KDE have no switch", "gsettings set"},
        {D::cinnamon, "The accessibility settings of Cinnamon have no switch", "gsettings set"},
        {D::xfce, "Turn on <b>Enable assistive technologies</b> in the settings above; Xfce",
         "in the settings above"},
        {D::mate, "Turn on <b>Enable assistive technologies</b> in the settings above; MATE",
         "in the settings above"},
    };
    for (const auto& c : cases) {
        auto flow = make(true, c.desktop);
        flow->open(PermissionFlowPane::accessibility, {});
        loop.advance(Seconds(0.1));
        auto* panel = shownPanel();
        ASSERT_NE(panel, nullptr) << SystemSettings::desktopName(c.desktop);
        ASSERT_TRUE(flow->hasSettingsWindow());
        const QString html = panel->view()->instructionText();
        EXPECT_TRUE(html.startsWith(QString::fromUtf8(c.instruction))) << html.toStdString();
        EXPECT_TRUE(html.contains(QStringLiteral("button below"))) << html.toStdString();
        EXPECT_EQ(panel->findChild<AppDragSourceView*>(), nullptr)
            << "nothing to drop onto: " << html.toStdString();
        EXPECT_TRUE(panel->view()->confirmationText().contains(QString::fromUtf8(c.turnOff)))
            << panel->view()->confirmationText().toStdString();
        flow->stop(false);
    }
}

TEST_F(PermissionFlowPanelTest, SitsBelowTheSettingsWindowAndNeverTakesFocus) {
    auto flow = make();
    flow->open(PermissionFlowPane::accessibility, {});
    loop.advance(Seconds(0.1));
    auto* panel = shownPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    const auto expected = PanelGeometry::targetFrame(
        {50, 50, 600, 300}, FloatingDropPanel::screens(),
        [panel](double w) { return double(panel->view()->heightForWidth(int(w))); });
    EXPECT_EQ(panel->geometry(),
              QRect(int(expected.x), int(expected.y), int(expected.width), int(expected.height)));
    EXPECT_EQ(panel->pos(), QPoint(280, 350)) << "below, right of the sidebar";

    panel->view()->onDragStateChange(true);
    EXPECT_NEAR(panel->windowOpacity(), 0.72, 0.01);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_TransparentForMouseEvents));
    panel->view()->onDragStateChange(false);
    EXPECT_NEAR(panel->windowOpacity(), 1.0, 0.01);
    EXPECT_FALSE(panel->testAttribute(Qt::WA_TransparentForMouseEvents));

    // A press on the panel brings the settings program forward, not the panel.
    windows.activated.clear();
    QTest::mouseClick(panel->view()->findChild<QLabel*>(QStringLiteral("instruction")),
                      Qt::LeftButton);
    EXPECT_EQ(windows.activated, (std::vector<unsigned long>{8}));
    EXPECT_EQ(QApplication::activeWindow(), nullptr);

    auto* close = panel->view()->findChildren<QToolButton*>(QStringLiteral("closeFlow")).last();
    close->click();
    EXPECT_EQ(flow->panel(), nullptr);
    EXPECT_FALSE(flow->tracker().isPolling());
}

// Without a settings program the panel stands alone, centred: every wrapped line of its texts
// shows, whatever the language makes of them.
TEST_F(PermissionFlowPanelTest, TheStandalonePanelShowsEveryLineOfItsTexts) {
    const std::optional<std::string> locales[] = {std::nullopt, "de", "ru", "ja"};
    for (const auto& locale : locales) {
        PermissionFlowEnvironment env{loop, workspace, windows,
                                      SystemSettings::Catalogue(SystemSettings::Desktop::gnome)};
        env.launcher =
            [](const std::vector<std::string>&) -> std::expected<std::int32_t, std::string> {
            return std::unexpected(std::string("not installed"));
        };
        env.assistiveTechnologies = bus;
        env.mainApplicationEntry = entry;
        PermissionFlowController flow(
            env, PermissionFlowConfiguration{},
            [](PermissionFlowController& c) { return makeFloatingDropPanel(c, {}); });
        flow.setLocaleIdentifier(locale);
        flow.open(PermissionFlowPane::accessibility, {});
        loop.advance(Seconds(0.1));
        auto* panel = shownPanel();
        ASSERT_NE(panel, nullptr) << locale.value_or("system");
        ASSERT_FALSE(flow.hasSettingsWindow());
        QApplication::processEvents();
        for (const char* name : {"instruction", "switchNote"}) {
            auto* label = panel->view()->findChild<QLabel*>(QString::fromLatin1(name));
            ASSERT_NE(label, nullptr) << name;
            ASSERT_TRUE(label->isVisible()) << name;
            EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                << name << " in " << locale.value_or("system") << ": "
                << label->text().toStdString();
            const QRect inPanel(label->mapTo(panel, QPoint(0, 0)), label->size());
            EXPECT_LE(inPanel.bottom(), panel->rect().bottom()) << name;
        }
        flow.stop(false);
    }
}

TEST_F(PermissionFlowPanelTest, TurnsAssistiveTechnologiesOnOnlyAfterConfirmation) {
    auto flow = make();
    flow->open(PermissionFlowPane::accessibility, {});
    auto* panel = shownPanel();
    ASSERT_NE(panel, nullptr);
    auto* turnOn =
        panel->view()->findChild<QPushButton*>(QStringLiteral("turnOnAssistiveTechnologies"));
    ASSERT_NE(turnOn, nullptr);
    bool answer = false;
    panel->view()->confirmTurnOn = [&](QWidget*) { return answer; };
    turnOn->click();
    EXPECT_EQ(bus->setCalls, 0);
    bus->failSet = true;
    answer = true;
    turnOn->click();
    auto* note = panel->view()->findChild<QLabel*>(QStringLiteral("switchNote"));
    EXPECT_TRUE(note->text().contains(QStringLiteral("refused"))) << note->text().toStdString();
    EXPECT_TRUE(turnOn->isEnabled());
    bus->failSet = false;
    turnOn->click();
    EXPECT_EQ(bus->value, true);
    EXPECT_FALSE(turnOn->isEnabled());
    flow->stop(false);
}

TEST_F(PermissionFlowPanelTest, TheLibraryButtonShowsTheStateAndOpensTheGuide) {
    PermissionStatusRegistry::registerProvider(
        std::make_shared<AccessibilityPermissionStatusProvider>(bus),
        PermissionFlowPane::accessibility);
    PermissionFlowButton button(PermissionFlowPane::accessibility, {}, make(false), {});
    EXPECT_EQ(button.buttonState().titleKey, "permission_flow.button.checking");
    button.refreshStatus();
    EXPECT_EQ(button.text(), QStringLiteral("Grant"));
    bus->value = true;
    button.refreshStatus();
    EXPECT_TRUE(button.buttonState().isGranted);
    EXPECT_EQ(button.text(), QStringLiteral("Granted"));

    const QColor grantedInk = button.palette().color(QPalette::ButtonText);
    bus->value = false;
    button.refreshStatus();
    EXPECT_NE(button.palette().color(QPalette::ButtonText), grantedInk) << "granted is tinted";

    // The button's locale goes to the flow and its texts.
    button.setLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(button.controller().localeIdentifier(), std::optional<std::string>("de_DE"));
    EXPECT_NE(button.text(), QStringLiteral("Grant")) << "said in German";

    // A title of the caller's own, whatever the state; or a label made from the state.
    PermissionFlowButton titled(PermissionFlowPane::accessibility, {}, make(false), {},
                                QStringLiteral("Let Tesvano read windows"));
    titled.refreshStatus();
    EXPECT_EQ(titled.text(), QStringLiteral("Let Tesvano read windows"));
    PermissionFlowButton labelled(
        PermissionFlowPane::accessibility, {}, make(false), {},
        PermissionFlowButton::Label([](const PermissionFlowButtonState& state) {
            return QString::fromStdString(state.isGranted ? "on" : "off");
        }));
    labelled.refreshStatus();
    EXPECT_EQ(labelled.text(), QStringLiteral("off"));
    bus->value = true;
    labelled.refreshStatus();
    EXPECT_EQ(labelled.text(), QStringLiteral("on"));

    PermissionFlowButton camera(PermissionFlowPane::camera, {}, make(false), {});
    camera.click();
    EXPECT_EQ(camera.controller().currentPane(), PermissionFlowPane::camera);
    EXPECT_EQ(camera.buttonState().titleKey, "permission_flow.button.open")
        << "nothing registered reads the camera here";
    PermissionStatusRegistry::registerProvider(nullptr, PermissionFlowPane::accessibility);
}

}  // namespace
}  // namespace PermissionFlow
