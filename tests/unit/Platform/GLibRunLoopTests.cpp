#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Platform/Runtime/GLibRunLoop.h"

namespace tesvano::platform {
namespace {

// Actions run inside a dispatch of GLib's main context (what libatspi needs), in due order,
// and cancelled or dropped registrations never run.
TEST(GLibRunLoop, RunsActionsInDueOrderInsideADispatchAndHonoursCancellation) {
    GLibRunLoop loop;
    std::vector<std::string> ran;
    std::vector<bool> inside;
    auto record = [&](std::string name) {
        return [&, name] {
            ran.push_back(name);
            inside.push_back(GLibRunLoop::insideDispatch());
        };
    };
    loop.post(Seconds(0.02), record("second"));
    loop.post(Seconds(0), record("first"));
    auto cancelled = loop.after(Seconds(0.01), record("cancelled"));
    cancelled.cancel();
    { auto dropped = loop.after(Seconds(0.01), record("dropped")); }
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int reads = 0;
    auto watch = loop.watchReadable(fds[0], [&] {
        char byte;
        ASSERT_EQ(::read(fds[0], &byte, 1), 1);
        ++reads;
        ran.push_back("readable");
    });
    loop.post(Seconds(0.03), [&] { ASSERT_EQ(::write(fds[1], "x", 1), 1); });
    loop.post(Seconds(0.1), [&] { loop.quit(); });
    loop.run();
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "readable"}));
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(inside, (std::vector<bool>{true, true}));
    EXPECT_FALSE(GLibRunLoop::insideDispatch());
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
}  // namespace tesvano::platform
