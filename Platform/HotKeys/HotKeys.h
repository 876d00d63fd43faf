#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace tesvano::platform {

// One key combination as the X server sees it: a keycode (the evdev code plus 8) and a mask
// of the four modifiers a global shortcut may use. Lock modifiers (Caps, Num, Scroll Lock)
// never belong to a combination; the backends ignore them.
struct KeyCombination {
    // X modifier bits, as in <X11/X.h>.
    static constexpr std::uint32_t shiftMask = 1U << 0;
    static constexpr std::uint32_t controlMask = 1U << 2;
    static constexpr std::uint32_t mod1Mask = 1U << 3;  // Alt
    static constexpr std::uint32_t mod4Mask = 1U << 6;  // Super
    static constexpr std::uint32_t shortcutModifiers =
        shiftMask | controlMask | mod1Mask | mod4Mask;

    std::uint32_t keycode = 0;
    std::uint32_t modifiers = 0;

    auto operator<=>(const KeyCombination&) const = default;
};

enum class HotKeyEvent { pressed, released };

// Owns one grab: destroying it (or calling reset) gives the combination back. Safe to outlive
// the backend that made it.
class [[nodiscard]] HotKeyGrab {
public:
    HotKeyGrab() = default;
    explicit HotKeyGrab(std::function<void()> release) : release_(std::move(release)) {}
    HotKeyGrab(HotKeyGrab&& other) noexcept : release_(std::exchange(other.release_, nullptr)) {}
    HotKeyGrab& operator=(HotKeyGrab&& other) noexcept {
        if (this != &other) {
            reset();
            release_ = std::exchange(other.release_, nullptr);
        }
        return *this;
    }
    HotKeyGrab(const HotKeyGrab&) = delete;
    HotKeyGrab& operator=(const HotKeyGrab&) = delete;
    ~HotKeyGrab() { reset(); }

    // False when the grab was refused.
    bool active() const { return static_cast<bool>(release_); }
    explicit operator bool() const { return active(); }

    void reset() {
        if (auto release = std::exchange(release_, nullptr)) {
            release();
        }
    }

private:
    std::function<void()> release_;
};

// System-wide hot keys: a grabbed combination is delivered to this program wherever the
// focus is, and to no other program.
class HotKeys {
public:
    using Handler = std::function<void(HotKeyEvent)>;

    virtual ~HotKeys() = default;

    // Claims the combination. The handler is told of each press (once, however long the key
    // is held) and of the release of the pressed key, whatever the modifiers do meanwhile.
    // A combination another program holds, one this program already holds, or one that
    // cannot be grabbed gives an inactive handle; nothing is reported.
    virtual HotKeyGrab grab(KeyCombination combination, Handler handler) = 0;

    // True when another program holds the combination, so that a grab would be refused.
    // Combinations this program holds count as free.
    virtual bool heldElsewhere(KeyCombination combination) = 0;
};

// The text a key types on the current keyboard layout, or on the first layout that can type
// Latin letters when the current one cannot (a Russian or Greek layout, say).
class KeyTranslator {
public:
    virtual ~KeyTranslator() = default;

    // The key's text without modifiers: empty when the key types nothing (a dead key, a
    // modifier); none when there is no usable layout or the layout has no such key.
    virtual std::optional<std::string> keyText(std::uint32_t keycode) = 0;
};

}  // namespace tesvano::platform
