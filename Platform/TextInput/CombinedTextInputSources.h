#pragma once

#include <memory>
#include <vector>

#include "Platform/TextInput/TextInputSources.h"

namespace tesvano::platform {

// Several input-source systems as one: the X server's layout groups and the input-method
// frameworks, each of which may come and go while the program runs. Which of them are listed:
//   - The first framework in the list that is running is the active one; other frameworks
//     are left out (applications talk to one framework at a time).
//   - When the active framework sets the keyboard layouts itself (its sources include layout
//     entries), the layout groups are left out: the framework rewrites them, and a lock on a
//     group would fight it over the same key map.
//   - Otherwise the layout groups come first, then the active framework's input methods.
// The current source is the active framework's when it reports one, else the listed layout
// group's. Every source handed out carries the backend that listed it, and a request for a
// source goes to that backend while it is listed; one that is no longer listed is unknown.
class CombinedTextInputSources final : public TextInputSources {
public:
    enum class Role {
        layouts,    // the X server's layout groups
        framework,  // an input-method framework
    };
    struct Backend {
        std::unique_ptr<TextInputSources> system;
        Role role = Role::framework;
    };

    // In order of preference among the frameworks.
    explicit CombinedTextInputSources(std::vector<Backend> backends);
    ~CombinedTextInputSources() override;

    std::vector<TextInputSource> sources() override;
    std::optional<TextInputSource> currentKeyboardSource() override;
    std::optional<TextInputSource> sourceWithID(std::string_view id) override;
    SelectStatus select(const TextInputSource& source) override;
    bool canSelect(const TextInputSource& source) override;
    bool isAvailable() override;
    bool managesKeyboardLayouts() override;
    FocusedSelection selectInFocusedContext(const TextInputSource& source) override;

    // The backends whose sources are listed now, in listing order.
    std::vector<TextInputSources*> listedBackends();

private:
    TextInputSources* activeFramework();
    // The backend the source came from, while it is listed.
    TextInputSources* ownerOf(const TextInputSource& source);

    std::vector<Backend> backends_;
    std::vector<Registration> forwarding_;
};

}  // namespace tesvano::platform
