#include "tests/support/X11Test.h"

#include <X11/Xlib.h>

namespace tesvano::test {

void X11Test::SetUp() {
    if (XvfbServer::executable().empty()) {
        GTEST_SKIP() << "Xvfb is not installed (scripts/deps installs it)";
    }
    auto started = XvfbServer::start();
    ASSERT_TRUE(started.has_value()) << started.error();
    server_ = std::move(*started);
}

void X11Test::TearDown() {
    for (Display* client : clients_) {
        XCloseDisplay(client);
    }
    clients_.clear();
    server_.reset();
}

_XDisplay* X11Test::openClient() {
    Display* client = XOpenDisplay(display().c_str());
    if (client != nullptr) {
        clients_.push_back(client);
    }
    return client;
}

}  // namespace tesvano::test
