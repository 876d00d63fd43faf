#include <gtest/gtest.h>
#include <stdlib.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Platform/TextInput/Fcitx/FcitxTextInputSources.h"
#include "tests/support/PrivateSession.h"
#include "tests/support/Wait.h"

namespace tesvano::platform {
namespace {

using namespace std::chrono_literals;
using Kind = FocusedSelectionFailure::Kind;

// Fcitx's controller as far as a selection needs it, served from a thread of its own on a
// private bus: it answers with one group of input methods and a focus state, and keeps the
// names it was asked to make current.
class FakeFcitxController {
public:
    FakeFcitxController(const std::string& address, std::vector<std::string> group)
        : group_(std::move(group)) {
        if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
            sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0 ||
            sd_bus_add_object_vtable(bus_, &object_, "/controller", "org.fcitx.Fcitx.Controller1",
                                     kVtable, this) < 0 ||
            sd_bus_request_name(bus_, "org.fcitx.Fcitx5", 0) < 0) {
            return;
        }
        ready_ = true;
        thread_ = std::thread([this] {
            while (!stop_) {
                if (announceGroups.exchange(false)) {
                    sd_bus_emit_signal(bus_, "/controller", "org.fcitx.Fcitx.Controller1",
                                       "InputMethodGroupsChanged", "");
                }
                if (sd_bus_process(bus_, nullptr) <= 0) {
                    sd_bus_wait(bus_, 20'000);
                }
            }
        });
    }
    ~FakeFcitxController() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        sd_bus_slot_unref(object_);
        sd_bus_flush_close_unref(bus_);
    }
    FakeFcitxController(const FakeFcitxController&) = delete;
    FakeFcitxController& operator=(const FakeFcitxController&) = delete;

    bool ready() const { return ready_; }
    // Fcitx's State: 0 while no input context has the focus, 2 while one has an active one.
    std::atomic<int> state{2};
    // Set to announce a change of the groups, as Fcitx does after its configuration changed.
    std::atomic<bool> announceGroups{false};
    std::vector<std::string> madeCurrent() {
        std::lock_guard lock(mutex_);
        return madeCurrent_;
    }

private:
    static FakeFcitxController& self(void* data) {
        return *static_cast<FakeFcitxController*>(data);
    }

    static int onState(sd_bus_message* call, void* data, sd_bus_error*) {
        return sd_bus_reply_method_return(call, "i", self(data).state.load());
    }
    static int onSetCurrentIM(sd_bus_message* call, void* data, sd_bus_error*) {
        const char* name = nullptr;
        if (const int r = sd_bus_message_read(call, "s", &name); r < 0) {
            return r;
        }
        {
            std::lock_guard lock(self(data).mutex_);
            self(data).madeCurrent_.emplace_back(name);
        }
        return sd_bus_reply_method_return(call, "");
    }
    static int onGroup(sd_bus_message* call, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(call, "s", "Default");
    }
    static int onGroupInfo(sd_bus_message* call, void* data, sd_bus_error*) {
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_return(call, &reply);
        r = r < 0 ? r : sd_bus_message_append(reply, "s", "us");
        r = r < 0 ? r : sd_bus_message_open_container(reply, 'a', "(ss)");
        for (const auto& name : self(data).group_) {
            r = r < 0 ? r : sd_bus_message_append(reply, "(ss)", name.c_str(), "");
        }
        r = r < 0 ? r : sd_bus_message_close_container(reply);
        r = r < 0 ? r : sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return r;
    }
    static int onAvailable(sd_bus_message* call, void* data, sd_bus_error*) {
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_return(call, &reply);
        r = r < 0 ? r : sd_bus_message_open_container(reply, 'a', "(ssssssb)");
        for (const auto& name : self(data).group_) {
            const char* n = name.c_str();
            r = r < 0 ? r : sd_bus_message_append(reply, "(ssssssb)", n, n, n, "", "", "", 0);
        }
        r = r < 0 ? r : sd_bus_message_close_container(reply);
        r = r < 0 ? r : sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return r;
    }

    static const sd_bus_vtable kVtable[];

    std::vector<std::string> group_;
    sd_bus* bus_ = nullptr;
    sd_bus_slot* object_ = nullptr;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> madeCurrent_;
};

const sd_bus_vtable FakeFcitxController::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("State", "", "i", &onState, 0),
    SD_BUS_METHOD("SetCurrentIM", "s", "", &onSetCurrentIM, 0),
    SD_BUS_METHOD("CurrentInputMethodGroup", "", "s", &onGroup, 0),
    SD_BUS_METHOD("InputMethodGroupInfo", "s", "sa(ss)", &onGroupInfo, 0),
    SD_BUS_METHOD("AvailableInputMethods", "", "a(ssssssb)", &onAvailable, 0),
    SD_BUS_VTABLE_END,
};

