#pragma once

#include <QIcon>
#include <QWidget>
#include <optional>
#include <string>

class QLabel;

namespace tesvano {

class AppState;

// An application as the panes list it: its icon, its name and its identity underneath. A name
// or icon not given is looked up; an application nobody knows gets a dashed placeholder.
class AppRowLabel final : public QWidget {
public:
    AppRowLabel(const AppState& state, std::string appId, std::optional<QString> name,
                std::optional<QIcon> icon, int iconSize, QWidget* parent = nullptr);

    QString title() const;
    bool showsPlaceholder() const { return placeholder_; }

    // The placeholder square with the dashed application symbol.
    static QPixmap placeholder(const QWidget* widget, int size);

private:
    QLabel* title_;
    bool placeholder_ = false;
};

}  // namespace tesvano
