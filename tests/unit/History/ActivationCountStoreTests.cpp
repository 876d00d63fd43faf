#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

#include "TesvanoKit/History/ActivationCountStore.h"
#include "tests/support/TempDir.h"

namespace tesvano {
namespace {

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();

TEST(ActivationCountStore, StartsAtZeroAndContinuesAnEarlierCount) {
    test::TempDir dir;
    {
        platform::FileDefaults defaults(dir / "settings.json");
        ActivationCountStore counter(defaults, "activationCount");
        EXPECT_EQ(counter.value(), 0);
        EXPECT_EQ(counter.increment(), 1);
        EXPECT_EQ(defaults.integer("activationCount"), 1);
        EXPECT_EQ(counter.increment(), 2);
    }
    platform::FileDefaults reopened(dir / "settings.json");
    ActivationCountStore counter(reopened, "activationCount");
    EXPECT_EQ(counter.value(), 2);
    EXPECT_EQ(counter.increment(), 3);
}

TEST(ActivationCountStore, SaturatesAtTheLargestInteger) {
    platform::MemoryDefaults defaults;
    ActivationCountStore counter(defaults, "activationCount");
    defaults.set("activationCount", platform::DefaultsValue(kMax - 1));
    EXPECT_EQ(counter.increment(), kMax);
    EXPECT_EQ(counter.increment(), kMax);
    EXPECT_EQ(defaults.integer("activationCount"), kMax);

    // A hand-edited number beyond the integers is not taken for 0.
    defaults.set("activationCount", platform::DefaultsValue(1e300));
    EXPECT_EQ(counter.value(), kMax);
    EXPECT_EQ(counter.increment(), kMax);

    defaults.set("activationCount", platform::DefaultsValue("many"));
    EXPECT_EQ(counter.value(), 0);
    EXPECT_EQ(counter.increment(), 1);
}

TEST(ActivationCountStore, ConcurrentIncrementsLoseNothing) {
    platform::MemoryDefaults defaults;
    ActivationCountStore counter(defaults, "activationCount");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&counter] {
            for (int i = 0; i < 10'000; ++i) {
                counter.increment();
                (void)counter.value();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter.value(), 80'000);
    EXPECT_EQ(defaults.integer("activationCount"), 80'000);
}

}  // namespace
}  // namespace tesvano
