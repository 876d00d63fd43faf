#pragma once

#include <memory>

#include "Platform/Log/Log.h"

namespace tesvano::test {

// Routes the program's log into memory for the life of the object.
class LogCapture {
public:
    LogCapture()
        : sink_(std::make_shared<platform::CaptureLogSink>()),
          previous_(platform::setLogSink(sink_)) {}
    ~LogCapture() { platform::setLogSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const platform::CaptureLogSink& sink() const { return *sink_; }
    bool contains(std::string_view text) const { return sink_->contains(text); }

private:
    std::shared_ptr<platform::CaptureLogSink> sink_;
    std::shared_ptr<platform::LogSink> previous_;
};

}  // namespace tesvano::test
