#pragma once

#include <QWidget>
#include <string_view>
#include <vector>

class QGroupBox;
class QLabel;

namespace KeyboardShortcuts {
class Recorder;
}

namespace tesvano {

class AppState;

// The Shortcuts pane of the Settings window: one recorder for each of the six global
// shortcuts, in two sections. Recording, clearing and the conflict checks are the recorder's
// own; the pane only follows the interface language.
class ShortcutsSettingsPane final : public QWidget {
    Q_OBJECT

public:
    explicit ShortcutsSettingsPane(AppState& appState, QWidget* parent = nullptr);

    // In display order; each is named after its shortcut name.
    const std::vector<KeyboardShortcuts::Recorder*>& recorders() const { return recorders_; }

private:
    void retranslate();

    struct Text {
        QWidget* widget;
        std::string_view key;
    };

    AppState& appState_;
    std::vector<KeyboardShortcuts::Recorder*> recorders_;
    std::vector<Text> texts_;
};

}  // namespace tesvano
