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

SteadyScrollerStyle* SteadyScrollerStyle::shared() {
    static QPointer<SteadyScrollerStyle> style;
    if (!style) {
        style = new SteadyScrollerStyle;
        style->setParent(qApp);
    }
    return style;
}

int SteadyScrollerStyle::styleHint(StyleHint hint, const QStyleOption* option,
                                   const QWidget* widget, QStyleHintReturn* returnData) const {
    if (hint == SH_ScrollBar_Transient) {
        return 0;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

namespace {

// Both bars and the area itself in one style; the area lays its bars out anew when its own
// style changes, so it is switched last.
void setScrollerStyle(QAbstractScrollArea* area, QStyle* style) {
    area->verticalScrollBar()->setStyle(style);
    area->horizontalScrollBar()->setStyle(style);
    area->setStyle(style);
}

bool usesStyle(const QWidget* scrollArea, const QStyle* style) {
    const auto* area = qobject_cast<const QAbstractScrollArea*>(scrollArea);
    return area != nullptr && area->style() == style &&
           area->verticalScrollBar()->style() == style &&
           area->horizontalScrollBar()->style() == style;
}

}  // namespace

OverlayScrollerSweep::OverlayScrollerSweep(QWidget* host) : QWidget(host) {
    setObjectName(QStringLiteral("overlayScrollerSweep"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
}

bool OverlayScrollerSweep::usesOverlayScrollers(const QWidget* scrollArea) {
    return usesStyle(scrollArea, OverlayScrollerStyle::shared());
}

void OverlayScrollerSweep::keepSteadyScrollers(QWidget* scrollArea) {
    if (auto* area = qobject_cast<QAbstractScrollArea*>(scrollArea)) {
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setScrollerStyle(area, SteadyScrollerStyle::shared());
    }
}

bool OverlayScrollerSweep::usesSteadyScrollers(const QWidget* scrollArea) {
    return usesStyle(scrollArea, SteadyScrollerStyle::shared());
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
        if (usesOverlayScrollers(area) || usesSteadyScrollers(area)) {
            continue;
        }
        setScrollerStyle(area, overlay);
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
