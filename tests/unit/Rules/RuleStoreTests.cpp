#include <gtest/gtest.h>

#include "Platform/Defaults/Defaults.h"
#include "TesvanoKit/Rules/RuleStore.h"
#include "tests/support/LogCapture.h"

namespace tesvano {
namespace {

using platform::DefaultsValue;
using platform::MemoryDefaults;

TEST(RuleStore, EmptyDefaultsGiveTheDefaultConfigurationAndNoStoredFlag) {
    MemoryDefaults defaults;
    RuleStore store(defaults, "lockConfiguration");
    EXPECT_FALSE(store.hasStoredConfiguration());
    EXPECT_EQ(store.load(), LockConfiguration::defaultConfiguration());
    EXPECT_TRUE(defaults.keys().empty()) << "loading must not write anything";
}

TEST(RuleStore, SaveThenLoadRoundTripsAsData) {
    MemoryDefaults defaults;
    RuleStore store(defaults, "lockConfiguration");
    LockConfiguration c;
    c.isEnabled = true;
    c.defaultSourceID = InputSourceID("xkb:de");
    c.appRules = {AppRule{"org.gnome.Terminal", AppRuleMode::locked, InputSourceID("xkb:us")}};
    store.save(c);
    EXPECT_TRUE(store.hasStoredConfiguration());
    ASSERT_TRUE(defaults.data("lockConfiguration").has_value());
    EXPECT_EQ(store.load(), c);
}

TEST(RuleStore, AStringUnderTheKeyIsNotAStoredConfiguration) {
    MemoryDefaults defaults;
    defaults.set("lockConfiguration", DefaultsValue(std::string(R"({"isEnabled":true})")));
    RuleStore store(defaults, "lockConfiguration");
    EXPECT_FALSE(store.hasStoredConfiguration());
    EXPECT_EQ(store.load(), LockConfiguration::defaultConfiguration());
}

TEST(RuleStore, UndecodableRulesAreKeptAsideBeforeAnySaveAndReported) {
    // Bytes that are no configuration, and values of another kind than data.
    for (const DefaultsValue& stored : {DefaultsValue::data(std::string("{not json")),
                                        DefaultsValue::data(std::string(R"({"isEnabled":"yes"})")),
                                        DefaultsValue(std::string(R"({"isEnabled":true})")),
                                        DefaultsValue(DefaultsValue::Array{DefaultsValue(true)}),
                                        DefaultsValue(true), DefaultsValue(std::int64_t{7})}) {
        test::LogCapture logs;
        MemoryDefaults defaults;
        defaults.set("lockConfiguration", stored);
        RuleStore store(defaults, "lockConfiguration");

        EXPECT_EQ(store.load(), LockConfiguration::defaultConfiguration());
        EXPECT_TRUE(logs.contains("could not be read"));

        // Start-up saves the default over the key; the user's value survives elsewhere.
        store.save(LockConfiguration::defaultConfiguration());
        EXPECT_EQ(defaults.value("lockConfiguration.unreadable"), stored);
        EXPECT_EQ(store.load(), LockConfiguration::defaultConfiguration());
        EXPECT_EQ(defaults.value("lockConfiguration.unreadable"), stored)
            << "a later good load must not disturb the kept copy";

        // The start's rewrite, judged beforehand, leaves the same values and says nothing.
        test::LogCapture quiet;
        MemoryDefaults judged;
        judged.set("lockConfiguration", stored);
        RuleStore(judged, "lockConfiguration").rewriteAsStartWould();
        EXPECT_EQ(judged.values(), defaults.values());
        EXPECT_TRUE(quiet.sink().records.empty());
    }
}

TEST(RuleStore, TheStartsRewriteWritesTheRulesInTheirCurrentForm) {
    MemoryDefaults defaults;
    defaults.set(RuleStore::standardKey,
                 DefaultsValue::data(std::string(R"({"appRules":[{"bundleID":"a"}]})")));
    RuleStore::rewriteStandardAsStartWould(defaults);
    const auto data = defaults.data(RuleStore::standardKey);
    ASSERT_TRUE(data);
    const std::string text(data->begin(), data->end());
    EXPECT_NE(text.find(R"({"bundleID":"a","mode":)"), std::string::npos) << text;
    EXPECT_EQ(RuleStore(defaults, RuleStore::standardKey).load().appRules.size(), 1u);
}

}  // namespace
}  // namespace tesvano
