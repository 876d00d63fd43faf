#pragma once

#include <expected>
#include <memory>
#include <string>

#include "Platform/Workspace/WindowList.h"

namespace tesvano::platform {

// The window list of an EWMH window manager on a connection of its own:
// _NET_CLIENT_LIST_STACKING for the windows and their order, _NET_WM_PID and WM_CLASS for
// their process and class,
// the window geometry with _NET_FRAME_EXTENTS for the frame, structure events for moves and
// closing, _NET_ACTIVE_WINDOW requests for activation. Events arrive through the runtime.
class X11WindowList final : public WindowList {
public:
    static std::expected<std::unique_ptr<X11WindowList>, std::string> open(
        Runtime& runtime, const std::string& displayName = {});
    ~X11WindowList() override;
    X11WindowList(const X11WindowList&) = delete;
    X11WindowList& operator=(const X11WindowList&) = delete;

    std::vector<ListedWindow> windows(std::span<const std::int32_t> processes) override;
    using WindowList::windows;
    std::vector<ListedWindow> windowsMatching(std::span<const std::int32_t> processes,
                                              std::span<const std::string> classes) override;
    std::expected<Registration, std::string> observe(unsigned long window,
                                                     std::function<void()> changed) override;
    bool activate(unsigned long window) override;

    struct Impl;

private:
    explicit X11WindowList(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tesvano::platform
