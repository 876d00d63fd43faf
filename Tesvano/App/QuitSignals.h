#pragma once

#include <functional>

#include "Platform/Runtime/Runtime.h"

namespace tesvano {

// SIGTERM, SIGINT and SIGHUP, turned into a call on the main thread: the handler only writes a byte
// into a pipe whose read end the runtime watches. One instance at a time; destruction puts
// the default handlers back.
class QuitSignals {
public:
    QuitSignals(platform::Runtime& runtime, std::function<void(int signal)> onSignal);
    ~QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    bool installed() const { return watch_.active(); }

private:
    void drain();

    std::function<void(int)> onSignal_;
    platform::Registration watch_;
};

}  // namespace tesvano
