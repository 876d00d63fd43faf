#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/Runtime/Retry.h"

namespace tesvano::platform {
namespace {

const std::vector<Seconds> kDelays = {Seconds(0.5), Seconds(1), Seconds(2)};

// An attempt whose outcome comes `answerAfter` later on the loop, like a D-Bus answer.
struct Scripted {
    std::vector<bool> outcomes;  // one per attempt; past the end: failure
    Seconds answerAfter{0.25};
};

struct Case {
    const char* name;
    Scripted script;
    int attempts;
    bool succeeded;
    bool gaveUp;
    std::vector<double> startedAt;  // virtual time of each attempt
};

TEST(Retry, TriesAgainOnTheTimersUntilItWorksOrTheDelaysAreSpent) {
    const std::vector<Case> cases = {
        {"answers at once", {{true}}, 1, true, false, {0}},
        {"answers the third time", {{false, false, true}}, 3, true, false, {0, 0.75, 2.0}},
        {"never answers", {{}}, 4, false, true, {0, 0.75, 2.0, 4.25}},
        {"fails on the spot", {{false, true}, Seconds(0)}, 2, true, false, {0, 0.5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManualRunLoop loop;
        std::vector<double> started;
        int successes = 0;
        int giveUps = 0;
        Retry retry(
            loop, kDelays,
            [&](Retry::Done done) {
                const auto index = started.size();
                started.push_back(loop.uptime().count());
                const bool ok = index < c.script.outcomes.size() && c.script.outcomes[index];
                if (c.script.answerAfter == Seconds(0)) {
                    done(ok);
                } else {
                    loop.post(c.script.answerAfter, [done, ok] { done(ok); });
                }
            },
            [&] { ++successes; }, [&] { ++giveUps; });
        retry.start();
        retry.start();  // an attempt in flight is not doubled
        loop.runUntilIdle();
        EXPECT_EQ(retry.attempts(), c.attempts);
        EXPECT_EQ(retry.succeeded(), c.succeeded);
        EXPECT_EQ(retry.gaveUp(), c.gaveUp);
        EXPECT_EQ(successes, c.succeeded ? 1 : 0);
        EXPECT_EQ(giveUps, c.gaveUp ? 1 : 0);
        ASSERT_EQ(started.size(), c.startedAt.size());
        for (std::size_t i = 0; i < started.size(); ++i) {
            EXPECT_DOUBLE_EQ(started[i], c.startedAt[i]) << "attempt " << i + 1;
        }
    }
}

TEST(Retry, StopsWhenDestroyedAndIgnoresLateOrRepeatedAnswers) {
    ManualRunLoop loop;
    int attempts = 0;
    int successes = 0;
    std::optional<Retry::Done> pending;
    auto retry = std::make_unique<Retry>(
        loop, kDelays,
        [&](Retry::Done done) {
            ++attempts;
            pending = done;
        },
        [&] { ++successes; });
    retry->start();
    (*pending)(false);
    (*pending)(true);  // the same attempt again: already counted as failed
    EXPECT_EQ(successes, 0);
    loop.advance(Seconds(0.5));
    EXPECT_EQ(attempts, 2);
    (*pending)(false);
    retry.reset();
    loop.runUntilIdle();
    (*pending)(true);  // after the owner went
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(successes, 0);
}

}  // namespace
}  // namespace tesvano::platform
