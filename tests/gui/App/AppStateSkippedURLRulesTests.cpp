#include <gtest/gtest.h>

#include <QSignalSpy>

#include "Tesvano/App/AppState.h"
#include "TesvanoKit/Rules/URLMatcher.h"
#include "tests/gui/AppFixture.h"

namespace tesvano {
namespace {

class AppStateSkippedURLRulesTest : public test::AppFixture {};

TEST_F(AppStateSkippedURLRulesTest, ARuleTooSlowToMatchIsMarkedUntilItsPatternIsEdited) {
    auto& s = makeState();
    s.start();
    const URLRule slow{Uuid::random(), "(a|aa)+(?#" + Uuid::random().string() + ")$",
                       InputSourceID("xkb:de"), RuleAction::lock, URLMatchType::urlRegex};
    const URLRule plain{Uuid::random(), "example.com", InputSourceID("xkb:de"), RuleAction::lock,
                        URLMatchType::domain};
    s.upsertURLRule(slow);
    s.upsertURLRule(plain);
    QSignalSpy changed(&s, &AppState::skippedURLRulesChanged);
    EXPECT_FALSE(s.isURLRuleSkipped(slow.id));

    // What the engine does on a URL poll.
    URLMatcher::firstMatch("https://example.com/" + std::string(4000, 'a') + "!",
                           s.config().urlRules);
    EXPECT_TRUE(s.isURLRuleSkipped(slow.id));
    EXPECT_FALSE(s.isURLRuleSkipped(plain.id));
    EXPECT_EQ(changed.count(), 1);

    s.upsertURLRule(plain);  // an unrelated edit changes nothing
    EXPECT_EQ(changed.count(), 1);

    URLRule edited = slow;
    edited.hostPattern = "^https://example\\.com/";
    s.upsertURLRule(edited);
    EXPECT_FALSE(s.isURLRuleSkipped(slow.id));
    EXPECT_EQ(changed.count(), 2);
}

}  // namespace
}  // namespace tesvano
