#include "Platform/Accessibility/AtspiAccessibility.h"

#include <atspi/atspi.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <set>

#include "Platform/Accessibility/AtspiVocabulary.h"
#include "Platform/Accessibility/PasswordFocusProbe.h"
#include "Platform/Log/Log.h"
#include "Platform/Runtime/Retry.h"

namespace tesvano::platform {

namespace {

using Clock = std::chrono::steady_clock;

const Logger& log() {
    static const Logger logger("Accessibility");
    return logger;
}

// How often the trust (one D-Bus round trip to the session bus) is read at most.
constexpr double kTrustCacheSeconds = 0.5;

// The registry is asked for its applications without waiting for the answer; one that takes
// longer than this (it is being started with everything else at login) is asked again after
// the next delay, about a minute in all.
constexpr int kRegistryAnswerMs = 5000;
// The one blocking read of the application list, made once the registry has answered.
constexpr int kDesktopReadMs = 1000;
const std::vector<Seconds> kRegistryRetryDelays = {Seconds(0.5), Seconds(1), Seconds(2),
                                                   Seconds(4),   Seconds(8), Seconds(15)};

// Asks the registry for the list of applications, the call libatspi makes once and keeps the
// answer of for the whole process, failure included; `done` gets whether it answered.
void askRegistry(const std::function<void(bool)>& done) {
    DBusConnection* bus = atspi_get_a11y_bus();
    DBusMessage* message = bus ? dbus_message_new_method_call(
                                     "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                                     "org.a11y.atspi.Accessible", "GetChildren")
                               : nullptr;
    DBusPendingCall* pending = nullptr;
    const bool sent =
        message && dbus_connection_send_with_reply(bus, message, &pending, kRegistryAnswerMs);
    if (message) {
        dbus_message_unref(message);
    }
    if (!sent || !pending) {
        done(false);
        return;
    }
    using Callback = std::function<void(bool)>;
    dbus_pending_call_set_notify(
        pending,
        [](DBusPendingCall* call, void* data) {
            DBusMessage* reply = dbus_pending_call_steal_reply(call);
            const bool answered =
                reply && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
            if (reply) {
                dbus_message_unref(reply);
            }
            (*static_cast<Callback*>(data))(answered);
        },
        new Callback(done), [](void* data) { delete static_cast<Callback*>(data); });
    dbus_pending_call_unref(pending);
}

struct AtspiElement final : AccessibleElementImpl {
    enum class Kind { desktop, application, object };
    Kind kind = Kind::object;
    std::int32_t pid = 0;
    AtspiAccessible* object = nullptr;  // one reference, owned

    ~AtspiElement() override {
        if (object) {
            g_object_unref(object);
        }
    }
};

// Takes over one reference to `object`.
AccessibleElement wrap(AtspiAccessible* object) {
    if (!object) {
        return {};
    }
    auto impl = std::make_shared<AtspiElement>();
    impl->object = object;
    return AccessibleElement(std::move(impl));
}

AtspiElement* unwrap(const AccessibleElement& element) {
    return dynamic_cast<AtspiElement*>(element.impl().get());
}

std::string busName(AtspiAccessible* object) {
    const auto* app = object ? object->parent.app : nullptr;
    return app && app->bus_name ? app->bus_name : "";
}

std::map<std::string, std::string> toMap(GHashTable* table) {
    std::map<std::string, std::string> out;
    if (!table) {
        return out;
    }
    GHashTableIter it;
    gpointer key = nullptr;
    gpointer value = nullptr;
    g_hash_table_iter_init(&it, table);
    while (g_hash_table_iter_next(&it, &key, &value)) {
        out.emplace(static_cast<const char*>(key), value ? static_cast<const char*>(value) : "");
    }
    g_hash_table_unref(table);
    return out;
}

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    AtspiStateSet* set = atspi_accessible_get_state_set(object);
    if (!set) {
        return false;
    }
    const bool found = atspi_state_set_contains(set, state);
    g_object_unref(set);
    return found;
}

// Whether a reply to GetRole names a password field; none for no answer or an error. Takes
// the reply.
std::optional<bool> isPasswordRole(DBusMessage* reply) {
    dbus_uint32_t role = ATSPI_ROLE_INVALID;
    const bool answered =
        reply && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
        dbus_message_get_args(reply, nullptr, DBUS_TYPE_UINT32, &role, DBUS_TYPE_INVALID);
    if (reply) {
        dbus_message_unref(reply);
    }
    return answered ? std::optional<bool>(role == ATSPI_ROLE_PASSWORD_TEXT) : std::nullopt;
}

}  // namespace

struct AtspiAccessibility::State {
    State(Runtime& r, AssistiveTechnologyStatus& s)
        : runtime(r), status(s), passwords([&r] { return r.uptime().count(); }) {}
    ~State() {
        if (listener) {
            for (const auto& type : registeredTypes) {
                atspi_event_listener_deregister(listener, type.c_str(), nullptr);
            }
            g_object_unref(listener);
        }
        if (focused) {
            g_object_unref(focused);
        }
    }

