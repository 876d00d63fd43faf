#include "Platform/TextInput/Xkb/XkbTextInputSources.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/XKBlib.h>
// clang-format on

#include <algorithm>
#include <ranges>
#include <string_view>
#include <vector>

#include "Platform/TextInput/Xkb/XkbLayoutRegistry.h"

namespace tesvano::platform {

namespace {

struct RulesNames {
    std::string rules;
    std::vector<std::string> layouts;
    std::vector<std::string> variants;
};

std::vector<std::string> splitCommas(std::string_view text) {
    std::vector<std::string> out;
    for (auto part : std::views::split(text, ',')) {
        out.emplace_back(std::string_view(part.begin(), part.end()));
    }
    return out;
}

// The property holds rules, model, layouts, variants and options, each ended by a NUL.
std::optional<RulesNames> readRulesNames(Display* display, Atom atom) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), atom, 0, 1024, False,
                                          XA_STRING, &type, &format, &count, &remaining, &data);
    if (status != Success || data == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> fields;
    if (type == XA_STRING && format == 8) {
        const std::string_view all(reinterpret_cast<const char*>(data), count);
        for (auto part : std::views::split(all, '\0')) {
            fields.emplace_back(std::string_view(part.begin(), part.end()));
        }
    }
    XFree(data);
    if (fields.size() < 3 || fields[2].empty()) {
        return std::nullopt;
    }
    RulesNames names;
    names.rules = fields[0];
    names.layouts = splitCommas(fields[2]);
    if (fields.size() > 3) {
        names.variants = splitCommas(fields[3]);
    }
    return names;
}

std::string sourceID(std::string_view layout, std::string_view variant) {
    std::string id = "xkb:";
    id.append(layout);
    if (!variant.empty()) {
        id.append("(").append(variant).append(")");
    }
    return id;
}

struct KeyboardDeleter {
    void operator()(XkbDescRec* desc) const { XkbFreeKeyboard(desc, XkbAllComponentsMask, True); }
};
using Keyboard = std::unique_ptr<XkbDescRec, KeyboardDeleter>;

}  // namespace

struct XkbTextInputSources::Impl {
    Runtime& runtime;
    Display* display = nullptr;
    int xkbEventType = 0;
    Atom rulesNamesAtom = 0;
    Registration fdWatch;
    Registration laterDispatch;
    bool dispatchPending = false;
    std::optional<std::string> lastSelectedID;
    std::string registryRules;
    std::unique_ptr<XkbLayoutRegistry> registry;
    // The layout list costs two round trips to read, and the lock reads it several times per
    // switch; it only changes with the notifications that clear this.
    std::optional<std::vector<TextInputSource>> cachedSources;
    // The source id of each group, in group order; a layout the keymap carries in several
    // groups is one source.
    std::vector<std::string> groupIDs;
    // The locked group as the last state notification (or reply) gave it; none after our own
    // selection until the server has said what it did.
    std::optional<unsigned> cachedGroup;
    // Lets a dispatch notice that a callback destroyed this object.
    std::shared_ptr<int> lifeToken = std::make_shared<int>(0);

    Impl(Runtime& rt, Display* d) : runtime(rt), display(d) {}
    ~Impl() {
        fdWatch.cancel();
        laterDispatch.cancel();
        XCloseDisplay(display);
    }

    const XkbLayoutRegistry& registryFor(const std::string& rules) {
        // Parsing the registry takes a while; its files do not change under a running session.
        if (!registry || registryRules != rules) {
            registry = std::make_unique<XkbLayoutRegistry>(rules);
            registryRules = rules;
        }
        return *registry;
    }

    int groupCount() {
        Keyboard desc(XkbAllocKeyboard());
        if (!desc || XkbGetControls(display, XkbGroupsWrapMask, desc.get()) != Success ||
            desc->ctrls == nullptr) {
            return 0;
        }
        return desc->ctrls->num_groups;
    }

    // The names the keymap itself gives its groups, for layouts the registry does not know.
    std::vector<std::string> groupNames() {
        std::vector<std::string> names(XkbNumKbdGroups);
        Keyboard desc(XkbAllocKeyboard());
        if (!desc || XkbGetNames(display, XkbGroupNamesMask, desc.get()) != Success ||
            desc->names == nullptr) {
            return names;
        }
        for (int i = 0; i < XkbNumKbdGroups; ++i) {
            if (desc->names->groups[i] == 0) {
                continue;
            }
            if (char* name = XGetAtomName(display, desc->names->groups[i])) {
                names[static_cast<std::size_t>(i)] = name;
                XFree(name);
            }
        }
        return names;
    }

    // Whether an event announces another layout list: a new keymap, new group names, or new
    // rules names published by a configuration tool.
    bool changesLayouts(const XEvent& event) const {
        if (event.type == xkbEventType) {
            const int kind = reinterpret_cast<const XkbEvent*>(&event)->any.xkb_type;
            return kind == XkbNewKeyboardNotify || kind == XkbNamesNotify;
        }
        return event.type == PropertyNotify && event.xproperty.atom == rulesNamesAtom;
    }

