#include <gtest/gtest.h>

#include <vector>

#include "Platform/Accessibility/PasswordFocusProbe.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "TesvanoKit/Lock/LockController.h"

namespace tesvano::platform {
namespace {

// An application whose answer to the role question arrives `answerAfter` seconds after it
// was asked; waiting for it moves the clock on by as long as the wait lasts.
struct SlowApplication {
    explicit SlowApplication(double& c) : clock(c) {}
    double& clock;
    double askedAt = 0;
    double answerAfter = 0;
    bool password = true;
    std::vector<double> waits;  // the budget each wait was given

    PasswordFocusProbe::Wait wait() {
        askedAt = clock;
        return [this](double seconds) -> std::optional<bool> {
            waits.push_back(seconds);
            const double arrives = askedAt + answerAfter;
            if (arrives <= clock + seconds) {
                clock = std::max(clock, arrives);
                return password;
            }
            clock += seconds;
            return std::nullopt;
        };
    }
};

TEST(PasswordFocusProbe, WaitsForAnAnswerOnItsWayOnlyWithinItsBudget) {
    struct Case {
        const char* what;
        double answerAfter;  // when the answer arrives, after the question
        double probedAfter;  // when the lock asks, after the question
        bool answeredFirst;  // the answer reached the probe before the lock asked
        bool expected;
        int waits;
    };
    const Case cases[] = {
        {"answered before the lock asks", 0.005, 0.010, true, true, 0},
        {"on its way, within the budget", 0.025, 0.010, false, true, 1},
        {"at the end of the budget", 0.040, 0.000, false, true, 1},
        {"later than the budget", 0.060, 0.010, false, false, 1},
        {"asked after the budget", 0.010, 0.045, false, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        double clock = 100;
        PasswordFocusProbe probe([&] { return clock; });
        SlowApplication app{clock};
        app.answerAfter = c.answerAfter;
        const auto question = probe.asked(app.wait());
        if (c.answeredFirst) {
            probe.answered(question, true);
        }
        clock += c.probedAfter;
        const double probedAt = clock;
        EXPECT_EQ(probe.isPasswordField(), c.expected);
        ASSERT_EQ(static_cast<int>(app.waits.size()), c.waits);
        if (c.waits > 0) {
            EXPECT_NEAR(app.waits[0], PasswordFocusProbe::answerBudget - c.probedAfter, 1e-9);
        }
        EXPECT_LE(clock - probedAt, PasswordFocusProbe::answerBudget + 1e-9) << "held too long";
        // A second look never waits again; the late answer still counts once it is in.
        EXPECT_EQ(probe.isPasswordField(), c.expected);
        EXPECT_EQ(static_cast<int>(app.waits.size()), c.waits);
        probe.answered(question, true);
        EXPECT_TRUE(probe.isPasswordField());
    }
}

TEST(PasswordFocusProbe, AnAnswerAboutAnElementLeftBehindIsDropped) {
    double clock = 0;
    PasswordFocusProbe probe([&] { return clock; });
    const auto field = probe.asked({});
    const auto button = probe.asked({});
    probe.answered(field, true);  // late, about the field the focus has left
    EXPECT_FALSE(probe.isPasswordField());
    probe.answered(button, false);
    EXPECT_FALSE(probe.isPasswordField());

    const auto again = probe.asked({});
    probe.answered(again, true);
    EXPECT_TRUE(probe.isPasswordField());
    probe.cleared();
    EXPECT_FALSE(probe.isPasswordField());
    probe.answered(again, true);
    EXPECT_FALSE(probe.isPasswordField()) << "the focus went away before the answer";

    // An ordinary element whose application does not answer at all.
    probe.asked([](double) { return std::optional<bool>(); });
    EXPECT_FALSE(probe.isPasswordField());
}

// The lock switches at the earliest 40 ms after an activation; a password field that took the
// focus just before is waited for and the switch does not land in it.
TEST(PasswordFocusProbe, ALockSwitchNeverLandsInAPasswordFieldFocusedJustBefore) {
    using R = ActivationReason;
    struct Provider final : InputSourceProviding {
        InputSourceID current{"A"};
        std::vector<std::string> selections;
        bool canSelect(const InputSource&) override { return true; }
        std::optional<InputSource> currentSource() override { return source(current); }
        std::vector<InputSource> selectableSources() override {
            return {{"A", "Alpha", false}, {"B", "Beta", false}};
        }
        std::optional<InputSource> source(const InputSourceID& id) override {
            return InputSource{id, id.rawValue, false};
        }
        bool select(const InputSource& source) override {
            selections.push_back(source.id.rawValue);
            current = source.id;
            return true;
        }
    };
    struct Case {
        double focusedBefore;  // the field took the focus this long before the switch
        double answerAfter;    // its role's answer arrives this long after the question
        bool switches;
    };
    const Case cases[] = {
        {0.001, 0.002, false},
        {0.020, 0.035, false},
        {0.039, 0.040, false},
        // An application slower than the budget: its field counts as an ordinary one until
        // the answer is in, and the switch goes ahead.
        {0.005, 0.200, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.focusedBefore << " " << c.answerAfter);
        ManualRunLoop loop;
        Provider provider;
        double clock = 0;
        PasswordFocusProbe probe([&] { return clock; });
        LockController lock(provider, loop, true, false, [&] { return probe.isPasswordField(); });
        SlowApplication app{clock};
        app.answerAfter = c.answerAfter;
        probe.asked(app.wait());
        clock += c.focusedBefore;
        const double switchAt = clock;
        lock.setTarget(InputSourceID("B"), R::appActivated, "app", RuleSource::appRule);
        EXPECT_EQ(provider.selections.empty(), !c.switches);
        EXPECT_LE(clock - switchAt, PasswordFocusProbe::answerBudget + 1e-9);
    }
}

}  // namespace
}  // namespace tesvano::platform