    Runtime& runtime;
    AssistiveTechnologyStatus& status;
    std::optional<bool> trusted;
    // Whether the registry has answered: until it does, nothing asks libatspi for the
    // desktop's applications, since it would keep an empty list for good.
    bool registryAnswered = false;
    std::unique_ptr<Retry> registryProbe;
    double trustReadAt = -1e9;
    int timeoutMs = static_cast<int>(defaultCallTimeout * 1000);

    AtspiEventListener* listener = nullptr;
    std::set<std::string> registeredTypes;
    atspi::EventRouter router;
    AtspiAccessible* focused = nullptr;  // one reference, owned
    // Whether `focused` is a password field, as its application answers.
    PasswordFocusProbe passwords;

    std::map<std::string, std::int32_t> pidByBus;
    std::map<std::string, double> hungUntil;
    std::weak_ptr<State> self;

    double now() const { return runtime.uptime().count(); }

    bool listen(const std::string& type) {
        if (registeredTypes.contains(type)) {
            return true;
        }
        GError* error = nullptr;
        if (!atspi_event_listener_register(listener, type.c_str(), &error)) {
            g_clear_error(&error);
            return false;
        }
        registeredTypes.insert(type);
        return true;
    }

    // Waits for the registry on the runtime's timers. Once it answers, the events are
    // registered again: applications only send the events the registry knows someone wants,
    // and a registry that was not up yet missed the first registrations.
    void awaitRegistry() {
        registryProbe = std::make_unique<Retry>(
            runtime, kRegistryRetryDelays,
            [weak = self](Retry::Done done) {
                askRegistry([weak, done = std::move(done)](bool answered) {
                    // Out of libdbus's dispatch first.
                    if (auto state = weak.lock()) {
                        state->runtime.post(Seconds(0), [done, answered] { done(answered); });
                    }
                });
            },
            [weak = self] {
                if (auto state = weak.lock()) {
                    state->onRegistryAnswered();
                }
            },
            [weak = self] {
                if (auto state = weak.lock()) {
                    log().warning(
                        "The accessibility registry does not answer; applications started "
                        "before it may stay unseen");
                    state->registryAnswered = true;
                }
            });
        registryProbe->start();
    }

    void onRegistryAnswered() {
        registryAnswered = true;
        // libatspi reads the application list now, the one time it does: the registry has
        // just answered, so it is given longer than an application's call to answer again.
        if (callable()) {
            atspi_set_timeout(kDesktopReadMs, kDesktopReadMs);
            if (AtspiAccessible* desktop = atspi_get_desktop(0)) {
                g_object_unref(desktop);
            }
            atspi_set_timeout(timeoutMs, timeoutMs);
        }
        const auto types = std::move(registeredTypes);
        registeredTypes.clear();
        for (const auto& type : types) {
            atspi_event_listener_deregister(listener, type.c_str(), nullptr);
            if (!listen(type)) {
                log().warning("cannot follow %{public}s over AT-SPI", type);
            }
        }
    }