    // A change of the locked group (a new keymap may bring one as well).
    bool changesGroup(const XEvent& event) const {
        if (event.type == xkbEventType) {
            const auto* xkb = reinterpret_cast<const XkbEvent*>(&event);
            if (xkb->any.xkb_type == XkbStateNotify) {
                return (xkb->state.changed & XkbGroupLockMask) != 0;
            }
        }
        return changesLayouts(event);
    }

    // Whether an event the predicate accepts has arrived and waits to be dispatched; reads
    // what the server has sent, without waiting and without a round trip.
    bool pending(bool (Impl::*accepts)(const XEvent&) const) {
        if (XEventsQueued(display, QueuedAfterReading) == 0) {
            return false;
        }
        struct Scan {
            const Impl* self;
            bool (Impl::*accepts)(const XEvent&) const;
            bool found;
        } scan{this, accepts, false};
        XEvent unused;
        // The predicate never matches, so nothing leaves the queue.
        XCheckIfEvent(
            display, &unused,
            [](Display*, XEvent* event, XPointer arg) -> Bool {
                auto* s = reinterpret_cast<Scan*>(arg);
                s->found = s->found || (s->self->*(s->accepts))(*event);
                return False;
            },
            reinterpret_cast<XPointer>(&scan));
        return scan.found;
    }

    bool layoutChangePending() { return pending(&Impl::changesLayouts); }

    const std::vector<TextInputSource>& sources() {
        if (!cachedSources || layoutChangePending()) {
            cachedSources = readSources();
        }
        return *cachedSources;
    }

    // The first group that carries the source.
    std::optional<unsigned> groupOf(std::string_view id) {
        sources();
        const auto it = std::ranges::find(groupIDs, id);
        if (it == groupIDs.end()) {
            return std::nullopt;
        }
        return static_cast<unsigned>(it - groupIDs.begin());
    }

    // The sources in the order of their first group. Groups beyond the published layouts have
    // no name to go by and are left out; a layout repeated in a later group (a desktop adds
    // the interface language's layout that way) is listed once.
    std::vector<TextInputSource> readSources() {
        std::vector<TextInputSource> out;
        groupIDs.clear();
        const auto rulesNames = readRulesNames(display, rulesNamesAtom);
        if (!rulesNames) {
            return out;
        }
        const std::size_t count =
            std::min(rulesNames->layouts.size(), static_cast<std::size_t>(groupCount()));
        const XkbLayoutRegistry& names = registryFor(rulesNames->rules);
        std::optional<std::vector<std::string>> keymapNames;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string& layout = rulesNames->layouts[i];
            const std::string variant =
                i < rulesNames->variants.size() ? rulesNames->variants[i] : std::string();
            std::string id = sourceID(layout, variant);
            groupIDs.push_back(id);
            if (std::ranges::find(out, std::optional<std::string>(id), &TextInputSource::id) !=
                out.end()) {
                continue;
            }
            TextInputSource source;
            source.id = std::move(id);
            if (const auto* entry = names.find(layout, variant)) {
                source.localizedName = entry->description;
                source.languages = entry->languages;
            } else {
                if (!keymapNames) {
                    keymapNames = groupNames();
                }
                if (i < keymapNames->size() && !(*keymapNames)[i].empty()) {
                    source.localizedName = (*keymapNames)[i];
                }
            }
            out.push_back(std::move(source));
        }
        return out;
    }

    // Without a round trip while the server has announced no change since it last told us:
    // this runs on the way from an activation to the lock.
    std::optional<unsigned> lockedGroup() {
        if (cachedGroup && !pending(&Impl::changesGroup)) {
            return cachedGroup;
        }
        XkbStateRec state{};
        if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) {
            cachedGroup.reset();
            return std::nullopt;
        }
        cachedGroup = state.locked_group;
        return cachedGroup;
    }

    std::optional<TextInputSource> current() {
        const auto group = lockedGroup();
        if (!group) {
            return std::nullopt;
        }
        const auto& all = sources();
        if (*group >= groupIDs.size()) {
            return std::nullopt;
        }
        const auto it = std::ranges::find(all, std::optional<std::string>(groupIDs[*group]),
                                          &TextInputSource::id);
        if (it == all.end()) {
            return std::nullopt;
        }
        return *it;
    }

    std::optional<std::string> currentID() {
        if (auto source = current()) {
            return source->id;
        }
        return std::nullopt;
    }
};

