#pragma once

#include <QWidget>
#include <string_view>

class QLabel;

namespace tesvano {

class AppState;

// A warning inside a pane: the triangle symbol and a short text in the footnote font, orange.
class WarningLabel final : public QWidget {
public:
    WarningLabel(const AppState& state, std::string_view key, QWidget* parent = nullptr);

    void setKey(std::string_view key);
    QString text() const;

    // The orange of warnings, readable on light and dark windows.
    static QColor color(const QWidget* widget);

private:
    const AppState& state_;
    QLabel* text_;
};

}  // namespace tesvano
