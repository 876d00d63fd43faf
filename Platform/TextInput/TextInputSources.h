#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

class TextInputSources;

// One enabled keyboard source (a layout or an input method) as the system describes it. Any
// property may be missing; callers decide what a missing one means.
struct TextInputSource {
    std::optional<std::string> id;
    std::optional<std::string> localizedName;
    std::optional<std::vector<std::string>> languages;  // BCP 47 tags or POSIX locales
    // The backend that listed it, set where several are combined: requests for the source go
    // straight there instead of searching every backend for its id again.
    TextInputSources* backend = nullptr;

    bool operator==(const TextInputSource&) const = default;
};

enum class SelectStatus {
    ok,
    unknownSource,  // nothing installed under that id
    failed,         // the system refused or could not be reached
};

// Why a request to the input context that has the keyboard focus did not go through.
struct FocusedSelectionFailure {
    enum class Kind {
        unavailable,   // this system has no such request, or it does not run
        noFocus,       // no input context has the keyboard focus
        transport,     // the request could not be sent; `code` says why
        rejected,      // the system refused it; `code` says why
        invalidReply,  // the answer was not in the expected form
    };
    Kind kind = Kind::unavailable;
    std::int32_t code = 0;

    bool operator==(const FocusedSelectionFailure&) const = default;
};
using FocusedSelection = std::expected<void, FocusedSelectionFailure>;

// The source with this id in a list, if any.
std::optional<TextInputSource> findSource(std::vector<TextInputSource> sources,
                                          std::string_view id);
// The listed source with this id, or one that carries the id alone: a framework may have an
// engine in use that the user has not enabled.
TextInputSource listedOrBare(std::vector<TextInputSource> sources, const std::string& id);

// Registered callbacks of one kind; each registration is an RAII handle. Callbacks added or
// cancelled while a notification is running take effect for the next one.
class CallbackList {
public:
    Registration add(std::function<void()> callback);
    void notify();
    std::size_t liveCount();

private:
    struct Entry {
        std::shared_ptr<Registration::State> state;
        std::shared_ptr<std::function<void()>> callback;
    };
    void dropCancelled();

    std::vector<Entry> entries_;
};

// The system's keyboard input sources: listing, the current one, selection and the two
// change notifications. Main thread only; notifications arrive on the main thread.
class TextInputSources {
public:
    virtual ~TextInputSources() = default;

    // The installed and enabled sources, in the system's order.
    virtual std::vector<TextInputSource> sources() = 0;
    // The selected keyboard source, if the system reports one.
    virtual std::optional<TextInputSource> currentKeyboardSource() = 0;
    // The first installed and enabled source with this id.
    virtual std::optional<TextInputSource> sourceWithID(std::string_view id) = 0;
    // Selects a source this object (or one of the backends it combines) handed out.
    virtual SelectStatus select(const TextInputSource& source) = 0;
    // Whether this program may select the source now. A desktop that owns the selection (GNOME
    // Shell without our extension) lists and reports its sources but undoes any selection made
    // by others: nothing is to be selected or put back there.
    virtual bool canSelect(const TextInputSource& /*source*/) { return true; }

    // Whether the system behind this object answers now. An input-method framework may start,
    // stop and restart while the program runs; its sources come and go with it, announced as
    // changes of the enabled sources and of the selection.
    virtual bool isAvailable() { return true; }
    // Whether the sources include keyboard layouts that this system sets itself, so that the
    // X server's layout groups follow it rather than the other way round.
    virtual bool managesKeyboardLayouts() { return false; }
    // Asks the input context that has the keyboard focus to take the source, the way the
    // system itself does when the user picks one there. Systems without such a request
    // answer `unavailable`.
    virtual FocusedSelection selectInFocusedContext(const TextInputSource& /*source*/) {
        return std::unexpected(FocusedSelectionFailure{});
    }

    // The selected keyboard source changed (by anyone, this program included).
    Registration onSelectionChanged(std::function<void()> callback) {
        return selectionChanged_.add(std::move(callback));
    }
    // The set of enabled keyboard sources changed.
    Registration onEnabledSourcesChanged(std::function<void()> callback) {
        return enabledSourcesChanged_.add(std::move(callback));
    }

protected:
    void notifySelectionChanged() { selectionChanged_.notify(); }
    void notifyEnabledSourcesChanged() { enabledSourcesChanged_.notify(); }
    std::size_t selectionObserverCount() { return selectionChanged_.liveCount(); }
    std::size_t enabledSourcesObserverCount() { return enabledSourcesChanged_.liveCount(); }

private:
    CallbackList selectionChanged_;
    CallbackList enabledSourcesChanged_;
};

}  // namespace tesvano::platform
