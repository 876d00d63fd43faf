#include "Platform/Accessibility/FakeAccessibility.h"

#include <algorithm>

namespace tesvano::platform {

struct FakeAccessibility::Node final : AXElementImpl {
    const FakeAccessibility* owner = nullptr;
    std::int32_t pid = 0;
    bool isSystemWide = false;
    bool valid = true;
    std::weak_ptr<Node> parent;
    std::vector<std::shared_ptr<Node>> children;
    std::map<std::string, AXValue, std::less<>> attributes;
    std::map<std::string, AXError, std::less<>> failures;
    std::optional<double> timeout;
    std::vector<std::pair<std::string, AXValue>> writes;
};

struct FakeAccessibility::Registry {
    struct Entry {
        std::uint64_t id;
        std::int32_t pid;
        AXObserverCallback callback;
        std::vector<std::pair<std::weak_ptr<Node>, std::string>> registrations;
    };
    std::vector<Entry> entries;
    std::uint64_t nextID = 1;

    Entry* find(std::uint64_t id) {
        auto it = std::ranges::find(entries, id, &Entry::id);
        return it == entries.end() ? nullptr : &*it;
    }
};

class FakeAccessibility::Observer final : public AXObserver {
public:
    Observer(FakeAccessibility& fake, std::uint64_t id)
        : fake_(&fake), registry_(fake.registry_), id_(id) {}
    ~Observer() override {
        if (auto registry = registry_.lock()) {
            std::erase_if(registry->entries, [this](const auto& e) { return e.id == id_; });
        }
    }

