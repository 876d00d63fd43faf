#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Platform/Accessibility/AtspiVocabulary.h"

namespace tesvano::platform::atspi {
namespace {

TEST(AtspiVocabularyTest, DocumentURLPrefersGeckoThenChromiumAndSkipsEmptyValues) {
    struct Case {
        std::map<std::string, std::string> attributes;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {{{"DocURL", "http://alpha.localhost/"}, {"MimeType", "text/html"}},
         "http://alpha.localhost/"},
        {{{"URI", "http://beta.localhost/"}, {"Title", "Beta"}}, "http://beta.localhost/"},
        {{{"DocURL", "http://a/"}, {"URI", "http://b/"}}, "http://a/"},
        // Chromium's own popups are documents without an address.
        {{{"URI", ""}, {"Title", ""}}, std::nullopt},
        {{{"DocURL", ""}, {"URI", "http://b/"}}, "http://b/"},
        {{{"url", "http://a/"}}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(documentURL(c.attributes), c.expected) << c.expected.value_or("(none)");
    }
}

TEST(AtspiVocabularyTest, ClassListSplitsOnAnyWhiteSpace) {
    EXPECT_EQ(classList("urlbar-input textbox-input"),
              (std::vector<std::string>{"urlbar-input", "textbox-input"}));
    EXPECT_EQ(classList("  OmniboxViewViews\t x\n"),
              (std::vector<std::string>{"OmniboxViewViews", "x"}));
    EXPECT_TRUE(classList("").empty());
    EXPECT_TRUE(classList(" \t ").empty());
}

TEST(AtspiVocabularyTest, EveryEventHasAnAtspiEventAndComesBackAsItself) {
    for (const auto event :
         {a11y::windowCreateEvent, a11y::focusEvent, a11y::windowActivateEvent,
          a11y::windowDestroyEvent, a11y::windowResizeEvent, a11y::windowDeactivateEvent}) {
        const auto type = atspiEventFor(event);
        ASSERT_TRUE(type) << event;
        EXPECT_EQ(eventsFor(*type, 1), std::vector<std::string_view>{event});
    }
    EXPECT_FALSE(atspiEventFor("value-changed"));
    // Losing the focus is a change too: the gain elsewhere may never be announced.
    EXPECT_EQ(eventsFor(focusEvent, 0), std::vector<std::string_view>{a11y::focusEvent});
    EXPECT_TRUE(eventsFor("object:children-changed:add", 1).empty());
}

class EventRouterTest : public ::testing::Test {
protected:
    std::shared_ptr<EventRouter::Entry> observe(std::int32_t pid, std::string name,
                                                std::string_view event) {
        auto entry = router.add(pid, [this, name](const AccessibleElement&, const std::string& n) {
            heard.push_back(name + ":" + n);
        });
        entry->events.emplace(event);
        return entry;
    }

    EventRouter router;
    std::vector<std::string> heard;
};

TEST_F(EventRouterTest, DeliversByProcessAndEventInOrder) {
    // An observer made before its application joins the bus hears it once it does.
    auto launcher = observe(42, "launcher", a11y::windowCreateEvent);
    auto browser = observe(7, "browser", a11y::focusEvent);
    auto second = observe(42, "second", a11y::windowCreateEvent);

    router.dispatch(42, "window:create", 0, {});
    router.dispatch(7, focusEvent, 1, {});
    router.dispatch(7, "window:create", 0, {});
    router.dispatch(99, "window:create", 0, {});
    EXPECT_EQ(heard, (std::vector<std::string>{"launcher:window:create", "second:window:create",
                                               "browser:focus"}));
    EXPECT_TRUE(router.wants(a11y::windowCreateEvent));
    EXPECT_FALSE(router.wants(a11y::windowResizeEvent));
}

TEST_F(EventRouterTest, ADroppedObserverHearsNothingEvenWhenDroppedByAnEarlierCallback) {
    std::shared_ptr<EventRouter::Entry> second;
    auto first = router.add(5, [&](const AccessibleElement&, const std::string&) {
        heard.push_back("first");
        second.reset();
    });
    first->events.emplace(a11y::windowCreateEvent);
    second = observe(5, "second", a11y::windowCreateEvent);

    router.dispatch(5, "window:create", 0, {});
    EXPECT_EQ(heard, std::vector<std::string>{"first"});
    first.reset();
    router.dispatch(5, "window:create", 0, {});
    EXPECT_EQ(heard, std::vector<std::string>{"first"});
    EXPECT_FALSE(router.wants(a11y::windowCreateEvent));
}

}  // namespace
}  // namespace tesvano::platform::atspi