    // Whether calls to this object's application should be skipped for now.
    bool isHung(AtspiAccessible* object) {
        if (!callable()) {
            return true;
        }
        auto it = hungUntil.find(busName(object));
        if (it == hungUntil.end()) {
            return false;
        }
        if (now() >= it->second) {
            hungUntil.erase(it);
            return false;
        }
        return true;
    }

    // Whether calls may be made now: only from within a dispatch of GLib's main context.
    bool callable() {
        if (g_main_depth() > 0) {
            return true;
        }
        if (!warnedOutsideLoop) {
            warnedOutsideLoop = true;
            log().error("accessibility read outside the GLib main loop refused");
        }
        return false;
    }
    bool warnedOutsideLoop = false;

    // Runs one call to an application; a failure that took about the whole timeout marks the
    // application as hung.
    template <typename Call>
    auto guarded(AtspiAccessible* object, Call&& call) -> decltype(call(nullptr)) {
        GError* error = nullptr;
        const auto started = Clock::now();
        auto result = call(&error);
        g_clear_error(&error);
        // libatspi does not always report a timeout as an error: judge by the time it took.
        noteDuration(object, started);
        return result;
    }

    void noteDuration(AtspiAccessible* object, Clock::time_point started) {
        const auto waited = std::chrono::duration<double, std::milli>(Clock::now() - started);
        if (waited.count() >= timeoutMs * 0.8) {
            hungUntil[busName(object)] = now() + hungBackoff;
        }
    }

    std::optional<std::int32_t> pidOf(AtspiAccessible* object) {
        const auto bus = busName(object);
        if (bus.empty()) {
            return std::nullopt;
        }
        if (auto it = pidByBus.find(bus); it != pidByBus.end()) {
            return it->second;
        }
        // Asks the bus daemon, not the application: it always answers.
        GError* error = nullptr;
        const guint pid = atspi_accessible_get_process_id(object, &error);
        if (error) {
            g_clear_error(&error);
            return std::nullopt;
        }
        pidByBus[bus] = static_cast<std::int32_t>(pid);
        return static_cast<std::int32_t>(pid);
    }

    AtspiAccessible* applicationOf(std::int32_t pid) {
        if (!registryAnswered || !callable()) {
            return nullptr;
        }
        AtspiAccessible* desktop = atspi_get_desktop(0);
        if (!desktop) {
            return nullptr;
        }
        AtspiAccessible* found = nullptr;
        const gint count = atspi_accessible_get_child_count(desktop, nullptr);
        for (gint i = 0; i < count && !found; ++i) {
            // Meeting an application for the first time asks it for its tree's cache.
            const auto started = Clock::now();
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
            if (!app) {
                continue;
            }
            noteDuration(app, started);
            if (pidOf(app) == pid) {
                found = app;
            } else {
                g_object_unref(app);
            }
        }
        g_object_unref(desktop);
        return found;
    }