std::expected<std::unique_ptr<XkbTextInputSources>, std::string> XkbTextInputSources::open(
    Runtime& runtime, const std::string& displayName) {
    std::string name = displayName;
    int eventBase = 0;
    int errorBase = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    int reason = 0;
    Display* display = XkbOpenDisplay(name.empty() ? nullptr : name.data(), &eventBase, &errorBase,
                                      &major, &minor, &reason);
    if (display == nullptr) {
        const std::string shown = name.empty() ? "the default display" : "display " + name;
        switch (reason) {
            case XkbOD_BadLibraryVersion:
                return std::unexpected("the XKB library is too old for " + shown);
            case XkbOD_NonXkbServer:
                return std::unexpected(shown + " has no XKB extension");
            case XkbOD_BadServerVersion:
                return std::unexpected("the XKB extension of " + shown + " is too old");
            default:
                return std::unexpected("cannot connect to " + shown);
        }
    }

    auto impl = std::make_unique<Impl>(runtime, display);
    impl->xkbEventType = eventBase;
    impl->rulesNamesAtom = XInternAtom(display, "_XKB_RULES_NAMES", False);
    // Layout lists change with a new keymap, with new group names, or when a configuration
    // tool publishes new rules names (which it may do after uploading the keymap).
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
    constexpr unsigned long kKeymapEvents = XkbNewKeyboardNotifyMask | XkbNamesNotifyMask;
    XkbSelectEvents(display, XkbUseCoreKbd, kKeymapEvents, kKeymapEvents);
    // Only locked-group changes: modifier presses would otherwise wake us for every key.
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbGroupLockMask,
                          XkbGroupLockMask);
    impl->lastSelectedID = impl->currentID();

    std::unique_ptr<XkbTextInputSources> sources(new XkbTextInputSources(std::move(impl)));
    XkbTextInputSources* self = sources.get();
    self->impl_->fdWatch =
        runtime.watchReadable(ConnectionNumber(display), [self] { self->dispatchEvents(); });
    XFlush(display);
    self->dispatchLaterIfQueued();
    return sources;
}

XkbTextInputSources::XkbTextInputSources(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

XkbTextInputSources::~XkbTextInputSources() = default;

std::vector<TextInputSource> XkbTextInputSources::sources() {
    auto out = impl_->sources();
    dispatchLaterIfQueued();
    return out;
}

std::optional<TextInputSource> XkbTextInputSources::currentKeyboardSource() {
    auto out = impl_->current();
    dispatchLaterIfQueued();
    return out;
}

std::optional<TextInputSource> XkbTextInputSources::sourceWithID(std::string_view id) {
    std::optional<TextInputSource> found;
    for (const auto& source : impl_->sources()) {
        if (source.id == id) {
            found = source;
            break;
        }
    }
    dispatchLaterIfQueued();
    return found;
}

SelectStatus XkbTextInputSources::select(const TextInputSource& source) {
    const std::string id = source.id.value_or("");
    SelectStatus status = SelectStatus::unknownSource;
    if (const auto group = impl_->groupOf(id)) {
        if (groupSelector_ && groupSelector_(*group)) {
            status = SelectStatus::ok;
        } else {
            status = XkbLockGroup(impl_->display, XkbUseCoreKbd, *group) ? SelectStatus::ok
                                                                         : SelectStatus::failed;
            // A round trip, so that once this returns every other client reads the new group.
            XSync(impl_->display, False);
        }
        impl_->cachedGroup.reset();
    }
    dispatchLaterIfQueued();
    return status;
}

void XkbTextInputSources::dispatchEvents() {
    impl_->dispatchPending = false;
    Display* display = impl_->display;
    bool enabledChanged = false;
    bool selectionChanged = false;
    // Everything that arrived is handled as one batch: a keymap upload brings several
    // notifications and the callers want to hear of it once.
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == impl_->xkbEventType) {
            const auto* xkb = reinterpret_cast<const XkbEvent*>(&event);
            if (xkb->any.xkb_type == XkbStateNotify &&
                (xkb->state.changed & XkbGroupLockMask) != 0) {
                selectionChanged = true;
                impl_->cachedGroup = static_cast<unsigned>(xkb->state.locked_group);
            }
        }
        enabledChanged |= impl_->changesLayouts(event);
    }
    if (enabledChanged) {
        impl_->cachedSources.reset();
        impl_->cachedGroup.reset();
    }
    if (enabledChanged || selectionChanged) {
        // A new layout list can put another source under the same locked group.
        auto current = impl_->currentID();
        selectionChanged |= current != impl_->lastSelectedID;
        impl_->lastSelectedID = std::move(current);
    }

    const std::weak_ptr<int> alive = impl_->lifeToken;
    if (enabledChanged) {
        notifyEnabledSourcesChanged();
    }
    if (selectionChanged && !alive.expired()) {
        notifySelectionChanged();
    }
    if (!alive.expired()) {
        dispatchLaterIfQueued();
    }
}

// Xlib reads events into its own queue while it waits for a reply, and then the socket no
// longer wakes us for them; such events are dispatched from the loop instead.
void XkbTextInputSources::dispatchLaterIfQueued() {
    if (impl_->dispatchPending || XEventsQueued(impl_->display, QueuedAlready) == 0) {
        return;
    }
    impl_->dispatchPending = true;
    impl_->laterDispatch = impl_->runtime.after(Seconds(0), [this] { dispatchEvents(); });
}

}  // namespace tesvano::platform
