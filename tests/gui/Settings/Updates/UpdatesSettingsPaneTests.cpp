#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "Tesvano/Settings/Updates/UpdatesSettingsPane.h"
#include "tests/gui/AppFixture.h"

namespace tesvano::test {
namespace {

class UpdatesPaneTest : public AppFixture {
protected:
    template <typename T>
    static T* child(const QWidget& pane, const char* name) {
        auto* found = pane.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
};

TEST_F(UpdatesPaneTest, ChangingTheChannelStoresItAndRestartsTheCycle) {
    makeState().start();
    UpdatesSettingsPane pane(*state);
    EXPECT_TRUE(child<QToolButton>(pane, "stable")->isChecked());
    auto answer = offerUpdate("1.2.0");
    child<QToolButton>(pane, "beta")->click();
    EXPECT_EQ(defaults.boolean("usesBetaChannel"), true);
    EXPECT_EQ(*answer, platform::UpdateChoice::dismiss);
    EXPECT_FALSE(state->updateController().pendingUpdateVersion());
    offerUpdate("1.3.0-beta.1");
    child<QToolButton>(pane, "stable")->click();
    EXPECT_EQ(defaults.boolean("usesBetaChannel"), false);
    EXPECT_FALSE(state->updateController().pendingUpdateVersion());
    EXPECT_EQ(updater->resets, 2);
    child<QToolButton>(pane, "stable")->click();
    EXPECT_EQ(updater->resets, 2) << "choosing the same channel changes nothing";
}

TEST_F(UpdatesPaneTest, APendingUpdateIsOfferedAndShownInsteadOfANewCheck) {
    makeState().start();
    int windows = 0;
    state->updateController().onPresentUpdateWindow = [&] { ++windows; };
    UpdatesSettingsPane pane(*state);
    auto* row = child<QWidget>(pane, "pendingUpdateRow");
    EXPECT_TRUE(row->isHidden());
    offerUpdate("1.2.0");
    EXPECT_FALSE(row->isHidden());
    EXPECT_EQ(child<QLabel>(pane, "pendingVersion")->text(),
              QStringLiteral("Version 1.2.0 is available"));
    child<QPushButton>(pane, "installUpdate")->click();
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(updater->checks, 0);
    state->updateController().resetUpdateCycle();
    EXPECT_TRUE(row->isHidden());
    child<QPushButton>(pane, "checkForUpdates")->click();
    EXPECT_EQ(updater->checks, 1);
}

TEST_F(UpdatesPaneTest, TheToggleAndLastCheckFollowTheUpdater) {
    makeState().start();
    updater->automatic = false;
    UpdatesSettingsPane pane(*state);
    EXPECT_FALSE(child<QCheckBox>(pane, "automaticChecks")->isChecked());
    EXPECT_EQ(child<QLabel>(pane, "lastChecked")->text(), QStringLiteral("Never"));
    child<QCheckBox>(pane, "automaticChecks")->click();
    EXPECT_TRUE(updater->automatic);
    EXPECT_TRUE(child<QLabel>(pane, "updatesUnavailable")->isHidden());
    const auto when = platform::WallTime(platform::Seconds(1'800'000'000.0));
    EXPECT_NE(UpdatesSettingsPane::lastCheckedText(*state, when), QStringLiteral("Never"));
    EXPECT_TRUE(
        UpdatesSettingsPane::lastCheckedText(*state, when).contains(QStringLiteral("2027")));
    // The interface language, whatever the system's.
    state->setLanguagePreference(LanguagePreference::specific(SupportedLanguage::german));
    EXPECT_TRUE(UpdatesSettingsPane::lastCheckedText(*state, when).contains(QStringLiteral("Jan")))
        << UpdatesSettingsPane::lastCheckedText(*state, when).toStdString();
    state->setLanguagePreference(LanguagePreference::specific(SupportedLanguage::russian));
    EXPECT_TRUE(UpdatesSettingsPane::lastCheckedText(*state, when).contains(QStringLiteral("янв")))
        << UpdatesSettingsPane::lastCheckedText(*state, when).toStdString();
}

TEST_F(UpdatesPaneTest, SaysWhyCheckingIsUnavailable) {
    struct Case {
        const char* name;
        bool noUpdater;
        bool startFails;
        const char* reason;
    };
    const Case cases[] = {
        {"no feed", true, false, "This build checks no update feed."},
        {"start failed", false, true,
         "Checking for updates is unavailable: the updater could not start. The log says why."},
    };
    for (const auto& c : cases) {
        updaterStartFails = c.startFails;
        auto s = services();
        if (c.noUpdater) {
            s.makeUpdater = nullptr;
        }
        state = std::make_unique<AppState>(std::move(s));
        state->start();
        UpdatesSettingsPane pane(*state);
        EXPECT_FALSE(child<QPushButton>(pane, "checkForUpdates")->isEnabled()) << c.name;
        EXPECT_FALSE(child<QCheckBox>(pane, "automaticChecks")->isEnabled()) << c.name;
        EXPECT_FALSE(child<QCheckBox>(pane, "automaticChecks")->isChecked()) << c.name;
        EXPECT_EQ(child<QLabel>(pane, "lastChecked")->text(), QStringLiteral("Never")) << c.name;
        EXPECT_FALSE(child<QLabel>(pane, "updatesUnavailable")->isHidden()) << c.name;
        EXPECT_EQ(child<QLabel>(pane, "updatesUnavailable")->text(), QString::fromUtf8(c.reason))
            << c.name;
        for (const char* channel : {"stable", "beta"}) {
            EXPECT_FALSE(child<QToolButton>(pane, channel)->isEnabled()) << c.name << channel;
            EXPECT_EQ(child<QToolButton>(pane, channel)->toolTip(), QString::fromUtf8(c.reason))
                << c.name << channel;
        }
    }
}

}  // namespace
}  // namespace tesvano::test
