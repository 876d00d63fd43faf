#pragma once

#include "Platform/Runtime/Runtime.h"

typedef struct _GMainLoop GMainLoop;

namespace tesvano::platform {

// The loop for command-line tools that use a GLib library (libatspi): GLib's default main
// context with real clocks. libatspi must be called from within a dispatch of that context,
// or it dispatches D-Bus messages itself in the middle of a call and can deadlock; every
// action of this loop runs inside such a dispatch.
class GLibRunLoop final : public Runtime {
public:
    GLibRunLoop();
    ~GLibRunLoop() override;
    GLibRunLoop(const GLibRunLoop&) = delete;
    GLibRunLoop& operator=(const GLibRunLoop&) = delete;

    Seconds uptime() const override;
    WallTime now() const override;
    Registration after(Seconds delay, std::function<void()> action) override;
    Registration watchReadable(int fd, std::function<void()> onReadable) override;

    void run();
    void quit();
    // Whether the caller runs inside a dispatch of GLib's main context.
    static bool insideDispatch();

private:
    GMainLoop* loop_;
};

}  // namespace tesvano::platform
