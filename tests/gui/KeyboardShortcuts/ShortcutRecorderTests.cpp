#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QVBoxLayout>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KeyboardShortcuts/KeyCodeTable.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Library.h"
#include "KeyboardShortcuts/Recorder/MainMenu.h"
#include "KeyboardShortcuts/Recorder/Recorder.h"
#include "KeyboardShortcuts/Recorder/WidgetShortcut.h"
#include "Platform/Defaults/Defaults.h"
#include "Platform/HotKeys/FakeHotKeys.h"
#include "TesvanoKit/Languages/Localization.h"
#include "tests/gui/GuiApplication.h"

namespace KeyboardShortcuts {
namespace {

using tesvano::platform::FakeHotKeys;
using tesvano::platform::MemoryDefaults;

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest() {
        tesvano::LanguageOverride::apply(tesvano::SupportedLanguage::english);
        setBeepHandler([this] { ++beeps; });
        setAlertPresenter([this](QWidget*, const RecorderAlert& alert) {
            alerts.push_back(alert);
            return alertAnswer;
        });
    }
    ~RecorderTest() override {
        window.reset();
        setBeepHandler({});
        setAlertPresenter({});
        setMainMenuProvider({});
    }

    // The recorder comes first in the window's focus chain, before a plain text field.
    Recorder& show() {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        recorder = new Recorder(
            name, [this](const std::optional<Shortcut>& s) { changes.push_back(s); }, window.get());
        other = new QLineEdit(window.get());
        layout->addWidget(recorder);
        layout->addWidget(other);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return *recorder;
    }
    void startRecording() {
        QTest::mouseClick(recorder, Qt::LeftButton, {}, QPoint(20, recorder->height() / 2));
        ASSERT_TRUE(recorder->isRecording());
    }
    std::optional<std::string> stored() const { return defaults.string(name.storageKey()); }

    QApplication& application = tesvano::guitest::guiApplication();
    MemoryDefaults defaults;
    FakeHotKeys hotKeys;
    Library library{defaults, hotKeys, hotKeys};
    Name name{"testShortcut"};
    std::unique_ptr<QWidget> window;
    Recorder* recorder = nullptr;
    QLineEdit* other = nullptr;
    std::vector<std::optional<Shortcut>> changes;
    int beeps = 0;
    std::vector<RecorderAlert> alerts;
    int alertAnswer = 0;
};

TEST_F(RecorderTest, ClickRecordsEscapeEndsAndLeavesTheStoredShortcut) {
    setShortcut(Shortcut(Key::a, Modifiers::super), name);
    auto& r = show();
    EXPECT_EQ(r.text(), QStringLiteral("Super+A"));
    EXPECT_TRUE(r.isClearButtonShown());
    EXPECT_FALSE(r.hasFocus()) << "activating the window must not start recording";
    EXPECT_EQ(r.placeholderText(), QStringLiteral("Record Shortcut"));

    startRecording();
    EXPECT_EQ(r.placeholderText(), QStringLiteral("Press Shortcut"));
    EXPECT_TRUE(isPaused());

    QTest::keyClick(&r, Qt::Key_Escape);
    EXPECT_FALSE(r.isRecording());
    EXPECT_FALSE(r.hasFocus());
    EXPECT_FALSE(isPaused());
    EXPECT_EQ(r.placeholderText(), QStringLiteral("Record Shortcut"));
    EXPECT_EQ(stored(), R"({"carbonKeyCode":0,"carbonModifiers":256})");
    EXPECT_EQ(r.text(), QStringLiteral("Super+A"));
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(beeps, 0);
}

TEST_F(RecorderTest, KeysWithoutModifiersBeepFunctionKeysAreStoredAndNothingFiresMeanwhile) {
    const Name another{"otherShortcut"};
    const Shortcut controlB(Key::b, Modifiers::control);
    setShortcut(controlB, another);
    int fired = 0;
    onKeyUp(another, [&] { ++fired; });
    auto& r = show();
    startRecording();

    // A registered global shortcut does not fire while the recorder records.
    const auto combination = *xCombination(controlB);
    ASSERT_TRUE(hotKeys.press(combination));
    ASSERT_TRUE(hotKeys.release(combination));
    EXPECT_EQ(fired, 0);

    QTest::keyClick(&r, Qt::Key_A);
    QTest::keyClick(&r, Qt::Key_A, Qt::ShiftModifier);
    EXPECT_EQ(beeps, 2);
    EXPECT_FALSE(stored());
    EXPECT_TRUE(r.isRecording());
    EXPECT_TRUE(r.text().isEmpty()) << "nothing is typed into the field";

    QTest::keyClick(&r, Qt::Key_F6);
    EXPECT_EQ(stored(), R"({"carbonKeyCode":97,"carbonModifiers":0})");
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], Shortcut(Key::f6));
    EXPECT_EQ(r.text(), QStringLiteral("F6"));
    EXPECT_FALSE(r.isRecording());
    EXPECT_FALSE(isPaused());
    EXPECT_TRUE(hotKeys.isGrabbed(*xCombination(Shortcut(Key::f6)))) << "registered at once";
    ASSERT_TRUE(hotKeys.press(combination));
    ASSERT_TRUE(hotKeys.release(combination));
    EXPECT_EQ(fired, 1) << "dispatch resumes when recording ends";

    startRecording();
    QTest::keyClick(&r, Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_EQ(stored(), R"({"carbonKeyCode":97,"carbonModifiers":512})");
    EXPECT_EQ(beeps, 2);
}

