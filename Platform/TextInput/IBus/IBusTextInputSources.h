#pragma once

#include <memory>
#include <string>

#include "Platform/TextInput/TextInputSources.h"

namespace tesvano::platform {

// IBus engines as input sources, through libibus. The sources are the engines the user has
// enabled (IBus's preload-engines setting), named "ibus:<engine>" ("ibus:anthy",
// "ibus:xkb:de::ger") and described by the engines' own long names and languages.
//
// IBus runs a bus of its own, found through the address file the daemon writes (or
// IBUS_ADDRESS); libibus watches that file, so a daemon that starts, stops or restarts while
// we run is followed. The current source is IBus's global engine, announced by its change
// signal. Needs GLib's main context to be dispatched (Qt's GLib event dispatcher in the
// program, GLibRunLoop in the tools).
class IBusTextInputSources final : public TextInputSources {
public:
    static constexpr std::string_view idPrefix = "ibus:";

    // Never fails: the daemon may start later.
    static std::unique_ptr<IBusTextInputSources> open();
    ~IBusTextInputSources() override;
    IBusTextInputSources(const IBusTextInputSources&) = delete;
    IBusTextInputSources& operator=(const IBusTextInputSources&) = delete;

    std::vector<TextInputSource> sources() override;
    std::optional<TextInputSource> currentKeyboardSource() override;
    std::optional<TextInputSource> sourceWithID(std::string_view id) override;
    // Sets the global engine, waiting for IBus to have switched.
    SelectStatus select(const TextInputSource& source) override;
    bool isAvailable() override;
    bool managesKeyboardLayouts() override;
    // With an input context in focus, asks IBus to switch the global engine, which that
    // context takes at once, and answers without waiting.
    FocusedSelection selectInFocusedContext(const TextInputSource& source) override;

private:
    struct Impl;
    explicit IBusTextInputSources(std::unique_ptr<Impl> impl);

    std::unique_ptr<Impl> impl_;
};

}  // namespace tesvano::platform
