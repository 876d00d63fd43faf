#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/browser/BrowserHarness.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace tesvano::test {

// A real input-method framework with one Japanese engine (Anthy) and the US layout entry,
// for the tests and the probes.
struct InputMethodFramework {
    const char* name;        // "ibus" or "fcitx"
    const char* imModule;    // Qt's input-method module, and XMODIFIERS' name
    const char* engine;      // the CJKV engine's source id
    const char* engineName;  // its name as the framework gives it
    const char* layout;      // the framework's entry for the US layout
    const char* layoutName;
    std::vector<std::string> switchToLayout;  // another client's switch, as a command
    std::vector<std::string> askCurrent;      // prints the current engine's own name
    const char* engineAnswer;                 // what that prints for the CJKV engine
    const char* layoutAnswer;                 // and for the layout entry
    std::vector<std::string> programs;        // what must be installed

    static const InputMethodFramework& ibus();
    static const InputMethodFramework& fcitx();
};

// How the session comes up, where it differs from a desktop with IBus's panel.
struct InputMethodSetup {
    bool firstEngineSet = true;  // IBus's panel sets one; Debian's leaves IBus with none
    bool startedLater = false;   // by the test (startFramework), after the engine program
    // Fcitx with IBus started before (1) or after (2) it, the session set to IBus.
    int ibusToo = 0;
};

// One framework on a private session bus, with home, configuration, cache and runtime
// folders of its own, for an X display given by the caller (which must run a window
// manager for the test window to get the focus).
class InputMethodSession {
public:
    static std::expected<std::unique_ptr<InputMethodSession>, std::string> start(
        const InputMethodFramework& framework, const std::string& display,
        InputMethodSetup setup = {});
    ~InputMethodSession();

    // DISPLAY, the bus, the folders and the input-method variables, as NAME=value entries.
    const std::vector<std::string>& environment() const { return environment_; }
    // Sets the environment in this process too (libibus and the session bus read it).
    void adoptEnvironment() const;
    const TempDir& home() const { return home_; }

    // Starts the framework, with IBus beside Fcitx where set up; waits until it answers.
    std::expected<void, std::string> startFramework();
    // Stops the framework and starts it again; waits until it answers.
    std::expected<void, std::string> restartFramework();
    void stopFramework();
    // The framework's current engine, by its own name; empty when it does not answer.
    std::string currentEngine() const;
    // Starts the Qt window with a text field; waits until it shows.
    std::expected<std::unique_ptr<JSONLineProcess>, std::string> startWindow() const;

private:
    InputMethodSession(const InputMethodFramework& framework, std::string display);

    const InputMethodFramework& framework_;
    InputMethodSetup setup_;
    std::string display_;
    TempDir home_;
    std::unique_ptr<SessionBus> bus_;
    std::vector<std::string> environment_;
    std::unique_ptr<ProcessGroup> daemon_;
    std::unique_ptr<ProcessGroup> ibus_;
};

// Standard output of a short command run with `environment` added, without the last line
// break; empty when it failed.
std::string outputOf(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment);

// Starts openbox on the session's display and waits until it manages windows.
std::expected<std::unique_ptr<ProcessGroup>, std::string> startWindowManager(
    const InputMethodSession& session);

// Checks `done` every 50 ms until it holds or `timeout` passes.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout);

}  // namespace tesvano::test
