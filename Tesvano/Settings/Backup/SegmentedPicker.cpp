#include "Tesvano/Settings/Backup/SegmentedPicker.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>

namespace tesvano {

SegmentedPicker::SegmentedPicker(const QStringList& options, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    group_->setExclusive(true);
    for (int i = 0; i < options.size(); ++i) {
        auto* button = new QPushButton(options[i], this);
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
        group_->addButton(button, i);
        row->addWidget(button);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The chosen segment reads at a glance: filled with the selection colour. Both states have
    // the same border and padding, so no segment changes size when chosen.
    setStyleSheet(QStringLiteral(
        "QPushButton { padding: 3px 12px; border: 1px solid palette(mid);"
        " background: palette(button); color: palette(button-text); }"
        "QPushButton:hover { background: palette(midlight); }"
        "QPushButton:checked { background: palette(highlight); color: palette(highlighted-text);"
        " border-color: palette(highlight); }"
        "QPushButton:focus { border-color: palette(highlight); }"));
    connect(group_, &QButtonGroup::idClicked, this, [this](int index) {
        if (onChoose) {
            onChoose(index);
        }
    });
}

int SegmentedPicker::current() const {
    return group_->checkedId();
}

void SegmentedPicker::setCurrent(int index) {
    if (QAbstractButton* button = group_->button(index)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked: let go of it for a moment.
    group_->setExclusive(false);
    for (QAbstractButton* button : group_->buttons()) {
        button->setChecked(false);
    }
    group_->setExclusive(true);
}

QPushButton* SegmentedPicker::segment(int index) const {
    return qobject_cast<QPushButton*>(group_->button(index));
}

void SegmentedPicker::choose(int index) {
    if (QAbstractButton* button = group_->button(index)) {
        button->click();
    }
}

}  // namespace tesvano
