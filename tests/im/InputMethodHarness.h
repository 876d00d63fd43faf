#pragma once

#include <expected>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSession.h"

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
    // Leaves only the layout entry in the framework's list, the way its settings tool does;
    // empty where the current engine stays in use then (IBus).
    std::vector<std::string> removeEngine;
    std::vector<std::string> programs;  // what must be installed

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

// One framework in a private session of its own (see PrivateSession) with a window manager,
// for the test window to get the focus.
class InputMethodSession {
public:
    static std::expected<std::unique_ptr<InputMethodSession>, std::string> start(
        const InputMethodFramework& framework, InputMethodSetup setup = {});

    const PrivateSession& session() const { return *session_; }
    // Starts the framework, with IBus beside Fcitx where set up; waits until it answers.
    std::expected<void, std::string> startFramework();
    void stopFramework();
    // The framework's current engine, by its own name; empty when it does not answer.
    std::string currentEngine() const;
    // Starts the Qt window with a text field; waits until it shows.
    std::expected<std::unique_ptr<JSONLineProcess>, std::string> startWindow() const;

private:
    InputMethodSession(const InputMethodFramework& framework, InputMethodSetup setup,
                       std::unique_ptr<PrivateSession> session);
    // Standard output of a short command of the session; empty when it failed.
    std::string answer(const std::vector<std::string>& argv) const;

    const InputMethodFramework& framework_;
    InputMethodSetup setup_;
    std::unique_ptr<PrivateSession> session_;
    std::unique_ptr<ProcessGroup> daemon_;
    std::unique_ptr<ProcessGroup> ibus_;
};

}  // namespace tesvano::test
