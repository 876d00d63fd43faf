#pragma once

#include <QWidget>

namespace tesvano {

class AppState;

// What a tab shows while its pane is not part of the program yet: a plain note, no controls.
class EmptyPane final : public QWidget {
public:
    explicit EmptyPane(const AppState& state, QWidget* parent = nullptr);
};

}  // namespace tesvano
