#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/TextInputSources.h"

namespace tesvano::platform {

// The X server's keyboard layout groups as input sources. The sources are the configured
// layouts in group order, named by the rules names the server publishes: "xkb:<layout>" or
// "xkb:<layout>(<variant>)". The selected source is the locked group; a group that is only
// latched or held with a key is not a selection.
//
// Keeps a connection of its own, watched on the runtime's main loop.
class XkbTextInputSources final : public TextInputSources {
public:
    // Connects to `displayName` (empty: $DISPLAY). Fails with a readable reason when the
    // display cannot be opened or has no XKB.
    static std::expected<std::unique_ptr<XkbTextInputSources>, std::string> open(
        Runtime& runtime, const std::string& displayName = {});
    ~XkbTextInputSources() override;
    XkbTextInputSources(const XkbTextInputSources&) = delete;
    XkbTextInputSources& operator=(const XkbTextInputSources&) = delete;

    std::vector<TextInputSource> sources() override;
    std::optional<TextInputSource> currentKeyboardSource() override;
    std::optional<TextInputSource> sourceWithID(std::string_view id) override;
    // Locks the source's first group, which the X server applies to every client at once.
    SelectStatus select(const TextInputSource& source) override;

    // Another way to lock a group, tried first: a desktop that remembers a layout per window
    // wants to hear of a selection through its own service. Answers false when that failed;
    // the group is then locked directly.
    using GroupSelector = std::function<bool(unsigned group)>;
    void setGroupSelector(GroupSelector selector) { groupSelector_ = std::move(selector); }

private:
    struct Impl;
    explicit XkbTextInputSources(std::unique_ptr<Impl> impl);
    void dispatchEvents();
    void dispatchLaterIfQueued();

    std::unique_ptr<Impl> impl_;
    GroupSelector groupSelector_;
};

}  // namespace tesvano::platform
