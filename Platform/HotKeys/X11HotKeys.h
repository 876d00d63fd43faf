#pragma once

#include <expected>
#include <memory>
#include <string>

#include "Platform/HotKeys/HotKeys.h"
#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

// Hot keys through passive key grabs on the root window, on a connection of their own whose
// events the runtime dispatches on the main thread. Each combination is grabbed once for
// every state of Caps Lock, Num Lock and Scroll Lock, so a lit lock does not disable it; the
// grabs are made again when the keyboard mapping changes. Also translates keys through the
// server's current keymap.
class X11HotKeys final : public HotKeys, public KeyTranslator {
public:
    // Connects to `displayName` ($DISPLAY when empty). Fails when the display cannot be
    // opened or lacks the keyboard extension.
    static std::expected<std::unique_ptr<X11HotKeys>, std::string> open(
        Runtime& runtime, const std::string& displayName = {});

    ~X11HotKeys() override;
    X11HotKeys(const X11HotKeys&) = delete;
    X11HotKeys& operator=(const X11HotKeys&) = delete;

    HotKeyGrab grab(KeyCombination combination, Handler handler) override;
    bool heldElsewhere(KeyCombination combination) override;
    std::optional<std::string> keyText(std::uint32_t keycode) override;

    // A round trip to the server, then every event that arrived is handled. Whatever the
    // server did before the call has been seen afterwards.
    void sync();

    // Presses of a key that was already down (the server repeating a held key), which are no
    // new press of its combination.
    int repeatsIgnored() const;

private:
    struct Core;
    explicit X11HotKeys(std::shared_ptr<Core> core);
    std::shared_ptr<Core> core_;
};

}  // namespace tesvano::platform
