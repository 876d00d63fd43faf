#include "Platform/Accessibility/FakeAccessibility.h"

#include <algorithm>

namespace tesvano::platform {

struct FakeAccessibility::Node final : AccessibleElementImpl {
    const FakeAccessibility* owner = nullptr;
    std::int32_t pid = 0;
    bool isDesktop = false;
    bool valid = true;
    std::weak_ptr<Node> parent;
    std::vector<std::shared_ptr<Node>> children;
    std::map<std::string, AttributeValue, std::less<>> attributes;
    std::map<std::string, AccessibilityError, std::less<>> failures;
    std::optional<double> timeout;
};

struct FakeAccessibility::Registry {
    struct Entry {
        std::uint64_t id;
        std::int32_t pid;
        AccessibilityObserverCallback callback;
        std::vector<std::pair<std::weak_ptr<Node>, std::string>> registrations;
    };
    std::vector<Entry> entries;
    std::uint64_t nextID = 1;

    Entry* find(std::uint64_t id) {
        auto it = std::ranges::find(entries, id, &Entry::id);
        return it == entries.end() ? nullptr : &*it;
    }
};

class FakeAccessibility::Observer final : public AccessibilityObserver {
public:
    Observer(FakeAccessibility& fake, std::uint64_t id)
        : fake_(&fake), registry_(fake.registry_), id_(id) {}
    ~Observer() override {
        if (auto registry = registry_.lock()) {
            std::erase_if(registry->entries, [this](const auto& e) { return e.id == id_; });
        }
    }

