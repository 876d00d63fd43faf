#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

#include "Platform/Log/Log.h"
#include "TesvanoKit/History/ActivationEvent.h"

namespace tesvano {
namespace {

TEST(ActivationReason, StoredByExactCaseName) {
    int count = 0;
    for (auto reason : allCases<ActivationReason>()) {
        EXPECT_EQ(enumFromRawValue<ActivationReason>(rawValue(reason)), reason);
        ++count;
    }
    EXPECT_EQ(count, 13);
    EXPECT_EQ(rawValue(ActivationReason::conflictPaused), "conflictPaused");
    EXPECT_FALSE(enumFromRawValue<ActivationReason>("ConflictPaused"));
    EXPECT_FALSE(enumFromRawValue<ActivationReason>("appactivated"));
    EXPECT_EQ(allCases<ActivationReason>().front(), ActivationReason::revertedSwitch);
}

TEST(ActivationEvent, EqualityAndHashingCoverEveryField) {
    ActivationEvent a{platform::WallTime(platform::Seconds(10)),
                      "xkb:us",
                      "English (US)",
                      ActivationReason::appActivated,
                      1.5,
                      "German",
                      "firefox",
                      RuleSource::appRule,
                      std::nullopt};
    ActivationEvent b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<ActivationEvent>{}(a), std::hash<ActivationEvent>{}(b));

    b.matchedHost = "";
    EXPECT_NE(a, b) << "absent and empty host differ";
    b = a;
    b.durationMs = -0.0;
    a.durationMs = 0.0;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<ActivationEvent>{}(a), std::hash<ActivationEvent>{}(b));
    a.durationMs = b.durationMs = std::nan("");
    EXPECT_NE(a, b);

    std::unordered_set<InputSource> sources{{"xkb:us", "English", false},
                                            {"xkb:us", "English", true}};
    EXPECT_EQ(sources.size(), 2u);
}

TEST(LogFormat, PrivateTextIsRedactedAndPublicTextAndNumbersShow) {
    using platform::formatLogMessage;
    EXPECT_EQ(formatLogMessage("URL command received: %{public}s", {"tesvano://lock"}),
              "URL command received: tesvano://lock");
    EXPECT_EQ(formatLogMessage("app %s took %d ms (%.1f)", {"firefox", 12, 2.25}),
              "app <private> took 12 ms (2.2)");
    EXPECT_EQ(formatLogMessage("%{private}d%% of %{public}ld", {5, 7L}), "<private>% of 7");
    EXPECT_EQ(formatLogMessage("missing %s", {}), "missing <missing>");
    EXPECT_EQ(formatLogMessage("dangling %", {}), "dangling %");
}

}  // namespace
}  // namespace tesvano
