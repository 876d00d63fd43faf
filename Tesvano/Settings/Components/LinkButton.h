#pragma once

#include <QPushButton>

namespace tesvano {

// A button drawn as a link: no bezel, link colour, pointing-hand cursor.
class LinkButton final : public QPushButton {
public:
    explicit LinkButton(const QString& text, QWidget* parent = nullptr);
};

}  // namespace tesvano
