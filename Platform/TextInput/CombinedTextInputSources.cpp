#include "Platform/TextInput/CombinedTextInputSources.h"

#include <algorithm>

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

namespace {

std::optional<TextInputSource> from(TextInputSources* backend,
                                    std::optional<TextInputSource> source) {
    if (source) {
        source->backend = backend;
    }
    return source;
}

}  // namespace

TextInputSources* CombinedTextInputSources::ownerOf(const TextInputSource& source) {
    const auto listed = listedBackends();
    return std::ranges::find(listed, source.backend) != listed.end() ? source.backend : nullptr;
}

std::vector<TextInputSource> CombinedTextInputSources::sources() {
    std::vector<TextInputSource> all;
    for (TextInputSources* backend : listedBackends()) {
        for (auto& source : backend->sources()) {
            source.backend = backend;
            all.push_back(std::move(source));
        }
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
            return from(*it, std::move(current));
        }
    }
    return std::nullopt;
}

std::optional<TextInputSource> CombinedTextInputSources::sourceWithID(std::string_view id) {
    for (TextInputSources* backend : listedBackends()) {
        if (auto found = backend->sourceWithID(id)) {
            return from(backend, std::move(found));
        }
    }
    return std::nullopt;
}

SelectStatus CombinedTextInputSources::select(const TextInputSource& source) {
    TextInputSources* owner = ownerOf(source);
    return owner != nullptr ? owner->select(source) : SelectStatus::unknownSource;
}

bool CombinedTextInputSources::canSelect(const TextInputSource& source) {
    TextInputSources* owner = ownerOf(source);
    return owner == nullptr || owner->canSelect(source);
}

bool CombinedTextInputSources::isAvailable() {
    return !listedBackends().empty();
}

bool CombinedTextInputSources::managesKeyboardLayouts() {
    TextInputSources* framework = activeFramework();
    return framework != nullptr && framework->managesKeyboardLayouts();
}

FocusedSelection CombinedTextInputSources::selectInFocusedContext(const TextInputSource& source) {
    TextInputSources* owner = ownerOf(source);
    if (owner == nullptr) {
        return std::unexpected(FocusedSelectionFailure{});
    }
    return owner->selectInFocusedContext(source);
}

}  // namespace tesvano::platform
