#include "Platform/TextInput/CombinedTextInputSources.h"

namespace tesvano::platform {

CombinedTextInputSources::CombinedTextInputSources(std::vector<Backend> backends)
    : backends_(std::move(backends)) {
    // Every backend's changes are ours, the hidden ones' included: a framework that sets a
    // layout changes the group as well, and a framework that starts hides the groups.
    for (auto& backend : backends_) {
        forwarding_.push_back(
            backend.system->onSelectionChanged([this] { notifySelectionChanged(); }));
        forwarding_.push_back(
            backend.system->onEnabledSourcesChanged([this] { notifyEnabledSourcesChanged(); }));
    }
}

CombinedTextInputSources::~CombinedTextInputSources() = default;

TextInputSources* CombinedTextInputSources::activeFramework() {
    for (auto& backend : backends_) {
        if (backend.role == Role::framework && backend.system->isAvailable()) {
            return backend.system.get();
        }
    }
    return nullptr;
}

std::vector<TextInputSources*> CombinedTextInputSources::listedBackends() {
    TextInputSources* framework = activeFramework();
    const bool layoutsHidden = framework != nullptr && framework->managesKeyboardLayouts();
    std::vector<TextInputSources*> listed;
    for (auto& backend : backends_) {
        if (backend.role == Role::layouts && !layoutsHidden && backend.system->isAvailable()) {
            listed.push_back(backend.system.get());
        }
    }
    if (framework != nullptr) {
        listed.push_back(framework);
    }
    return listed;
}

TextInputSources* CombinedTextInputSources::ownerOf(std::string_view id) {
    for (TextInputSources* backend : listedBackends()) {
        if (backend->sourceWithID(id)) {
            return backend;
        }
    }
    return nullptr;
}

std::vector<TextInputSource> CombinedTextInputSources::sources() {
    std::vector<TextInputSource> all;
    for (TextInputSources* backend : listedBackends()) {
        auto some = backend->sources();
        all.insert(all.end(), std::make_move_iterator(some.begin()),
                   std::make_move_iterator(some.end()));
    }
    return all;
}

std::optional<TextInputSource> CombinedTextInputSources::currentKeyboardSource() {
    const auto listed = listedBackends();
    // The framework, when there is one, is listed last; it decides when it knows. One that
    // sets the layouts itself and knows of no current entry (no input context has had the
    // focus since it started) has nothing current: the groups it rewrites do not count.
    for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
        if (auto current = (*it)->currentKeyboardSource()) {
            return current;
        }
    }
    return std::nullopt;
}

std::optional<TextInputSource> CombinedTextInputSources::sourceWithID(std::string_view id) {
    for (TextInputSources* backend : listedBackends()) {
        if (auto found = backend->sourceWithID(id)) {
            return found;
        }
    }
    return std::nullopt;
}

SelectStatus CombinedTextInputSources::select(std::string_view id) {
    TextInputSources* owner = ownerOf(id);
    return owner != nullptr ? owner->select(id) : SelectStatus::unknownSource;
}

bool CombinedTextInputSources::canSelect(std::string_view id) {
    TextInputSources* owner = ownerOf(id);
    return owner == nullptr || owner->canSelect(id);
}

void CombinedTextInputSources::nudgeKeyWindow() {
    for (auto& backend : backends_) {
        backend.system->nudgeKeyWindow();
    }
}

bool CombinedTextInputSources::isAvailable() {
    return !listedBackends().empty();
}

bool CombinedTextInputSources::managesKeyboardLayouts() {
    TextInputSources* framework = activeFramework();
    return framework != nullptr && framework->managesKeyboardLayouts();
}

FocusedSelection CombinedTextInputSources::selectInFocusedContext(std::string_view id) {
    TextInputSources* owner = ownerOf(id);
    if (owner == nullptr) {
        return std::unexpected(FocusedSelectionFailure{});
    }
    return owner->selectInFocusedContext(id);
}

}  // namespace tesvano::platform
