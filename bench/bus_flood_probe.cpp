// The interface thread's timers and sockets while another client of the session bus floods
// one of the program's connections with small calls that want no answer (a menu host's
// GetLayout and AboutToShow): a private bus, and the program's own loop (Qt's, through
// QtRuntime) serving the connection through the session-bus helper. Meanwhile a timer falls
// due every 50 ms (as the lock's reverts do), another thread writes to a pipe the loop watches
// every 50 ms (as the X server's events come), and a third client calls a method that answers
// every 250 ms. Prints how late each of them was served, how long the flood took, the added
// peak memory and the machine's load. Each call costs the thread --cost-us microseconds
// (default 50, as a menu's layout is built); --busy N keeps N processes spinning meanwhile.
//   bus_flood_probe [--calls N] [--cost-us N] [--busy N]
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/DBus/SessionBus.h"
#include "Tesvano/App/QtRuntime.h"
#include "bench/BusyLoops.h"
#include "bench/ProbeArguments.h"
#include "tests/support/PrivateSession.h"

namespace {

using namespace tesvano;
using namespace tesvano::platform;
using Clock = std::chrono::steady_clock;

constexpr const char* kPath = "/MenuBar";
constexpr const char* kInterface = "com.canonical.dbusmenu";
constexpr Seconds kInterval{0.05};

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::string(field).size() + 1));
        }
    }
    return -1;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " " + five;
}

sd_bus* connect(const std::string& address) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 ||
        sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        std::fprintf(stderr, "cannot connect to the private bus\n");
        std::exit(1);
    }
    return bus;
}

// Milliseconds late, in the order measured.
struct Delays {
    std::vector<double> ms;
    void add(double value) { ms.push_back(value); }
    void print(const char* what) {
        if (ms.empty()) {
            std::printf("%-34s none measured\n", what);
            return;
        }
        std::vector<double> sorted = ms;
        std::ranges::sort(sorted);
        const auto at = [&sorted](double q) {
            return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(q * sorted.size()))];
        };
        const auto over = std::ranges::count_if(sorted, [](double v) { return v > 100.0; });
        std::printf("%-34s %4zu: median %7.2f ms, p99 %7.2f ms, max %7.2f ms, over 100 ms: %ld\n",
                    what, sorted.size(), at(0.5), at(0.99), sorted.back(), static_cast<long>(over));
    }
};

struct Served {
    int calls = 0;
    // What each call costs the thread: a menu's layout is built for the reply.
    std::chrono::microseconds cost{0};
    Clock::time_point last;
};

int onCall(sd_bus_message* call, void* data, sd_bus_error*) {
    auto* served = static_cast<Served*>(data);
    for (const auto until = Clock::now() + served->cost; Clock::now() < until;) {
    }
    ++served->calls;
    served->last = Clock::now();
    return sd_bus_reply_method_return(call, "");
}

