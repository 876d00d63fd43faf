#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/XvfbServer.h"

struct _XDisplay;

namespace tesvano::test {

// Gives each test a private Xvfb of its own; skipped only when Xvfb is not installed.
class X11Test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& display() const { return server_->display(); }
    // Another client of the test's server, closed after the test.
    _XDisplay* openClient();

private:
    std::unique_ptr<XvfbServer> server_;
    std::vector<_XDisplay*> clients_;
};

}  // namespace tesvano::test