    std::expected<void, AccessibilityError> listen(const AccessibleElement& element,
                                                   std::string_view event) override {
        auto registry = registry_.lock();
        if (!registry) {
            return std::unexpected(AccessibilityError::invalidElement);
        }
        if (!fake_->trusted_) {
            return std::unexpected(AccessibilityError::notTrusted);
        }
        auto target = fake_->node(element);
        if (!target || !target->valid) {
            return std::unexpected(AccessibilityError::invalidElement);
        }
        if (fake_->unsupportedEvents.contains(event)) {
            return std::unexpected(AccessibilityError::eventUnsupported);
        }
        auto* entry = registry->find(id_);
        entry->registrations.emplace_back(target, std::string(event));
        return {};
    }

private:
    FakeAccessibility* fake_;
    std::weak_ptr<Registry> registry_;
    std::uint64_t id_;
};

FakeAccessibility::FakeAccessibility()
    : desktop_(makeNode(0, nullptr)), registry_(std::make_shared<Registry>()) {
    desktop_->isDesktop = true;
}

FakeAccessibility::~FakeAccessibility() = default;

std::shared_ptr<FakeAccessibility::Node> FakeAccessibility::makeNode(std::int32_t pid,
                                                                     std::shared_ptr<Node> parent) {
    auto n = std::make_shared<Node>();
    n->owner = this;
    n->pid = pid;
    if (parent) {
        n->parent = parent;
        parent->children.push_back(n);
    }
    return n;
}

std::shared_ptr<FakeAccessibility::Node> FakeAccessibility::node(
    const AccessibleElement& element) const {
    auto n = std::dynamic_pointer_cast<Node>(element.impl());
    if (!n || n->owner != this) {
        return nullptr;
    }
    return n;
}

AccessibleElement FakeAccessibility::addApplication(std::int32_t pid) {
    auto& app = applications_[pid];
    if (!app) {
        app = makeNode(pid, nullptr);
        app->attributes.emplace(std::string(a11y::role), std::string("application"));
    }
    return AccessibleElement(app);
}

AccessibleElement FakeAccessibility::addElement(const AccessibleElement& parent,
                                                std::string_view role) {
    auto p = node(parent);
    if (!p || p->isDesktop) {
        return AccessibleElement();
    }
    auto n = makeNode(p->pid, p);
    if (!role.empty()) {
        n->attributes.emplace(std::string(a11y::role), std::string(role));
    }
    return AccessibleElement(n);
}

void FakeAccessibility::setAttribute(const AccessibleElement& element, std::string_view name,
                                     AttributeValue value) {
    if (auto n = node(element)) {
        n->attributes.insert_or_assign(std::string(name), std::move(value));
    }
}

void FakeAccessibility::removeAttribute(const AccessibleElement& element, std::string_view name) {
    if (auto n = node(element)) {
        if (auto it = n->attributes.find(name); it != n->attributes.end()) {
            n->attributes.erase(it);
        }
    }
}

void FakeAccessibility::failAttribute(const AccessibleElement& element, std::string_view name,
                                      AccessibilityError error) {
    if (auto n = node(element)) {
        n->failures.insert_or_assign(std::string(name), error);
    }
}

void FakeAccessibility::removeApplication(std::int32_t pid) {
    auto it = applications_.find(pid);
    if (it == applications_.end()) {
        return;
    }
    std::vector<std::shared_ptr<Node>> pending{it->second};
    while (!pending.empty()) {
        auto n = pending.back();
        pending.pop_back();
        n->valid = false;
        pending.insert(pending.end(), n->children.begin(), n->children.end());
    }
    applications_.erase(it);
}

void FakeAccessibility::setFocusedElement(std::optional<AccessibleElement> element) {
    focused_ = std::move(element);
}

void FakeAccessibility::post(std::int32_t pid, std::string_view event,
                             const AccessibleElement& element) {
    auto target = node(element);
    auto app = applications_.contains(pid) ? applications_.at(pid) : nullptr;
    std::vector<std::uint64_t> due;
    for (const auto& entry : registry_->entries) {
        if (entry.pid != pid) {
            continue;
        }
        for (const auto& [weakNode, name] : entry.registrations) {
            auto registered = weakNode.lock();
            if (name == event && registered && registered->valid &&
                (registered == target || registered == app)) {
                due.push_back(entry.id);
                break;
            }
        }
    }
    // A callback may destroy other observers; each is looked up again before its call.
    for (auto id : due) {
        if (auto* entry = registry_->find(id)) {
            auto callback = entry->callback;
            callback(element, std::string(event));
        }
    }
}

int FakeAccessibility::observerCount() const {
    return static_cast<int>(registry_->entries.size());
}

int FakeAccessibility::observerCount(std::int32_t pid) const {
    return static_cast<int>(std::ranges::count(registry_->entries, pid, &Registry::Entry::pid));
}

std::vector<std::string> FakeAccessibility::registeredEvents(std::int32_t pid) const {
    std::vector<std::string> names;
    for (const auto& entry : registry_->entries) {
        if (entry.pid != pid) {
            continue;
        }
        for (const auto& registration : entry.registrations) {
            names.push_back(registration.second);
        }
    }
    return names;
}

std::optional<double> FakeAccessibility::callTimeout(const AccessibleElement& element) const {
    auto n = node(element);
    return n ? n->timeout : std::nullopt;
}

int FakeAccessibility::readCount(std::string_view attribute) const {
    auto it = reads_.find(attribute);
    return it == reads_.end() ? 0 : it->second;
}

AccessibleElement FakeAccessibility::desktopElement() {
    return AccessibleElement(desktop_);
}

AccessibleElement FakeAccessibility::applicationElement(std::int32_t pid) {
    if (auto it = applications_.find(pid); it != applications_.end()) {
        return AccessibleElement(it->second);
    }
    // Like the real call, this always gives an element; it names nothing that answers.
    auto orphan = makeNode(pid, nullptr);
    orphan->valid = false;
    return AccessibleElement(orphan);
}

std::expected<AttributeValue, AccessibilityError> FakeAccessibility::readAttribute(
    const AccessibleElement& element, std::string_view attribute) {
    if (auto it = reads_.find(attribute); it != reads_.end()) {
        ++it->second;
    } else {
        reads_.emplace(std::string(attribute), 1);
    }
    if (!trusted_) {
        return std::unexpected(AccessibilityError::notTrusted);
    }
    auto n = node(element);
    if (!n || !n->valid) {
        return std::unexpected(AccessibilityError::invalidElement);
    }
    if (auto failure = n->failures.find(attribute); failure != n->failures.end()) {
        return std::unexpected(failure->second);
    }
    if (n->isDesktop) {
        if (attribute == a11y::focusedElement && focused_) {
            return AttributeValue(*focused_);
        }
        return std::unexpected(AccessibilityError::noValue);
    }
    if (auto it = n->attributes.find(attribute); it != n->attributes.end()) {
        return it->second;
    }
    if (attribute == a11y::parent) {
        if (auto p = n->parent.lock()) {
            return AttributeValue(AccessibleElement(p));
        }
        return std::unexpected(AccessibilityError::noValue);
    }
    if (attribute == a11y::children) {
        std::vector<AccessibleElement> kids;
        kids.reserve(n->children.size());
        for (const auto& child : n->children) {
            kids.emplace_back(child);
        }
        return AttributeValue(std::move(kids));
    }
    return std::unexpected(AccessibilityError::noValue);
}

std::expected<std::int32_t, AccessibilityError> FakeAccessibility::processIdentifier(
    const AccessibleElement& element) {
    auto n = node(element);
    if (!n || n->isDesktop) {
        return std::unexpected(AccessibilityError::invalidArgument);
    }
    if (!n->valid) {
        return std::unexpected(AccessibilityError::invalidElement);
    }
    return n->pid;
}

std::expected<void, AccessibilityError> FakeAccessibility::setCallTimeout(
    const AccessibleElement& element, double seconds) {
    auto n = node(element);
    if (!n || seconds < 0) {
        return std::unexpected(AccessibilityError::invalidArgument);
    }
    n->timeout = seconds;
    return {};
}

std::expected<std::unique_ptr<AccessibilityObserver>, AccessibilityError>
FakeAccessibility::createObserver(std::int32_t pid, AccessibilityObserverCallback callback) {
    if (failObserverCreation || pid <= 0 || !callback) {
        return std::unexpected(AccessibilityError::failure);
    }
    const auto id = registry_->nextID++;
    registry_->entries.push_back({id, pid, std::move(callback), {}});
    return std::make_unique<Observer>(*this, id);
}

void FakeAccessibility::setTrusted(bool trusted) {
    if (trusted == trusted_) {
        return;
    }
    trusted_ = trusted;
    auto copy = trustObservers_;
    for (const auto& [state, changed] : copy) {
        if (!state->cancelled) {
            changed();
        }
    }
}

Registration FakeAccessibility::observeTrust(std::function<void()> changed) {
    std::erase_if(trustObservers_, [](const auto& o) { return o.first->cancelled; });
    auto state = std::make_shared<Registration::State>();
    trustObservers_.emplace_back(state, std::move(changed));
    return Registration(state);
}

}  // namespace tesvano::platform
