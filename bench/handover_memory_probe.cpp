// Memory of the running program before and after 60 later launches each hand it a message of
// nearly a mebibyte while it is busy with commands: what waits is bounded, the rest refused.
//   handover_memory_probe [--unbounded]   (--unbounded takes every message, for comparison)
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Tesvano/App/QtRuntime.h"
#include "Tesvano/App/SingleInstance.h"
#include "Tesvano/App/URLDeliveryQueue.h"
#include "bench/ProbeArguments.h"
#include "tests/support/TempDir.h"

namespace {

using namespace tesvano;

// "VmRSS" or "VmHWM" of this process, in KiB.
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::strlen(field) + 1));
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    bool unbounded = false;
    if (const auto ended = tesvano::bench::ProbeArguments(
                               "usage: handover_memory_probe [--unbounded]   (--unbounded takes "
                               "every message, for comparison)\n")
                               .flag("--unbounded", unbounded)
                               .parse(argc, argv)) {
        return *ended;
    }
    QCoreApplication application(argc, argv);
    test::TempDir dir;
    auto primary = SingleInstance::claim(dir / "instance");
    auto secondary = SingleInstance::claim(dir / "instance");
    if (!primary || !secondary) {
        std::fprintf(stderr, "cannot claim the instance folder\n");
        return 1;
    }
    QtRuntime runtime;
    std::size_t handedOn = 0;
    // Each command keeps the program busy for 5 ms: the queue never drains meanwhile.
    URLDeliveryQueue queue(runtime, [&](std::vector<std::string>) {
        ++handedOn;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    std::size_t admitted = 0;
    std::size_t mostPending = 0;
    SingleInstance::Receiver receiver;
    receiver.admit = [&](const std::vector<std::string>& urls) {
        const std::size_t cost = URLDeliveryQueue::cost(urls);
        const bool room = queue.reserve(cost);
        if (!room && unbounded) {
            return true;  // the former behaviour: everything waits
        }
        admitted += room ? 1 : 0;
        return room;
    };
    receiver.deliver = [&](std::vector<std::string> urls) {
        queue.push(std::move(urls));
        mostPending = std::max(mostPending, queue.pendingBytes());
    };
    receiver.withdraw = [&](const std::vector<std::string>& urls) {
        queue.release(URLDeliveryQueue::cost(urls));
    };
    if (!(*primary)->listen(std::move(receiver))) {
        return 1;
    }

    // 4,000 URLs of 250 bytes: as large as a message may be.
    const std::vector<std::string> message(4000, "tesvano://ping?pad=" + std::string(231, 'p'));
    QCoreApplication::processEvents();
    malloc_trim(0);
    const long before = statusKiB("VmRSS");
    // Each launch is a process of its own, as a later start of the program is, so that what
    // is measured here is the running program alone.
    std::vector<pid_t> launches;
    for (int i = 0; i < 60; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::_exit((*secondary)->handOver(message, std::chrono::seconds(30)) ? 0 : 1);
        }
        if (pid < 0) {
            std::perror("fork");
            return 1;
        }
        launches.push_back(pid);
    }
    int refused = 0;
    while (!launches.empty()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::erase_if(launches, [&](pid_t pid) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) != pid) {
                return false;
            }
            refused += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            return true;
        });
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The launches run in this process: give back what their threads and messages freed, so
    // that what remains is what the running program keeps.
    malloc_trim(0);
    const long after = statusKiB("VmRSS");
    std::printf(
        "%s: RSS before %ld KiB, after 60 messages %ld KiB (peak %ld KiB); accepted %d, "
        "refused %d; most waiting %zu bytes; handed on so far %zu URLs\n",
        unbounded ? "unbounded" : "bounded", before, after, statusKiB("VmHWM"), 60 - refused,
        refused, mostPending, handedOn);
    return 0;
}
