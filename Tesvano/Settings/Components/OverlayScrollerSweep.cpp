#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>

namespace tesvano {

OverlayScrollerStyle* OverlayScrollerStyle::shared() {
    static QPointer<OverlayScrollerStyle> style;
    if (!style) {
        style = new OverlayScrollerStyle;
        style->setParent(qApp);
    }
    return style;
}

int OverlayScrollerStyle::styleHint(StyleHint hint, const QStyleOption* option,
                                    const QWidget* widget, QStyleHintReturn* returnData) const {
    if (hint == SH_ScrollBar_Transient) {
        return 1;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

OverlayScrollerSweep::OverlayScrollerSweep(QWidget* host) : QWidget(host) {
    setObjectName(QStringLiteral("overlayScrollerSweep"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
}

bool OverlayScrollerSweep::usesOverlayScrollers(const QWidget* scrollArea) {
    const auto* area = qobject_cast<const QAbstractScrollArea*>(scrollArea);
    if (area == nullptr) {
        return false;
    }
    QStyle* overlay = OverlayScrollerStyle::shared();
    return area->style() == overlay && area->verticalScrollBar()->style() == overlay &&
           area->horizontalScrollBar()->style() == overlay;
}

int OverlayScrollerSweep::sweep(QWidget* root) {
    if (root == nullptr) {
        return 0;
    }
    QList<QAbstractScrollArea*> areas = root->findChildren<QAbstractScrollArea*>();
    if (auto* self = qobject_cast<QAbstractScrollArea*>(root)) {
        areas.prepend(self);
    }
    int switched = 0;
    QStyle* overlay = OverlayScrollerStyle::shared();
    for (QAbstractScrollArea* area : areas) {
        if (usesOverlayScrollers(area)) {
            continue;
        }
        // The bars decide whether they are transient; the area lays them over its viewport
        // when its own style changes, so it is switched last.
        area->verticalScrollBar()->setStyle(overlay);
        area->horizontalScrollBar()->setStyle(overlay);
        area->setStyle(overlay);
        ++switched;
    }
    return switched;
}

void OverlayScrollerSweep::sweepNowAndLater() {
    sweep(window());
    QTimer::singleShot(0, this, [this] { sweep(window()); });
}

bool OverlayScrollerSweep::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::Show:
        case QEvent::ParentChange:
        case QEvent::StyleChange:
        case QEvent::ThemeChange:
        case QEvent::ApplicationPaletteChange:
            if (window() != nullptr && window()->isVisible()) {
                sweepNowAndLater();
            }
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

}  // namespace tesvano