TEST_F(RecorderTest, DeleteClearsAndKeepsRecordingAndDoesNothingOnAnEmptyField) {
    setShortcut(Shortcut(Key::a, Modifiers::super), name);
    auto& r = show();
    startRecording();

    QTest::keyClick(&r, Qt::Key_Backspace);
    EXPECT_FALSE(defaults.value(name.storageKey()));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::nullopt);
    EXPECT_TRUE(r.text().isEmpty());
    EXPECT_FALSE(r.isClearButtonShown());
    EXPECT_TRUE(r.isRecording());
    EXPECT_TRUE(isPaused());
    EXPECT_FALSE(hotKeys.isGrabbed(*xCombination(Shortcut(Key::a, Modifiers::super))));

    QTest::keyClick(&r, Qt::Key_Delete);
    EXPECT_EQ(changes.size(), 1u);
    EXPECT_EQ(beeps, 0);

    QTest::keyClick(&r, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(r.text(), QStringLiteral("Ctrl+Alt+K"));
    EXPECT_TRUE(r.isClearButtonShown());
}

TEST_F(RecorderTest, AMenuItemWithTheCombinationRaisesTheAlertAndNothingIsStored) {
    QMenu menu;
    menu.addAction(QStringLiteral("&Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    auto* more = menu.addMenu(QStringLiteral("More"));
    more->addAction(QStringLiteral("Save && Quit"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q));
    setMainMenuProvider([&menu] { return menuItems(menu); });
    setShortcut(Shortcut(Key::a, Modifiers::super), name);
    auto& r = show();
    startRecording();

    QTest::keyClick(&r, Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0].messageText.contains(QStringLiteral("“Settings…”")))
        << alerts[0].messageText.toStdString();
    EXPECT_TRUE(alerts[0].buttons.isEmpty());
    EXPECT_TRUE(r.isRecording()) << "recording starts again after the alert";

    QTest::keyClick(&r, Qt::Key_Q, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_TRUE(alerts[1].messageText.contains(QStringLiteral("Save & Quit")));
    EXPECT_EQ(stored(), R"({"carbonKeyCode":0,"carbonModifiers":256})");
    EXPECT_TRUE(changes.empty());

    // Control-Q without Shift is not the item's.
    QTest::keyClick(&r, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(alerts.size(), 2u);
    EXPECT_EQ(stored(), R"({"carbonKeyCode":12,"carbonModifiers":4096})");
}

TEST_F(RecorderTest, ACombinationHeldElsewhereIsStoredOnlyWhenTheUserInsists) {
    const Shortcut taken(Key::t, Modifiers::control | Modifiers::alt);
    hotKeys.holdElsewhere(*xCombination(taken));
    hotKeys.holdElsewhere(*xCombination(Shortcut(Key::f12)));
    auto& r = show();
    startRecording();

    QTest::keyClick(&r, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Use Anyway")}));
    EXPECT_FALSE(alerts[0].informativeText.isEmpty());
    EXPECT_FALSE(stored());
    EXPECT_TRUE(r.isRecording());

    alertAnswer = 1;
    QTest::keyClick(&r, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(alerts.size(), 2u);
    EXPECT_EQ(stored(), taken.encode());
    EXPECT_FALSE(r.isRecording());

    // Bare F12 never counts as the system's.
    startRecording();
    QTest::keyClick(&r, Qt::Key_F12);
    EXPECT_EQ(alerts.size(), 2u);
    EXPECT_EQ(stored(), Shortcut(Key::f12).encode());
}

TEST_F(RecorderTest, ClicksNearTheFieldKeepRecordingAndFartherOnesEndIt) {
    auto& r = show();
    startRecording();
    const QPoint topLeft = r.mapTo(window.get(), QPoint(0, 0));
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, topLeft + QPoint(r.width() + 2, 5));
    EXPECT_TRUE(r.isRecording()) << "2 points past the right edge is still the field";
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, topLeft + QPoint(r.width() + 4, 5));
    EXPECT_FALSE(r.isRecording());
    EXPECT_FALSE(isPaused());
}

TEST_F(RecorderTest, AnotherWindowEndsRecordingAndComingBackDoesNotResumeIt) {
    auto& r = show();
    startRecording();
    QWidget second;
    second.show();
    second.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&second));
    EXPECT_FALSE(r.isRecording());
    EXPECT_FALSE(isPaused());

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_FALSE(r.isRecording());
    EXPECT_FALSE(r.hasFocus());
}

TEST_F(RecorderTest, ChangesMadeElsewhereShowAtOnce) {
    auto& r = show();
    EXPECT_TRUE(r.text().isEmpty());
    setShortcut(Shortcut(Key::l, Modifiers::control | Modifiers::alt), name);
    EXPECT_EQ(r.text(), QStringLiteral("Ctrl+Alt+L"));
    setShortcut(std::nullopt, name);
    EXPECT_TRUE(r.text().isEmpty());
    EXPECT_FALSE(r.hasFocus()) << "a change made elsewhere does not start recording";
    EXPECT_TRUE(changes.empty());
}

TEST_F(RecorderTest, AnEmptyFieldShowsThePromptWhileRecordingAndFitsEveryLanguage) {
    auto& r = show();
    startRecording();
    const QImage prompted = r.grab().toImage();
    r.setPlaceholderText(QString());
    EXPECT_NE(prompted, r.grab().toImage()) << "the prompt is drawn while the field has the focus";

    for (const auto& [language, code] : tesvano::EnumTable<tesvano::SupportedLanguage>::entries) {
        for (const char* key : {"record_shortcut", "press_shortcut"}) {
            const QString text = QString::fromStdString(tesvano::Localization::text(key, language));
            EXPECT_GT(r.sizeHint().width(), r.fontMetrics().horizontalAdvance(text) + 32)
                << code << " " << key;
        }
    }
}

TEST_F(RecorderTest, AWidgetHearsItsShortcutOnlyWhileShown) {
    const auto combination = *xCombination(Shortcut(Key::f6));
    setShortcut(Shortcut(Key::f6), name);
    int ups = 0;
    std::vector<EventType> events;
    auto widget = std::make_unique<QWidget>();
    onKeyboardShortcut(*widget, name, EventType::keyUp, [&] { ++ups; });
    onKeyboardShortcut(*widget, name, [&](EventType type) { events.push_back(type); });
    hotKeys.press(combination);
    hotKeys.release(combination);
    EXPECT_EQ(ups, 0) << "not shown yet";

    widget->show();
    hotKeys.press(combination);
    hotKeys.release(combination);
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(events, (std::vector<EventType>{EventType::keyDown, EventType::keyUp}));

    widget->hide();
    EXPECT_FALSE(hotKeys.isGrabbed(combination)) << "the last subscription gave it back";
    widget->show();
    widget.reset();
    EXPECT_FALSE(hotKeys.isGrabbed(combination));
    EXPECT_FALSE(hotKeys.release(combination));
    EXPECT_EQ(ups, 1);
}

}  // namespace
}  // namespace KeyboardShortcuts