    // The page `window` shows: the target of its "embeds" relation (both browser families
    // point their top window at the document of the tab in front), else the first
    // "document web" on screen, asked of the application through the Collection interface;
    // none when it has none or cannot tell.
    AtspiAccessible* shownDocument(AtspiAccessible* window) {
        if (AtspiAccessible* embedded = embeddedDocument(window)) {
            return embedded;
        }
        if (isHung(window)) {
            return nullptr;
        }
        AtspiCollection* collection = atspi_accessible_get_collection_iface(window);
        if (!collection) {
            return nullptr;
        }
        GArray* states = g_array_new(FALSE, FALSE, sizeof(AtspiStateType));
        const AtspiStateType showing = ATSPI_STATE_SHOWING;
        g_array_append_val(states, showing);
        AtspiStateSet* stateSet = atspi_state_set_new(states);
        GArray* roles = g_array_new(FALSE, FALSE, sizeof(AtspiRole));
        const AtspiRole document = ATSPI_ROLE_DOCUMENT_WEB;
        g_array_append_val(roles, document);
        AtspiMatchRule* rule = atspi_match_rule_new(
            stateSet, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, roles,
            ATSPI_Collection_MATCH_ANY, nullptr, ATSPI_Collection_MATCH_NONE, FALSE);
        GArray* matches = guarded(window, [&](GError** error) {
            return atspi_collection_get_matches(
                collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, error);
        });
        AtspiAccessible* found = nullptr;
        if (matches) {
            if (matches->len > 0) {
                found = static_cast<AtspiAccessible*>(
                    g_object_ref(g_array_index(matches, AtspiAccessible*, 0)));
            }
            for (guint i = 0; i < matches->len; ++i) {
                g_object_unref(g_array_index(matches, AtspiAccessible*, i));
            }
            g_array_free(matches, TRUE);
        }
        g_object_unref(rule);
        g_object_unref(stateSet);
        g_array_free(states, TRUE);
        g_array_free(roles, TRUE);
        g_object_unref(collection);
        return found;
    }

    AtspiAccessible* embeddedDocument(AtspiAccessible* window) {
        GArray* relations = guarded(window, [&](GError** error) {
            return atspi_accessible_get_relation_set(window, error);
        });
        if (!relations) {
            return nullptr;
        }
        AtspiAccessible* found = nullptr;
        for (guint i = 0; i < relations->len; ++i) {
            AtspiRelation* relation = g_array_index(relations, AtspiRelation*, i);
            if (!found && atspi_relation_get_relation_type(relation) == ATSPI_RELATION_EMBEDS &&
                atspi_relation_get_n_targets(relation) > 0) {
                found = atspi_relation_get_target(relation, 0);
            }
            g_object_unref(relation);
        }
        g_array_free(relations, TRUE);
        return found;
    }

    // Asks the focused element's application for its role without waiting: an application on
    // the bus that never answers (KRunner without an accessible tree) would otherwise hold up
    // every switch for a timeout. A switch that comes while the answer is on its way waits
    // for it within the probe's budget: the same question again, answered in order after the
    // first, blocking for its own reply alone (libdbus dispatches nothing else meanwhile).
    void askFocusedRole() {
        DBusConnection* bus = atspi_get_a11y_bus();
        const auto name = busName(focused);
        const char* path = focused->parent.path;
        if (!bus || name.empty() || !path || isHung(focused)) {
            passwords.cleared();
            return;
        }
        const auto newQuestion = [name, path = std::string(path)] {
            return dbus_message_new_method_call(name.c_str(), path.c_str(),
                                                "org.a11y.atspi.Accessible", "GetRole");
        };
        DBusMessage* message = newQuestion();
        DBusPendingCall* pending = nullptr;
        const bool sent =
            message && dbus_connection_send_with_reply(bus, message, &pending, timeoutMs);
        if (message) {
            dbus_message_unref(message);
        }
        if (!sent || !pending) {
            passwords.cleared();
            return;
        }
        const auto question = passwords.asked([bus, newQuestion](double seconds) {
            DBusMessage* again = newQuestion();
            if (!again) {
                return std::optional<bool>();
            }
            const int ms = std::max(1, static_cast<int>(std::ceil(seconds * 1000)));
            DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, again, ms, nullptr);
            dbus_message_unref(again);
            return isPasswordRole(reply);
        });
        struct Asked {
            std::weak_ptr<State> state;
            AtspiAccessible* element;  // one reference, owned
            Clock::time_point started;
            std::uint64_t question;
        };
        dbus_pending_call_set_notify(
            pending,
            [](DBusPendingCall* call, void* data) {
                const auto* asked = static_cast<Asked*>(data);
                DBusMessage* reply = dbus_pending_call_steal_reply(call);
                const auto role = isPasswordRole(reply);
                auto state = asked->state.lock();
                if (!state) {
                    return;
                }
                if (!role) {
                    state->noteDuration(asked->element, asked->started);
                } else {
                    state->passwords.answered(asked->question, *role);
                }
            },
            new Asked{self, static_cast<AtspiAccessible*>(g_object_ref(focused)), Clock::now(),
                      question},
            [](void* data) {
                auto* asked = static_cast<Asked*>(data);
                g_object_unref(asked->element);
                delete asked;
            });
        dbus_pending_call_unref(pending);
    }

