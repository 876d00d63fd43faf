#include <gtest/gtest.h>
#include <stdlib.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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
// private bus: it answers with one group of input methods, the input methods it knows and a
// focus state, and keeps the names it was asked to make current. As Fcitx does, it makes
// current only an input method of the group, ignores the others without an error, and says
// nothing when the group changes.
class FakeFcitxController {
public:
    FakeFcitxController(const std::string& address, std::vector<std::string> group,
                        std::vector<std::string> known)
        : group_(std::move(group)), known_(std::move(known)) {
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
    // Off: requests are ignored, as Fcitx ignores them where it cannot switch.
    std::atomic<bool> switches{true};
    // Set to announce a change of the groups, as Fcitx does after its configuration changed.
    std::atomic<bool> announceGroups{false};
    std::vector<std::string> madeCurrent() {
        std::lock_guard lock(mutex_);
        return madeCurrent_;
    }
    // Another program's switch, or the user's, by a way that tells the session bus nothing.
    void switchTo(const std::string& name) {
        std::lock_guard lock(mutex_);
        current_ = name;
    }
    void setGroup(std::vector<std::string> group) {
        std::lock_guard lock(mutex_);
        group_ = std::move(group);
    }
    int currentReads() const { return currentReads_; }
    int groupReads() const { return groupReads_; }

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
        auto& fake = self(data);
        {
            std::lock_guard lock(fake.mutex_);
            fake.madeCurrent_.emplace_back(name);
            if (fake.switches && std::ranges::find(fake.group_, name) != fake.group_.end()) {
                fake.current_ = name;
            }
        }
        return sd_bus_reply_method_return(call, "");
    }
    static int onCurrent(sd_bus_message* call, void* data, sd_bus_error*) {
        auto& fake = self(data);
        std::string current;
        {
            std::lock_guard lock(fake.mutex_);
            current = fake.current_;
        }
        const int r = sd_bus_reply_method_return(call, "s", current.c_str());
        ++fake.currentReads_;
        return r;
    }
    static int onGroup(sd_bus_message* call, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(call, "s", "Default");
    }
    static int onGroupInfo(sd_bus_message* call, void* data, sd_bus_error*) {
        auto& fake = self(data);
        std::lock_guard lock(fake.mutex_);
        ++fake.groupReads_;
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_return(call, &reply);
        r = r < 0 ? r : sd_bus_message_append(reply, "s", "us");
        r = r < 0 ? r : sd_bus_message_open_container(reply, 'a', "(ss)");
        for (const auto& name : fake.group_) {
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
        for (const auto& name : self(data).known_) {
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
    const std::vector<std::string> known_;
    std::string current_;
    std::atomic<int> currentReads_{0};
    std::atomic<int> groupReads_{0};
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
    SD_BUS_METHOD("CurrentInputMethod", "", "s", &onCurrent, 0),
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
        auto known = kInputMethods;
        known.emplace_back("mozc");
        controller = std::make_unique<FakeFcitxController>(bus->address(), kInputMethods, known);
        ASSERT_TRUE(controller->ready());
        ASSERT_NO_FATAL_FAILURE(open(false));
    }
    void open(bool applicationsUseIBus) {
        fcitx.reset();
        auto opened = FcitxTextInputSources::open(loop, applicationsUseIBus);
        ASSERT_TRUE(opened) << opened.error();
        fcitx = std::move(*opened);
        ASSERT_TRUE(fcitx->isAvailable());
        selectionChanges = fcitx->onSelectionChanged([this] { ++selectionChangeCount; });
        enabledChanges = fcitx->onEnabledSourcesChanged([this] { ++enabledChangeCount; });
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

    // The poll that falls due after a second: its request goes out and its answer is
    // dispatched, with whatever it tells.
    void poll() {
        const int before = controller->currentReads();
        loop.advance(FcitxTextInputSources::currentPollInterval);
        ASSERT_TRUE(test::waitUntil(test::every(std::chrono::milliseconds(2)),
                                    [&] { return controller->currentReads() > before; }));
        // The controller answers in order: the answer of a call made now comes after the
        // poll's, which is then queued for the loop.
        (void)fcitx->currentKeyboardSource();
        loop.runDue();
    }

    std::vector<std::string> listedIDs() {
        std::vector<std::string> ids;
        for (const auto& each : fcitx->sources()) {
            ids.push_back(each.id.value_or(""));
        }
        return ids;
    }

    ManualRunLoop loop;
    std::unique_ptr<test::SessionBus> bus;
    std::optional<std::string> previousAddress;
    std::unique_ptr<FakeFcitxController> controller;
    std::unique_ptr<FcitxTextInputSources> fcitx;
    Registration selectionChanges;
    Registration enabledChanges;
    int selectionChangeCount = 0;
    int enabledChangeCount = 0;
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

// Applications on Fcitx's IBus emulation tell the session bus nothing of a switch: it is
// learned by polling. Another program's switch back to what the last poll saw, after one of
// ours and before the next poll, is a change all the same.
TEST_F(FcitxTextInputSourcesTest, APollAfterOurSwitchSeesASwitchBackToWhatTheLastPollSaw) {
    ASSERT_NO_FATAL_FAILURE(open(true));
    controller->switchTo("keyboard-de");
    ASSERT_NO_FATAL_FAILURE(poll());
    EXPECT_EQ(selectionChangeCount, 0);
    for (const bool focused : {true, false}) {
        SCOPED_TRACE(focused ? "in the focused context" : "the standard way");
        const int before = selectionChangeCount;
        if (focused) {
            EXPECT_TRUE(fcitx->selectInFocusedContext(source("fcitx:anthy")));
        } else {
            EXPECT_EQ(fcitx->select(source("fcitx:anthy")), SelectStatus::ok);
        }
        controller->switchTo("keyboard-de");
        ASSERT_NO_FATAL_FAILURE(poll());
        EXPECT_EQ(selectionChangeCount, before + 1);
        // Nothing changed since.
        ASSERT_NO_FATAL_FAILURE(poll());
        EXPECT_EQ(selectionChangeCount, before + 1);
    }
    // Our own switch that holds is no change to tell.
    EXPECT_EQ(fcitx->select(source("fcitx:pinyin")), SelectStatus::ok);
    ASSERT_NO_FATAL_FAILURE(poll());
    EXPECT_EQ(selectionChangeCount, 2);
}

// Fcitx says nothing when an input method leaves the group, and ignores a request for it: a
// request that does not take reads the group again, and one for an input method that left it
// is refused as unknown, with the change of the list told once.
TEST_F(FcitxTextInputSourcesTest, ARequestThatDoesNotTakeReadsTheGroupAgain) {
    controller->switchTo("keyboard-de");
    ASSERT_EQ(listedIDs().size(), kInputMethods.size());
    const int groupReads = controller->groupReads();

    // Fcitx cannot switch now: still listed, not selected, and the list is no news.
    controller->switches = false;
    EXPECT_EQ(fcitx->select(source("fcitx:anthy")), SelectStatus::failed);
    const auto ignored = fcitx->selectInFocusedContext(source("fcitx:anthy"));
    ASSERT_FALSE(ignored);
    EXPECT_EQ(ignored.error().kind, Kind::rejected);
    EXPECT_GT(controller->groupReads(), groupReads);
    EXPECT_EQ(listedIDs().size(), kInputMethods.size());
    loop.runUntilIdle();
    EXPECT_EQ(enabledChangeCount, 0);

    controller->switches = true;
    auto without = kInputMethods;
    std::erase(without, "anthy");
    controller->setGroup(without);
    EXPECT_FALSE(fcitx->selectInFocusedContext(source("fcitx:anthy")));
    EXPECT_EQ(fcitx->select(source("fcitx:anthy")), SelectStatus::unknownSource);
    EXPECT_FALSE(fcitx->sourceWithID("fcitx:anthy"));
    EXPECT_EQ(std::ranges::count(listedIDs(), std::string("fcitx:anthy")), 0);
    EXPECT_EQ(enabledChangeCount, 0) << "told from inside the request";
    loop.runUntilIdle();
    EXPECT_EQ(enabledChangeCount, 1);
    EXPECT_EQ(fcitx->currentKeyboardSource()->id, "fcitx:keyboard-de");
}

// An input method current but not listed was added to the group since it was read: it is read
// again, once while that input method stays current.
TEST_F(FcitxTextInputSourcesTest, AnUnlistedCurrentInputMethodReadsTheGroupAgainOnce) {
    controller->switchTo("keyboard-de");
    ASSERT_EQ(listedIDs().size(), kInputMethods.size());
    auto with = kInputMethods;
    with.emplace_back("mozc");
    controller->setGroup(with);
    controller->switchTo("mozc");
    const auto current = fcitx->currentKeyboardSource();
    ASSERT_TRUE(current);
    EXPECT_EQ(current->id, "fcitx:mozc");
    EXPECT_EQ(current->localizedName, "mozc") << "named as a listed one";
    EXPECT_TRUE(fcitx->sourceWithID("fcitx:mozc"));
    loop.runUntilIdle();
    EXPECT_EQ(enabledChangeCount, 1);

    // One that stays unlisted (in use though not in any group) is read for once, not at every
    // look; the reading finds the group changed meanwhile.
    controller->setGroup(kInputMethods);
    controller->switchTo("cangjie");
    const int groupReads = controller->groupReads();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(fcitx->currentKeyboardSource()->id, "fcitx:cangjie");
    }
    EXPECT_EQ(controller->groupReads(), groupReads + 1);
    EXPECT_FALSE(fcitx->sourceWithID("fcitx:mozc"));
    loop.runUntilIdle();
    EXPECT_EQ(enabledChangeCount, 2);
    // Back to it after a listed one: read for again.
    controller->switchTo("keyboard-de");
    fcitx->currentKeyboardSource();
    controller->switchTo("cangjie");
    fcitx->currentKeyboardSource();
    EXPECT_EQ(controller->groupReads(), groupReads + 2);
}

TEST_F(FcitxTextInputSourcesTest, AfterTheBusRestartsFcitxIsFollowedAndSelectedAgain) {
    const int before = enabledChangeCount;
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
    EXPECT_EQ(enabledChangeCount, before + 1);
    EXPECT_TRUE(fcitx->sources().empty());
    EXPECT_EQ(fcitx->select(source("fcitx:anthy")), SelectStatus::unknownSource);

    auto restarted = bus->restart();
    ASSERT_TRUE(restarted) << restarted.error();
    controller =
        std::make_unique<FakeFcitxController>(bus->address(), kInputMethods, kInputMethods);
    ASSERT_TRUE(controller->ready());
    ASSERT_TRUE(pumpUntil([&] { return fcitx->isAvailable(); }));
    EXPECT_TRUE(pumpUntil([&] { return enabledChangeCount == before + 2; }));
    EXPECT_EQ(fcitx->sources().size(), kInputMethods.size());
    EXPECT_EQ(fcitx->select(source("fcitx:anthy")), SelectStatus::ok);
    EXPECT_EQ(controller->madeCurrent(), std::vector<std::string>{"anthy"});

    // The new bus carries the match for the group announcements again.
    controller->announceGroups = true;
    EXPECT_TRUE(pumpUntil([&] { return enabledChangeCount == before + 3; }));
}

}  // namespace
}  // namespace tesvano::platform
