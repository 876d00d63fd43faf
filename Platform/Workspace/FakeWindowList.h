#pragma once

#include <memory>
#include <vector>

#include "Platform/Workspace/WindowList.h"

namespace tesvano::platform {

// Scripted windows for tests.
class FakeWindowList final : public WindowList {
public:
    std::vector<ListedWindow> list;
    // observe() fails this many times before it succeeds.
    int failObserveTimes = 0;
    int observeCalls = 0;
    std::vector<unsigned long> activated;

    std::vector<ListedWindow> windows(std::span<const std::int32_t> processes) override;
    using WindowList::windows;
    std::expected<Registration, std::string> observe(unsigned long window,
                                                     std::function<void()> changed) override;
    bool activate(unsigned long window) override;

    // Calls the observers of the window, as a move would.
    void notify(unsigned long window);
    int observerCount(unsigned long window);

private:
    struct Watch {
        unsigned long window;
        std::shared_ptr<Registration::State> state;
        std::function<void()> changed;
    };
    std::vector<Watch> watches_;
};

}  // namespace tesvano::platform