// Names shorter than a string's inline buffer and longer ones: a name read from a string that
// is already gone shows as a stack or a heap use after free under the address sanitizer, and
// as an empty or garbled name without it.
const std::vector<std::string> kInputMethods = {
    "anthy", "pinyin", "hangul", "keyboard-de", "keyboard-us-altgr-intl", "m17n_sa_harvard-kyoto",
};

class FcitxTextInputSourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto started = test::SessionBus::start();
        ASSERT_TRUE(started) << started.error();
        bus = std::move(*started);
        if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
            previousAddress = previous;
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
        controller = std::make_unique<FakeFcitxController>(bus->address(), kInputMethods);
        ASSERT_TRUE(controller->ready());
        auto opened = FcitxTextInputSources::open(loop);
        ASSERT_TRUE(opened) << opened.error();
        fcitx = std::move(*opened);
        ASSERT_TRUE(fcitx->isAvailable());
    }
    void TearDown() override {
        fcitx.reset();
        controller.reset();
        if (previousAddress) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", previousAddress->c_str(), 1);
        } else {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
    }

    static TextInputSource source(const std::string& id) {
        TextInputSource s;
        s.id = id;
        return s;
    }

    ManualRunLoop loop;
    std::unique_ptr<test::SessionBus> bus;
    std::optional<std::string> previousAddress;
    std::unique_ptr<FakeFcitxController> controller;
    std::unique_ptr<FcitxTextInputSources> fcitx;
};

TEST_F(FcitxTextInputSourcesTest, BothWaysOfSelectingSendTheWholeInputMethodName) {
    std::vector<std::string> expected;
    for (const auto& name : kInputMethods) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(fcitx->selectInFocusedContext(source("fcitx:" + name)));
        EXPECT_EQ(fcitx->select(source("fcitx:" + name)), SelectStatus::ok);
        expected.insert(expected.end(), {name, name});
    }
    EXPECT_EQ(controller->madeCurrent(), expected);
}

TEST_F(FcitxTextInputSourcesTest, NothingIsSentWithoutAFocusedContextOrForAnotherSystemsSource) {
    EXPECT_FALSE(fcitx->selectInFocusedContext(source("ibus:anthy")));
    EXPECT_EQ(fcitx->selectInFocusedContext(source("ibus:anthy")).error().kind, Kind::unavailable);
    EXPECT_EQ(fcitx->selectInFocusedContext(TextInputSource{}).error().kind, Kind::unavailable);
    // Only the listed input methods are selected the standard way.
    EXPECT_EQ(fcitx->select(source("fcitx:mozc")), SelectStatus::unknownSource);
    controller->state = 0;
    const auto unfocused = fcitx->selectInFocusedContext(source("fcitx:keyboard-us-altgr-intl"));
    ASSERT_FALSE(unfocused);
    EXPECT_EQ(unfocused.error().kind, Kind::noFocus);
    EXPECT_TRUE(controller->madeCurrent().empty());
}

TEST_F(FcitxTextInputSourcesTest, AfterTheBusRestartsFcitxIsFollowedAndSelectedAgain) {
    int enabledChanges = 0;
    auto observed = fcitx->onEnabledSourcesChanged([&] { ++enabledChanges; });
    const auto pumpUntil = [this](const std::function<bool()>& done) {
        return test::waitUntil(
            [this] {
                loop.pumpFds(20ms);
                loop.advance(Seconds(0.05));
            },
            done, 10s);
    };

    // Gone with the bus, which tells nobody that Fcitx's name went: deaf, and saying so, no
    // source is listed or offered.
    bus->stop();
    ASSERT_TRUE(pumpUntil([&] { return !fcitx->isAvailable(); }));
    controller.reset();
    EXPECT_EQ(enabledChanges, 1);
    EXPECT_TRUE(fcitx->sources().empty());
    EXPECT_EQ(fcitx->select(source("fcitx:anthy")), SelectStatus::unknownSource);

    auto restarted = bus->restart();
    ASSERT_TRUE(restarted) << restarted.error();
    controller = std::make_unique<FakeFcitxController>(bus->address(), kInputMethods);
    ASSERT_TRUE(controller->ready());
    ASSERT_TRUE(pumpUntil([&] { return fcitx->isAvailable(); }));
    EXPECT_TRUE(pumpUntil([&] { return enabledChanges == 2; }));
    EXPECT_EQ(fcitx->sources().size(), kInputMethods.size());
    EXPECT_EQ(fcitx->select(source("fcitx:anthy")), SelectStatus::ok);
    EXPECT_EQ(controller->madeCurrent(), std::vector<std::string>{"anthy"});

    // The new bus carries the match for the group announcements again.
    controller->announceGroups = true;
    EXPECT_TRUE(pumpUntil([&] { return enabledChanges == 3; }));
}

}  // namespace
}  // namespace tesvano::platform