    std::expected<void, AXError> addNotification(const AXElement& element,
                                                 std::string_view notification) override {
        auto registry = registry_.lock();
        if (!registry) {
            return std::unexpected(AXError::invalidUIElement);
        }
        if (!fake_->trusted_) {
            return std::unexpected(AXError::apiDisabled);
        }
        auto target = fake_->node(element);
        if (!target || !target->valid) {
            return std::unexpected(AXError::invalidUIElement);
        }
        if (fake_->unsupportedNotifications.contains(notification)) {
            return std::unexpected(AXError::notificationUnsupported);
        }
        auto* entry = registry->find(id_);
        entry->registrations.emplace_back(target, std::string(notification));
        return {};
    }

private:
    FakeAccessibility* fake_;
    std::weak_ptr<Registry> registry_;
    std::uint64_t id_;
};

FakeAccessibility::FakeAccessibility()
    : systemWide_(makeNode(0, nullptr)), registry_(std::make_shared<Registry>()) {
    systemWide_->isSystemWide = true;
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

std::shared_ptr<FakeAccessibility::Node> FakeAccessibility::node(const AXElement& element) const {
    auto n = std::dynamic_pointer_cast<Node>(element.impl());
    if (!n || n->owner != this) {
        return nullptr;
    }
    return n;
}

AXElement FakeAccessibility::addApplication(std::int32_t pid) {
    auto& app = applications_[pid];
    if (!app) {
        app = makeNode(pid, nullptr);
        app->attributes.emplace(std::string(ax::role), std::string("AXApplication"));
    }
    return AXElement(app);
}

AXElement FakeAccessibility::addElement(const AXElement& parent, std::string_view role) {
    auto p = node(parent);
    if (!p || p->isSystemWide) {
        return AXElement();
    }
    auto n = makeNode(p->pid, p);
    if (!role.empty()) {
        n->attributes.emplace(std::string(ax::role), std::string(role));
    }
    return AXElement(n);
}

void FakeAccessibility::setAttribute(const AXElement& element, std::string_view name,
                                     AXValue value) {
    if (auto n = node(element)) {
        n->attributes.insert_or_assign(std::string(name), std::move(value));
    }
}

void FakeAccessibility::removeAttribute(const AXElement& element, std::string_view name) {
    if (auto n = node(element)) {
        if (auto it = n->attributes.find(name); it != n->attributes.end()) {
            n->attributes.erase(it);
        }
    }
}

void FakeAccessibility::failAttribute(const AXElement& element, std::string_view name,
                                      AXError error) {
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

void FakeAccessibility::setFocusedElement(std::optional<AXElement> element) {
    focused_ = std::move(element);
}

void FakeAccessibility::post(std::int32_t pid, std::string_view notification,
                             const AXElement& element) {
    auto target = node(element);
    auto app = applications_.contains(pid) ? applications_.at(pid) : nullptr;
    std::vector<std::uint64_t> due;
    for (const auto& entry : registry_->entries) {
        if (entry.pid != pid) {
            continue;
        }
        for (const auto& [weakNode, name] : entry.registrations) {
            auto registered = weakNode.lock();
            if (name == notification && registered && registered->valid &&
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
            callback(element, std::string(notification));
        }
    }
}

int FakeAccessibility::observerCount() const {
    return static_cast<int>(registry_->entries.size());
}

int FakeAccessibility::observerCount(std::int32_t pid) const {
    return static_cast<int>(std::ranges::count(registry_->entries, pid, &Registry::Entry::pid));
}

std::vector<std::string> FakeAccessibility::registeredNotifications(std::int32_t pid) const {
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

std::optional<double> FakeAccessibility::messagingTimeout(const AXElement& element) const {
    auto n = node(element);
    return n ? n->timeout : std::nullopt;
}

std::vector<std::pair<std::string, AXValue>> FakeAccessibility::writes(
    const AXElement& element) const {
    auto n = node(element);
    return n ? n->writes : std::vector<std::pair<std::string, AXValue>>{};
}

int FakeAccessibility::readCount(std::string_view attribute) const {
    auto it = reads_.find(attribute);
    return it == reads_.end() ? 0 : it->second;
}

AXElement FakeAccessibility::systemWideElement() {
    return AXElement(systemWide_);
}

AXElement FakeAccessibility::applicationElement(std::int32_t pid) {
    if (auto it = applications_.find(pid); it != applications_.end()) {
        return AXElement(it->second);
    }
    // Like the real call, this always gives an element; it names nothing that answers.
    auto orphan = makeNode(pid, nullptr);
    orphan->valid = false;
    return AXElement(orphan);
}

std::expected<AXValue, AXError> FakeAccessibility::copyAttributeValue(const AXElement& element,
                                                                      std::string_view attribute) {
    if (auto it = reads_.find(attribute); it != reads_.end()) {
        ++it->second;
    } else {
        reads_.emplace(std::string(attribute), 1);
    }
    if (!trusted_) {
        return std::unexpected(AXError::apiDisabled);
    }
    auto n = node(element);
    if (!n || !n->valid) {
        return std::unexpected(AXError::invalidUIElement);
    }
    if (auto failure = n->failures.find(attribute); failure != n->failures.end()) {
        return std::unexpected(failure->second);
    }
    if (n->isSystemWide) {
        if (attribute == ax::focusedUIElement && focused_) {
            return AXValue(*focused_);
        }
        return std::unexpected(AXError::noValue);
    }
    if (auto it = n->attributes.find(attribute); it != n->attributes.end()) {
        return it->second;
    }
    if (attribute == ax::parent) {
        if (auto p = n->parent.lock()) {
            return AXValue(AXElement(p));
        }
        return std::unexpected(AXError::noValue);
    }
    if (attribute == ax::children) {
        std::vector<AXElement> kids;
        kids.reserve(n->children.size());
        for (const auto& child : n->children) {
            kids.emplace_back(child);
        }
        return AXValue(std::move(kids));
    }
    return std::unexpected(AXError::noValue);
}

std::expected<void, AXError> FakeAccessibility::setAttributeValue(const AXElement& element,
                                                                  std::string_view attribute,
                                                                  const AXValue& value) {
    if (!trusted_) {
        return std::unexpected(AXError::apiDisabled);
    }
    auto n = node(element);
    if (!n || !n->valid) {
        return std::unexpected(AXError::invalidUIElement);
    }
    n->writes.emplace_back(std::string(attribute), value);
    if (auto failure = n->failures.find(attribute); failure != n->failures.end()) {
        return std::unexpected(failure->second);
    }
    n->attributes.insert_or_assign(std::string(attribute), value);
    return {};
}

std::expected<std::int32_t, AXError> FakeAccessibility::processIdentifier(
    const AXElement& element) {
    auto n = node(element);
    if (!n || n->isSystemWide) {
        return std::unexpected(AXError::illegalArgument);
    }
    if (!n->valid) {
        return std::unexpected(AXError::invalidUIElement);
    }
    return n->pid;
}

std::expected<void, AXError> FakeAccessibility::setMessagingTimeout(const AXElement& element,
                                                                    double seconds) {
    auto n = node(element);
    if (!n || seconds < 0) {
        return std::unexpected(AXError::illegalArgument);
    }
    n->timeout = seconds;
    return {};
}

std::expected<std::unique_ptr<AXObserver>, AXError> FakeAccessibility::createObserver(
    std::int32_t pid, AXObserverCallback callback) {
    if (failObserverCreation || pid <= 0 || !callback) {
        return std::unexpected(AXError::failure);
    }
    const auto id = registry_->nextID++;
    registry_->entries.push_back({id, pid, std::move(callback), {}});
    return std::make_unique<Observer>(*this, id);
}

}  // namespace tesvano::platform