    void onEvent(const AtspiEvent& event) {
        if (!event.source || !event.type) {
            return;
        }
        const std::string_view type = event.type;
        if (type == atspi::focusEvent) {
            if (event.detail1 != 0) {
                if (focused) {
                    g_object_unref(focused);
                }
                focused = static_cast<AtspiAccessible*>(g_object_ref(event.source));
                askFocusedRole();
            } else if (focused == event.source) {
                g_object_unref(focused);
                focused = nullptr;
                passwords.cleared();
            }
        }
        // Observers act on the next turn of the loop, outside libatspi's dispatch.
        auto* source = static_cast<AtspiAccessible*>(g_object_ref(event.source));
        runtime.post(Seconds(0),
                     [weak = self, source, type = std::string(type), detail = event.detail1] {
                         auto element = wrap(source);
                         if (auto state = weak.lock()) {
                             if (auto pid = state->pidOf(source)) {
                                 state->router.dispatch(*pid, type, detail, element);
                             }
                         }
                     });
    }
};

namespace {

void deliver(AtspiEvent* event, void* data) {
    static_cast<AtspiAccessibility::State*>(data)->onEvent(*event);
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

class AtspiObserver final : public AccessibilityObserver {
public:
    AtspiObserver(std::weak_ptr<AtspiAccessibility::State> state,
                  std::shared_ptr<atspi::EventRouter::Entry> entry)
        : state_(std::move(state)), entry_(std::move(entry)) {}

    std::expected<void, AccessibilityError> listen(const AccessibleElement&,
                                                   std::string_view event) override {
        auto state = state_.lock();
        const auto type = atspi::atspiEventFor(event);
        if (!state || !type) {
            return std::unexpected(AccessibilityError::eventUnsupported);
        }
        if (!state->listen(std::string(*type))) {
            return std::unexpected(AccessibilityError::failure);
        }
        entry_->events.emplace(event);
        return {};
    }

private:
    std::weak_ptr<AtspiAccessibility::State> state_;
    std::shared_ptr<atspi::EventRouter::Entry> entry_;
};

}  // namespace

std::expected<std::unique_ptr<AtspiAccessibility>, std::string> AtspiAccessibility::open(
    Runtime& runtime, AssistiveTechnologyStatus& status) {
    const int initialised = atspi_init();
    if (initialised != 0 && initialised != 1) {
        return std::unexpected("cannot connect to the accessibility bus (AT-SPI)");
    }
    auto state = std::make_shared<State>(runtime, status);
    state->self = state;
    atspi_set_timeout(state->timeoutMs, state->timeoutMs);
    state->listener = atspi_event_listener_new(deliver, state.get(), nullptr);
    // The focus is followed from the start: it is the only way to know the focused element.
    if (!state->listen(std::string(atspi::focusEvent))) {
        return std::unexpected("cannot follow the keyboard focus over AT-SPI");
    }
    state->awaitRegistry();
    return std::unique_ptr<AtspiAccessibility>(new AtspiAccessibility(std::move(state)));
}

AtspiAccessibility::AtspiAccessibility(std::shared_ptr<State> state) : state_(std::move(state)) {}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isProcessTrusted() {
    auto& s = *state_;
    if (!s.trusted || s.now() - s.trustReadAt >= kTrustCacheSeconds) {
        s.trusted = s.status.isEnabled().value_or(false);
        s.trustReadAt = s.now();
    }
    return *s.trusted;
}

Registration AtspiAccessibility::observeTrust(std::function<void()> changed) {
    auto observed = state_->status.observe(
        state_->runtime,
        [weak = std::weak_ptr<State>(state_), changed = std::move(changed)](bool enabled) {
            if (auto s = weak.lock()) {
                s->trusted = enabled;
                s->trustReadAt = s->now();
                changed();
            }
        });
    if (!observed) {
        return {};
    }
    return std::move(*observed);
}

AccessibleElement AtspiAccessibility::desktopElement() {
    auto impl = std::make_shared<AtspiElement>();
    impl->kind = AtspiElement::Kind::desktop;
    return AccessibleElement(std::move(impl));
}

AccessibleElement AtspiAccessibility::applicationElement(std::int32_t pid) {
    auto impl = std::make_shared<AtspiElement>();
    impl->kind = AtspiElement::Kind::application;
    impl->pid = pid;
    return AccessibleElement(std::move(impl));
}

std::expected<AttributeValue, AccessibilityError> AtspiAccessibility::readAttribute(
    const AccessibleElement& element, std::string_view attribute) {
    auto& s = *state_;
    auto* e = unwrap(element);
    if (!e) {
        return std::unexpected(AccessibilityError::invalidArgument);
    }
    if (e->kind == AtspiElement::Kind::desktop) {
        if (attribute != a11y::focusedElement) {
            return std::unexpected(AccessibilityError::attributeUnsupported);
        }
        if (!s.focused) {
            return std::unexpected(AccessibilityError::noValue);
        }
        return wrap(static_cast<AtspiAccessible*>(g_object_ref(s.focused)));
    }
    if (e->kind == AtspiElement::Kind::application) {
        if (attribute != a11y::activeWindow) {
            return std::unexpected(AccessibilityError::attributeUnsupported);
        }
        AtspiAccessible* app = s.applicationOf(e->pid);
        if (!app) {
            return std::unexpected(AccessibilityError::invalidElement);
        }
        if (s.isHung(app)) {
            g_object_unref(app);
            return std::unexpected(AccessibilityError::cannotComplete);
        }
        // The active top-level window, else the first one on screen.
        AtspiAccessible* active = nullptr;
        AtspiAccessible* showing = nullptr;
        const gint count = s.guarded(
            app, [&](GError** error) { return atspi_accessible_get_child_count(app, error); });
        for (gint i = 0; i < count && !active && !s.isHung(app); ++i) {
            AtspiAccessible* window = s.guarded(app, [&](GError** error) {
                return atspi_accessible_get_child_at_index(app, i, error);
            });
            if (!window) {
                continue;
            }
            if (hasState(window, ATSPI_STATE_ACTIVE)) {
                active = window;
            } else if (!showing && hasState(window, ATSPI_STATE_SHOWING)) {
                showing = window;
            } else {
                g_object_unref(window);
            }
        }
        g_object_unref(app);
        if (active && showing) {
            g_object_unref(showing);
        }
        if (AtspiAccessible* window = active ? active : showing) {
            return wrap(window);
        }
        return std::unexpected(AccessibilityError::noValue);
    }

    AtspiAccessible* object = e->object;
    if (s.isHung(object)) {
        return std::unexpected(AccessibilityError::cannotComplete);
    }
    if (attribute == a11y::role) {
        gchar* name = s.guarded(
            object, [&](GError** error) { return atspi_accessible_get_role_name(object, error); });
        if (!name) {
            return std::unexpected(AccessibilityError::cannotComplete);
        }
        std::string role(name);
        g_free(name);
        return role;
    }
    if (attribute == a11y::parent) {
        AtspiAccessible* parent = s.guarded(
            object, [&](GError** error) { return atspi_accessible_get_parent(object, error); });
        if (!parent) {
            return std::unexpected(AccessibilityError::noValue);
        }
        return wrap(parent);
    }
    if (attribute == a11y::children) {
        std::vector<AccessibleElement> children;
        const gint count = s.guarded(object, [&](GError** error) {
            return atspi_accessible_get_child_count(object, error);
        });
        for (gint i = 0; i < count && !s.isHung(object); ++i) {
            AtspiAccessible* child = s.guarded(object, [&](GError** error) {
                return atspi_accessible_get_child_at_index(object, i, error);
            });
            if (child) {
                children.push_back(wrap(child));
            }
        }
        return children;
    }
    if (attribute == a11y::accessibleId) {
        gchar* id = s.guarded(object, [&](GError** error) {
            return atspi_accessible_get_accessible_id(object, error);
        });
        std::string value = id ? id : "";
        g_free(id);
        if (value.empty()) {
            return std::unexpected(AccessibilityError::noValue);
        }
        return value;
    }
    if (attribute == a11y::objectId || attribute == a11y::classList) {
        const auto attributes = toMap(s.guarded(object, [&](GError** error) {
            return atspi_accessible_get_attributes(object, error);
        }));
        const auto key = attribute == a11y::objectId ? atspi::idAttribute : atspi::classAttribute;
        auto it = attributes.find(std::string(key));
        if (it == attributes.end()) {
            return std::unexpected(AccessibilityError::noValue);
        }
        if (attribute == a11y::classList) {
            return atspi::classList(it->second);
        }
        return it->second;
    }
    if (attribute == a11y::documentURL) {
        // Only the page on screen: a tab in the background keeps its document in the tree.
        const AtspiRole role = s.guarded(
            object, [&](GError** error) { return atspi_accessible_get_role(object, error); });
        if (role == ATSPI_ROLE_FRAME) {
            // A window answers with the page it shows, found by the application itself in one
            // call; where that fails the caller walks the window's elements.
            if (AtspiAccessible* page = s.shownDocument(object)) {
                auto url = readAttribute(wrap(page), attribute);
                if (url) {
                    return url;
                }
            }
            return std::unexpected(AccessibilityError::attributeUnsupported);
        }
        if (role != ATSPI_ROLE_DOCUMENT_WEB || !hasState(object, ATSPI_STATE_SHOWING)) {
            return std::unexpected(AccessibilityError::attributeUnsupported);
        }
        AtspiDocument* document = atspi_accessible_get_document_iface(object);
        if (!document) {
            return std::unexpected(AccessibilityError::attributeUnsupported);
        }
        const auto attributes = toMap(s.guarded(object, [&](GError** error) {
            return atspi_document_get_document_attributes(document, error);
        }));
        g_object_unref(document);
        if (auto url = atspi::documentURL(attributes)) {
            return URLValue{*url};
        }
        return std::unexpected(AccessibilityError::noValue);
    }
    return std::unexpected(AccessibilityError::attributeUnsupported);
}

std::expected<std::int32_t, AccessibilityError> AtspiAccessibility::processIdentifier(
    const AccessibleElement& element) {
    auto* e = unwrap(element);
    if (!e || e->kind == AtspiElement::Kind::desktop) {
        return std::unexpected(AccessibilityError::invalidArgument);
    }
    if (e->kind == AtspiElement::Kind::application) {
        return e->pid;
    }
    if (auto pid = state_->pidOf(e->object)) {
        return *pid;
    }
    return std::unexpected(AccessibilityError::invalidElement);
}

std::expected<void, AccessibilityError> AtspiAccessibility::setCallTimeout(const AccessibleElement&,
                                                                           double seconds) {
    // libatspi has one timeout for every call.
    if (seconds <= 0) {
        return std::unexpected(AccessibilityError::invalidArgument);
    }
    state_->timeoutMs = static_cast<int>(seconds * 1000);
    atspi_set_timeout(state_->timeoutMs, state_->timeoutMs);
    return {};
}

std::expected<std::unique_ptr<AccessibilityObserver>, AccessibilityError>
AtspiAccessibility::createObserver(std::int32_t pid, AccessibilityObserverCallback callback) {
    auto entry = state_->router.add(pid, std::move(callback));
    return std::make_unique<AtspiObserver>(state_, std::move(entry));
}

bool AtspiAccessibility::focusedElementIsPasswordField() {
    return state_->focused && state_->passwords.isPasswordField();
}

}  // namespace tesvano::platform
