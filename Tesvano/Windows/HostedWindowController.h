#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

namespace tesvano {

// Owns one auxiliary window (About, Updates): built on first show, kept when closed, centred
// on its first show only, and re-titled after a change of interface language.
class HostedWindowController {
public:
    struct Options {
        std::string id;
        std::function<QString()> title;
        // Builds the content; the argument closes the hosting window.
        std::function<QWidget*(std::function<void()> close)> makeContent;
        std::function<void()> onClose;
        bool transparentTitleBar = false;
    };

    explicit HostedWindowController(Options options);
    ~HostedWindowController();
    HostedWindowController(const HostedWindowController&) = delete;
    HostedWindowController& operator=(const HostedWindowController&) = delete;

    void show();
    void refreshTitle();
    void closeWindow();
    // Throws the content away so that the next show builds it again (language change).
    void rebuildContent();

    QWidget* window() const;
    bool isBuilt() const { return window_ != nullptr; }

private:
    class Window;
    void makeWindow();
    void installContent();

    Options options_;
    std::unique_ptr<Window> window_;
    bool didCenter_ = false;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tesvano
