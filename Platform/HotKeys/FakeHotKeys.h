#pragma once

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "Platform/HotKeys/HotKeys.h"

namespace tesvano::platform {

// Hot keys and a keyboard layout kept in memory, with a window for tests: which combinations
// are grabbed, what other programs hold, and presses and releases on demand.
class FakeHotKeys final : public HotKeys, public KeyTranslator {
public:
    FakeHotKeys();
    ~FakeHotKeys() override;

    HotKeyGrab grab(KeyCombination combination, Handler handler) override;
    bool heldElsewhere(KeyCombination combination) override;
    std::optional<std::string> keyText(std::uint32_t keycode) override;

    // Another program takes (or gives back) the combination.
    void holdElsewhere(KeyCombination combination, bool held = true);

    bool isGrabbed(KeyCombination combination) const;
    std::vector<KeyCombination> grabbed() const;
    // How many grabs were asked for, refused ones included.
    int grabRequests() const;

    // The user presses or releases the combination. False when nothing of this program holds
    // it, so the key would have gone elsewhere.
    bool press(KeyCombination combination);
    bool release(KeyCombination combination);

    // keycode → text of the current layout. Starts as a US layout's letters, digits and
    // punctuation; a keycode missing from the map has no text.
    std::map<std::uint32_t, std::string> layout;
    static std::map<std::uint32_t, std::string> usLayout();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace tesvano::platform
