// The session-bus helper's loop on a private bus: a flood from another client is served in
// batches with the program's timers between them, and a connection the bus drops is opened
// again with its matches.
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <optional>
#include <thread>
#include <vector>

#include "Platform/DBus/SessionBus.h"
#include "Platform/Runtime/ManualRunLoop.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/Wait.h"

namespace tesvano::platform::dbus {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPath = "/com/quorvel/Tesvano/Test";
constexpr const char* kInterface = "com.quorvel.Tesvano.Test";

// A client of its own on the bus: it sends what a test asks and is closed with the object.
class OtherClient {
public:
    explicit OtherClient(const std::string& address) {
        if (sd_bus_new(&bus_) >= 0 && sd_bus_set_address(bus_, address.c_str()) >= 0 &&
            sd_bus_set_bus_client(bus_, 1) >= 0 && sd_bus_start(bus_) >= 0) {
            ready_ = true;
        }
    }
    ~OtherClient() { sd_bus_flush_close_unref(bus_); }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    bool ready() const { return ready_; }

    // Small calls that want no answer, as a menu host sends them, all written to the bus.
    bool flood(const std::string& destination, int count) {
        for (int i = 0; i < count; ++i) {
            sd_bus_message* call = nullptr;
            int r = sd_bus_message_new_method_call(bus_, &call, destination.c_str(), kPath,
                                                   kInterface, "GetLayout");
            r = r < 0 ? r : sd_bus_message_append(call, "i", i);
            r = r < 0 ? r : sd_bus_message_set_expect_reply(call, 0);
            r = r < 0 ? r : sd_bus_send(bus_, call, nullptr);
            sd_bus_message_unref(call);
            if (r < 0) {
                return false;
            }
        }
        return sd_bus_flush(bus_) >= 0;
    }

    bool ping() {
        return sd_bus_emit_signal(bus_, kPath, kInterface, "Ping", "") >= 0 &&
               sd_bus_flush(bus_) >= 0;
    }

private:
    sd_bus* bus_ = nullptr;
    bool ready_ = false;
};

class BusLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto started = test::SessionBus::start();
        ASSERT_TRUE(started) << started.error();
        bus = std::move(*started);
        auto opened = Connection::open(bus->address());
        ASSERT_TRUE(opened) << opened.error();
        connection.emplace(std::move(*opened));
    }

    // Runs the loop's due timers and its readable sockets until `done` or a few seconds.
    bool pumpUntil(const std::function<bool()>& done) {
        return test::waitUntil(
            [this] {
                loop.runDue();
                loop.pumpFds(20ms);
                loop.runDue();
            },
            done, 10s);
    }

    ManualRunLoop loop;
    std::unique_ptr<test::SessionBus> bus;
    std::optional<Connection> connection;
};

struct Served {
    ManualRunLoop* loop = nullptr;
    int calls = 0;
    // How many calls had been served when the timer that the first one set ran.
    std::optional<int> servedWhenTimerRan;
    Registration timer;
};

int onGetLayout(sd_bus_message* call, void* data, sd_bus_error*) {
    auto* served = static_cast<Served*>(data);
    if (++served->calls == 1) {
        // As a foreign switch announced on the bus makes the lock schedule its revert.
        served->timer = served->loop->after(
            Seconds(0), [served] { served->servedWhenTimerRan = served->calls; });
    }
    return sd_bus_reply_method_return(call, "");
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetLayout", "i", "", &onGetLayout, 0),
    SD_BUS_VTABLE_END,
};

TEST_F(BusLoopTest, AFloodOfCallsIsServedInBatchesWithATimerDueMeanwhileBetweenThem) {
    constexpr int kCalls = 20'000;
    Served served;
    served.loop = &loop;
    Slot object;
    ASSERT_GE(sd_bus_add_object_vtable(connection->get(), object.out(), kPath, kInterface, kVtable,
                                       &served),
              0);
    const char* unique = nullptr;
    ASSERT_GE(sd_bus_get_unique_name(connection->get(), &unique), 0);
    std::vector<int> results;
    BusLoop busLoop(loop, *connection, [&results](int r) { results.push_back(r); });

    // Connected until the end: the bus drops what a client that left had not yet passed on.
    OtherClient other(bus->address());
    ASSERT_TRUE(other.ready());
    bool sent = false;
    std::thread flooder([&] { sent = other.flood(unique, kCalls); });
    flooder.join();
    ASSERT_TRUE(sent);

    // Every call is served, each turn a batch, and the timer that the first call set ran
    // after the first batch rather than after the flood.
    ASSERT_TRUE(pumpUntil([&] { return served.calls == kCalls; })) << served.calls;
    ASSERT_TRUE(served.servedWhenTimerRan);
    EXPECT_LE(*served.servedWhenTimerRan, BusLoop::batchMessages);
    EXPECT_GE(results.size(), static_cast<std::size_t>(kCalls / BusLoop::batchMessages));
    EXPECT_TRUE(std::ranges::none_of(results, [](int r) { return r < 0; }));
}

TEST_F(BusLoopTest, AConnectionTheBusDroppedIsOpenedAgainWithItsMatchesAfterAPause) {
    int pings = 0;
    int attached = 0;
    std::vector<int> results;
    Slot match;
    const auto attach = [&] {
        ++attached;
        return sd_bus_match_signal(
            connection->get(), match.out(), nullptr, kPath, kInterface, "Ping",
            +[](sd_bus_message*, void* data, sd_bus_error*) {
                ++*static_cast<int*>(data);
                return 0;
            },
            &pings);
    };
    ASSERT_GE(attach(), 0);
    BusLoop busLoop(
        loop, *connection, [&results](int r) { results.push_back(r); }, attach);
    {
        OtherClient other(bus->address());
        ASSERT_TRUE(other.ping());
        ASSERT_TRUE(pumpUntil([&] { return pings == 1; }));
    }

    bus->stop();
    ASSERT_TRUE(pumpUntil([&] { return busLoop.lost(); }));
    ASSERT_FALSE(results.empty());
    EXPECT_LT(results.back(), 0);
    EXPECT_FALSE(connection->isOpen());

    // An attempt while nobody listens at the address fails and is made again later, after a
    // longer pause.
    loop.advance(BusLoop::reconnectDelays[0]);
    EXPECT_TRUE(busLoop.lost());
    EXPECT_EQ(attached, 1);
    auto restarted = bus->restart();
    ASSERT_TRUE(restarted) << restarted.error();
    loop.advance(BusLoop::reconnectDelays[1] - 1ms);
    EXPECT_TRUE(busLoop.lost());
    EXPECT_EQ(attached, 1);
    loop.advance(1ms);
    EXPECT_FALSE(busLoop.lost());
    EXPECT_EQ(attached, 2);
    EXPECT_TRUE(connection->isOpen());

    // The new bus knows the match again: a signal sent there is heard.
    OtherClient other(bus->address());
    ASSERT_TRUE(other.ping());
    EXPECT_TRUE(pumpUntil([&] { return pings == 2; }));
    EXPECT_GE(results.back(), 0);
}

}  // namespace
}  // namespace tesvano::platform::dbus
