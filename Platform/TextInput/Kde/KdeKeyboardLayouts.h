#pragma once

#include <memory>
#include <optional>

namespace tesvano::platform {

class XkbTextInputSources;

// KDE's keyboard daemon (the kded module "keyboard", service org.kde.keyboard on the session
// bus). Set to remember a layout per window, it learns the layout a window wants from the
// selections made through it; a group locked behind its back is forgotten or given to the
// wrong window. Its layout indexes are the X server's group numbers.
class KdeKeyboardLayouts {
public:
    // Connects to the session bus; none when the daemon is not on it.
    static std::unique_ptr<KdeKeyboardLayouts> connect();
    ~KdeKeyboardLayouts();
    KdeKeyboardLayouts(const KdeKeyboardLayouts&) = delete;
    KdeKeyboardLayouts& operator=(const KdeKeyboardLayouts&) = delete;

    // The daemon's current layout index; none when it does not answer.
    std::optional<unsigned> layout();
    // Asks the daemon to select the layout; false when it refused or did not answer.
    bool setLayout(unsigned index);

private:
    struct Impl;
    explicit KdeKeyboardLayouts(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Makes the layout backend select through KDE's daemon when that is on the session bus, so
// that the daemon's memory of each window's layout agrees with the selection. Answers whether
// it is.
bool selectThroughKdeKeyboardWhenPresent(XkbTextInputSources& sources);

}  // namespace tesvano::platform
