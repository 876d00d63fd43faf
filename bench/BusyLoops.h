// Processes that only spin, for as long as the probe that made them holds them: the load a
// probe can be asked to run beside (--busy N).
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace tesvano::bench {

class BusyLoops {
public:
    explicit BusyLoops(long count) {
        for (long i = 0; i < count; ++i) {
            const pid_t child = ::fork();
            if (child == 0) {
                for (;;) {
                    asm volatile("");
                }
            }
            if (child > 0) {
                children_.push_back(child);
            }
        }
    }
    ~BusyLoops() {
        for (pid_t child : children_) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

private:
    std::vector<pid_t> children_;
};

}  // namespace tesvano::bench
