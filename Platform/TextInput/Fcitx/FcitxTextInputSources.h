#pragma once

#include <expected>
#include <memory>
#include <string>

#include "Platform/Runtime/Runtime.h"
#include "Platform/TextInput/TextInputSources.h"

namespace tesvano::platform {

// Fcitx 5's input methods as input sources, through its controller interface on the session
// bus (org.fcitx.Fcitx5, /controller). The sources are the current group's entries, named
// "fcitx:<input method>" ("fcitx:anthy", "fcitx:keyboard-de"); Fcitx's own names, which it
// translates itself, and its language codes describe them.
//
// Fcitx may start, stop and restart while we run: the sources follow its name on the bus.
// A change of its groups may go unannounced (5.0.21 never sends its signal for one): the group
// is read again when a selection does not take or an input method outside the list is current.
// A change of the current input method, which belongs to the focused input context, is told
// only to that context's application; those announcements are watched as a monitor of the
// session bus. Where the bus refuses that, or where applications reach Fcitx through its
// emulation of IBus (which tells them nothing of it), the current input method is read on a
// slow timer while Fcitx runs, and compared with what it was last seen or made to be.
class FcitxTextInputSources final : public TextInputSources {
public:
    static constexpr std::string_view idPrefix = "fcitx:";
    // How often the current input method is read while Fcitx runs, where it cannot be watched.
    static constexpr Seconds currentPollInterval{1.0};

    // Connects to the session bus (DBUS_SESSION_BUS_ADDRESS); fails with a readable reason
    // when there is none. Fcitx itself need not run yet. `applicationsUseIBus`: the session
    // tells applications to use IBus, which Fcitx may serve in its place.
    static std::expected<std::unique_ptr<FcitxTextInputSources>, std::string> open(
        Runtime& runtime, bool applicationsUseIBus = false);
    ~FcitxTextInputSources() override;
    FcitxTextInputSources(const FcitxTextInputSources&) = delete;
    FcitxTextInputSources& operator=(const FcitxTextInputSources&) = delete;

    std::vector<TextInputSource> sources() override;
    std::optional<TextInputSource> currentKeyboardSource() override;
    std::optional<TextInputSource> sourceWithID(std::string_view id) override;
    SelectStatus select(const TextInputSource& source) override;
    bool isAvailable() override;
    bool managesKeyboardLayouts() override;
    // Fcitx switches the input method of the focused input context; without one there is
    // nobody to take the request.
    FocusedSelection selectInFocusedContext(const TextInputSource& source) override;

private:
    struct Impl;
    explicit FcitxTextInputSources(std::unique_ptr<Impl> impl);

    std::unique_ptr<Impl> impl_;
};

}  // namespace tesvano::platform
