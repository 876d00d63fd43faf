#pragma once

#include <QLabel>
#include <string_view>

namespace tesvano {

class AppState;

// The small secondary text under a section of a settings pane. The text is a text key shown
// in the interface language; inline Markdown in it (a `code span`, *emphasis*, a link) is
// rendered.
class SectionFooter final : public QLabel {
public:
    SectionFooter(const AppState& state, std::string_view key, QWidget* parent = nullptr);
};

}  // namespace tesvano
