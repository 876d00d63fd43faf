#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "Platform/TextInput/Fake/FakeTextInputSources.h"
#include "TesvanoKit/Sources/InputSourceChangeObserver.h"

namespace tesvano {
namespace {

using platform::FakeTextInputSources;

TEST(InputSourceChangeObserver, EachNotificationCallsItsOwnHandlerInOrder) {
    FakeTextInputSources system;
    std::vector<std::string> calls;
    InputSourceChangeObserver selection(system, InputSourceEvent::selectionChanged);
    InputSourceChangeObserver enabled(system, InputSourceEvent::enabledSourcesChanged);
    selection.start([&] { calls.push_back("selection"); });
    enabled.start([&] { calls.push_back("enabled"); });

    system.sendSelectionChanged();
    system.sendSelectionChanged();
    system.sendEnabledSourcesChanged();
    system.sendSelectionChanged();
    EXPECT_EQ(calls, (std::vector<std::string>{"selection", "selection", "enabled", "selection"}));
}

TEST(InputSourceChangeObserver, SecondStartKeepsTheFirstHandlerAndRegistersNothingMore) {
    FakeTextInputSources system;
    int first = 0;
    int second = 0;
    InputSourceChangeObserver observer(system, InputSourceEvent::selectionChanged);
    observer.start([&] { ++first; });
    observer.start([&] { ++second; });
    EXPECT_EQ(system.selectionObservers(), 1u);

    system.sendSelectionChanged();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
}

TEST(InputSourceChangeObserver, StopSilencesItAndItCanBeStartedAgain) {
    FakeTextInputSources system;
    int first = 0;
    int second = 0;
    InputSourceChangeObserver observer(system, InputSourceEvent::enabledSourcesChanged);
    observer.stop();  // not registered: nothing to do
    observer.start([&] { ++first; });
    observer.stop();
    observer.stop();
    EXPECT_FALSE(observer.isRegistered());
    EXPECT_EQ(system.enabledSourcesObservers(), 0u);
    system.sendEnabledSourcesChanged();
    EXPECT_EQ(first, 0);

    observer.start([&] { ++second; });
    system.sendEnabledSourcesChanged();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST(InputSourceChangeObserver, DestructionUnregisters) {
    FakeTextInputSources system;
    int calls = 0;
    {
        InputSourceChangeObserver observer(system, InputSourceEvent::selectionChanged);
        observer.start([&] { ++calls; });
    }
    EXPECT_EQ(system.selectionObservers(), 0u);
    system.sendSelectionChanged();
    EXPECT_EQ(calls, 0);
}

TEST(InputSourceChangeObserver, HandlerMayStopOrRestartItsOwnObserver) {
    FakeTextInputSources system;
    InputSourceChangeObserver observer(system, InputSourceEvent::selectionChanged);
    int stops = 0;
    int restarted = 0;
    // Captures enough that the closure lives on the heap, where the sanitizers see a use
    // after it is destroyed.
    auto bulk = std::make_shared<std::array<int, 64>>();
    observer.start([&, bulk] {
        ++stops;
        observer.stop();  // drops the running handler and what it captured
        observer.start([&] { ++restarted; });
    });
    bulk.reset();
    system.sendSelectionChanged();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(restarted, 0) << "registered during the notification: heard from the next one";
    system.sendSelectionChanged();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(restarted, 1);
}

}  // namespace
}  // namespace tesvano