int onPing(sd_bus_message* call, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(call, "");
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetLayout", "i", "", &onCall, 0),
    SD_BUS_METHOD("AboutToShow", "i", "", &onCall, 0),
    SD_BUS_METHOD("Ping", "", "", &onPing, 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
    long calls = 100'000;
    long busy = 0;
    long cost = 50;
    if (const auto ended =
            tesvano::bench::ProbeArguments(
                "usage: bus_flood_probe [--calls N] [--cost-us N] [--busy N]\n"
                "  (defaults: 100000 calls, each costing 50 us to serve, no busy loops)\n")
                .number("--calls", calls, 1, 10'000'000)
                .number("--cost-us", cost, 0, 1'000'000)
                .number("--busy", busy, 0, 256)
                .parse(argc, argv)) {
        return *ended;
    }
    QCoreApplication app(argc, argv);
    auto bus = test::SessionBus::start();
    if (!bus) {
        std::fprintf(stderr, "%s\n", bus.error().c_str());
        return 1;
    }
    const std::string address = (*bus)->address();
    // Opened as the program opens its own: the user's bus, which checks no caller per call.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    auto connection = dbus::Connection::open();
    if (!connection) {
        std::fprintf(stderr, "%s\n", connection.error().c_str());
        return 1;
    }
    Served served;
    served.cost = std::chrono::microseconds(cost);
    dbus::Slot object;
    const char* unique = nullptr;
    if (sd_bus_add_object_vtable(connection->get(), object.out(), kPath, kInterface, kVtable,
                                 &served) < 0 ||
        sd_bus_get_unique_name(connection->get(), &unique) < 0) {
        std::fprintf(stderr, "cannot serve the menu object\n");
        return 1;
    }
    const std::string destination = unique;
    QtRuntime runtime;
    dbus::BusLoop loop(runtime, *connection);
    const tesvano::bench::BusyLoops loops(busy);
    const long peakBefore = statusKiB("VmHWM:");
    const std::string loadBefore = loadAverage();

    std::atomic<bool> flooding{true};
    Delays timerDelays;
    Delays pipeDelays;
    Delays callDelays;

    // The revert stand-in: due every interval, measured against when it was due.
    std::function<void()> schedule;
    Registration timer;
    schedule = [&] {
        const Seconds due = runtime.uptime() + kInterval;
        timer = runtime.after(kInterval, [&, due] {
            timerDelays.add((runtime.uptime() - due).count() * 1000.0);
            if (flooding) {
                schedule();
            }
        });
    };
    schedule();

    // The X-event stand-in: another thread writes the time of writing.
    int fds[2];
    if (::pipe(fds) != 0) {
        return 1;
    }
    auto readable = runtime.watchReadable(fds[0], [&] {
        std::int64_t stamp = 0;
        if (::read(fds[0], &stamp, sizeof stamp) == sizeof stamp) {
            const auto sent = Clock::time_point(Clock::duration(stamp));
            pipeDelays.add(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        }
    });
    std::thread writer([&] {
        while (flooding) {
            std::this_thread::sleep_for(std::chrono::duration<double>(kInterval));
            const std::int64_t stamp = Clock::now().time_since_epoch().count();
            if (::write(fds[1], &stamp, sizeof stamp) != sizeof stamp) {
                break;
            }
        }
    });

    // Another client's call that wants its answer, queued behind whatever came before it.
    std::thread caller([&] {
        sd_bus* other = connect(address);
        while (flooding) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            const auto start = Clock::now();
            sd_bus_message* reply = nullptr;
            if (sd_bus_call_method(other, destination.c_str(), kPath, kInterface, "Ping", nullptr,
                                   &reply, "") >= 0) {
                callDelays.add(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
            sd_bus_message_unref(reply);
        }
        sd_bus_flush_close_unref(other);
    });

    // The flood, from a client of another process that stays connected until it has been
    // served: its own queue of unsent calls is not counted in this one's memory.
    int go[2];
    int done[2];
    if (::pipe(go) != 0 || ::pipe(done) != 0) {
        return 1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(go[1]);
        ::close(done[0]);
        sd_bus* flooder = connect(address);
        char byte = 0;
        if (::read(go[0], &byte, 1) != 1) {
            _exit(1);
        }
        for (int i = 0; i < calls; ++i) {
            sd_bus_message* call = nullptr;
            int r = sd_bus_message_new_method_call(flooder, &call, destination.c_str(), kPath,
                                                   kInterface, i % 2 ? "AboutToShow" : "GetLayout");
            r = r < 0 ? r : sd_bus_message_append(call, "i", 0);
            r = r < 0 ? r : sd_bus_message_set_expect_reply(call, 0);
            r = r < 0 ? r : sd_bus_send(flooder, call, nullptr);
            sd_bus_message_unref(call);
            if (r < 0) {
                _exit(1);
            }
        }
        sd_bus_flush(flooder);
        if (::write(done[1], &byte, 1) != 1) {
            _exit(1);
        }
        // Until the probe has what it needs.
        ::read(go[0], &byte, 1);
        _exit(0);
    }
    ::close(go[0]);
    ::close(done[1]);
    const auto floodStart = Clock::now();
    Clock::time_point floodSent;
    std::thread sender([&] {
        char byte = 0;
        if (::write(go[1], &byte, 1) == 1 && ::read(done[0], &byte, 1) == 1) {
            floodSent = Clock::now();
        }
    });

    // Ends once every call was served (or after five minutes), a second later.
    Registration watchdog;
    std::function<void()> check;
    check = [&] {
        if (served.calls >= calls || Clock::now() - floodStart > std::chrono::minutes(5)) {
            flooding = false;
            watchdog = runtime.after(Seconds(1), [] { QCoreApplication::exit(0); });
            return;
        }
        watchdog = runtime.after(Seconds(0.1), check);
    };
    check();
    app.exec();
    sender.join();
    writer.join();
    caller.join();
    ::close(go[1]);
    ::waitpid(child, nullptr, 0);
    ::close(fds[0]);
    ::close(fds[1]);

    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    std::printf(
        "%ld small calls without answer from another client, %ld us each (load before %s, after %s",
        calls, cost, loadBefore.c_str(), loadAverage().c_str());
    if (busy > 0) {
        std::printf(", %ld busy loops", busy);
    }
    std::printf(")\n");
    std::printf("sent in %.2f s, %d served in %.2f s\n", seconds(floodSent - floodStart),
                served.calls, seconds(served.last - floodStart));
    timerDelays.print("a timer due every 50 ms, late by");
    pipeDelays.print("a watched pipe written every 50 ms");
    callDelays.print("another client's call answered in");
    std::printf("peak memory added: %.1f MiB\n",
                static_cast<double>(statusKiB("VmHWM:") - peakBefore) / 1024.0);
    return served.calls == calls ? 0 : 1;
}
