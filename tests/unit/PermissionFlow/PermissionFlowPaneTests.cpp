#include <gtest/gtest.h>

#include "PermissionFlow/PermissionFlowButtonState.h"
#include "PermissionFlow/PermissionFlowPane.h"
#include "PermissionFlow/PermissionFlowResources.h"
#include "PermissionFlow/PermissionStatus.h"
#include "Platform/Accessibility/FakeAssistiveTechnologyStatus.h"

namespace PermissionFlow {
namespace {

using State = PermissionAuthorizationState;

TEST(PermissionFlowPane, ListsTwelvePanesThatRoundTripAndKnowTheirList) {
    ASSERT_EQ(allPanes().size(), 12U);
    EXPECT_EQ(allPanes().front(), PermissionFlowPane::appManagement);
    EXPECT_EQ(allPanes().back(), PermissionFlowPane::screenRecording);
    EXPECT_EQ(rawValue(PermissionFlowPane::mediaAppleMusic), "mediaAppleMusic");
    for (auto pane : allPanes()) {
        EXPECT_EQ(paneFromRawValue(rawValue(pane)), pane);
    }
    EXPECT_FALSE(paneFromRawValue("Accessibility"));
    for (auto pane : {PermissionFlowPane::calendars, PermissionFlowPane::camera,
                      PermissionFlowPane::microphone, PermissionFlowPane::reminders}) {
        EXPECT_FALSE(supportsAppDrag(pane)) << rawValue(pane);
    }
    EXPECT_TRUE(supportsAppDrag(PermissionFlowPane::accessibility));
    EXPECT_EQ(privacyAnchor(PermissionFlowPane::camera), SystemSettings::PrivacyAnchor::camera);
    EXPECT_FALSE(privacyAnchor(PermissionFlowPane::inputMonitoring));
    EXPECT_EQ(localizedName(PermissionFlowPane::accessibility, "en_US"), "Accessibility");
}

TEST(PermissionFlowPane, DecodesStatesByExactName) {
    EXPECT_EQ(stateFromRawValue("checking"), State::checking);
    EXPECT_EQ(stateFromRawValue("notGranted"), State::notGranted);
    EXPECT_FALSE(stateFromRawValue("Granted"));
    EXPECT_FALSE(stateFromRawValue(""));
    EXPECT_EQ(capabilityFromRawValue("unsupported"), PermissionStatusCapability::unsupported);
    EXPECT_FALSE(capabilityFromRawValue("preflight"));
}

TEST(PermissionStatusProbes, ReportOnlyWhatTheyRead) {
    auto bus = std::make_shared<tesvano::platform::FakeAssistiveTechnologyStatus>();
    AccessibilityPermissionStatusProvider accessibility(bus);
    const std::pair<std::optional<bool>, State> busCases[] = {
        {true, State::granted}, {false, State::notGranted}, {std::nullopt, State::unknown}};
    for (const auto& [value, expected] : busCases) {
        bus->value = value;
        EXPECT_EQ(accessibility.status(), expected);
    }

    std::optional<std::string> setting;
    std::vector<std::string> asked;
    auto reader = [&](const std::string& schema, const std::string& key) {
        asked.push_back(schema + " " + key);
        return setting;
    };
    DevicePrivacyStatusProvider microphone(DevicePrivacyStatusProvider::Device::microphone, reader);
    const std::pair<std::optional<std::string>, State> settingCases[] = {
        {"true", State::notGranted},
        {"false", State::granted},
        {std::nullopt, State::unknown},
        {"'garbage'", State::unknown}};
    for (const auto& [value, expected] : settingCases) {
        setting = value;
        EXPECT_EQ(microphone.status(), expected) << value.value_or("none");
    }
    EXPECT_EQ(asked.front(), "org.gnome.desktop.privacy disable-microphone");
}

TEST(PermissionStatusRegistry, HandsOutTheUnsupportedProbeForPanesWithout) {
    using namespace PermissionStatusRegistry;
    auto bus = std::make_shared<tesvano::platform::FakeAssistiveTechnologyStatus>();
    bus->value = true;
    registerAll(standardTable(bus, [](const std::string&, const std::string&) {
        return std::optional<std::string>("false");
    }));
    EXPECT_EQ(provider(PermissionFlowPane::accessibility)->status(), State::granted);
    EXPECT_EQ(provider(PermissionFlowPane::fullDiskAccess)->status(), State::granted);
    EXPECT_EQ(provider(PermissionFlowPane::camera)->status(), State::granted);
    EXPECT_EQ(provider(PermissionFlowPane::screenRecording)->status(), State::granted);
    for (auto pane : {PermissionFlowPane::bluetooth, PermissionFlowPane::developerTools,
                      PermissionFlowPane::appManagement}) {
        EXPECT_EQ(provider(pane)->status(), State::unknown);
        EXPECT_EQ(provider(pane)->capability(), PermissionStatusCapability::unsupported);
    }
    registerProvider(nullptr, PermissionFlowPane::accessibility);
    EXPECT_EQ(provider(PermissionFlowPane::accessibility)->capability(),
              PermissionStatusCapability::unsupported);
}

TEST(PermissionFlowButtonState, ShowsEachStateAndDerivesTitlesFromKeys) {
    const std::tuple<State, const char*, const char*, bool> cases[] = {
        {State::granted, "Granted", "checkmark.seal.fill", true},
        {State::notGranted, "Grant", "arrow.right.circle.fill", false},
        {State::unknown, "Open", "arrow.right.circle.fill", false},
        {State::checking, "Checking...", "clock", false},
    };
    for (const auto& [state, title, image, granted] : cases) {
        auto s = PermissionFlowButtonState::forState(state);
        EXPECT_EQ(s.defaultTitle, title);
        EXPECT_EQ(s.systemImage, image);
        EXPECT_EQ(s.isGranted, granted);
        EXPECT_EQ(PermissionFlowButtonState::withKey(s.titleKey, image, granted), s);
    }
    EXPECT_EQ(PermissionFlowButtonState::withKey("custom", "x", false).defaultTitle, "custom");
}

TEST(PermissionFlowResources, MatchesLocalesFromMostSpecificAndFallsBackToDefaults) {
    using PermissionFlowResources::localeCandidates;
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"zh_Hant_TW", {"zh-Hant-TW", "zh-Hant", "zh"}},
        {"de_DE.UTF-8", {"de-DE", "de"}},
        {"pt-BR", {"pt-BR", "pt"}},
        {"en", {"en"}},
        {"", {}},
    };
    for (const auto& [id, expected] : cases) {
        EXPECT_EQ(localeCandidates(id), expected) << id;
    }
    EXPECT_EQ(PermissionFlowResources::localizedString("permission_flow.no_such_key", "Grant"),
              "Grant");
    EXPECT_EQ(PermissionFlowResources::localizedString("permission_flow.no_such_key"),
              "permission_flow.no_such_key");
}

}  // namespace
}  // namespace PermissionFlow
