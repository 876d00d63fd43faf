#include "Platform/Runtime/GLibRunLoop.h"

#include <glib-unix.h>
#include <glib.h>

#include <cmath>

namespace tesvano::platform {

namespace {

struct Pending {
    std::shared_ptr<Registration::State> state;
    std::function<void()> action;
};

gboolean fire(gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    if (!pending->state->cancelled) {
        // The action may cancel its own registration; keep it alive while it runs.
        auto action = pending->action;
        action();
    }
    return G_SOURCE_REMOVE;
}

gboolean readable(gint, GIOCondition condition, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    if (pending->state->cancelled || (condition & (G_IO_NVAL | G_IO_ERR))) {
        return G_SOURCE_REMOVE;
    }
    auto action = pending->action;
    action();
    return pending->state->cancelled ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

void release(gpointer data) {
    delete static_cast<Pending*>(data);
}

}  // namespace

GLibRunLoop::GLibRunLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {}

GLibRunLoop::~GLibRunLoop() {
    g_main_loop_unref(loop_);
}

Seconds GLibRunLoop::uptime() const {
    return Seconds(static_cast<double>(g_get_monotonic_time()) / 1e6);
}

WallTime GLibRunLoop::now() const {
    return std::chrono::time_point_cast<Seconds>(std::chrono::system_clock::now());
}

Registration GLibRunLoop::after(Seconds delay, std::function<void()> action) {
    auto state = std::make_shared<Registration::State>();
    const auto ms = static_cast<guint>(std::ceil(std::max(delay.count(), 0.0) * 1000.0));
    g_timeout_add_full(G_PRIORITY_DEFAULT, ms, fire, new Pending{state, std::move(action)},
                       release);
    return Registration(state);
}

Registration GLibRunLoop::watchReadable(int fd, std::function<void()> onReadable) {
    auto state = std::make_shared<Registration::State>();
    g_unix_fd_add_full(G_PRIORITY_DEFAULT, fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP),
                       readable, new Pending{state, std::move(onReadable)}, release);
    return Registration(state);
}

void GLibRunLoop::run() {
    g_main_loop_run(loop_);
}

void GLibRunLoop::quit() {
    g_main_loop_quit(loop_);
}

bool GLibRunLoop::insideDispatch() {
    return g_main_depth() > 0;
}

}  // namespace tesvano::platform
