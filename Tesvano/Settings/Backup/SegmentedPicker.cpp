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
    }
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
