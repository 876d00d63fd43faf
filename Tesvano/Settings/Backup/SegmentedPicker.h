#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>

class QButtonGroup;
class QPushButton;

namespace tesvano {

// A row of joined, mutually exclusive buttons: one choice out of a few, all visible at once.
// `onChoose` hears the user's choices only, never setCurrent.
class SegmentedPicker final : public QWidget {
public:
    SegmentedPicker(const QStringList& options, QWidget* parent = nullptr);

    // No segment chosen: a mixed state, or nothing chosen yet.
    static constexpr int none = -1;

    int current() const;
    // `none` leaves every segment unchosen.
    void setCurrent(int index);
    QPushButton* segment(int index) const;
    // Chooses as a click does (tests and the keyboard).
    void choose(int index);

    std::function<void(int)> onChoose;

private:
    QButtonGroup* group_;
};

}  // namespace tesvano
