#pragma once

#include <QProxyStyle>
#include <QWidget>

namespace tesvano {

// The application's style with transient scroll bars: thin bars drawn over the content that
// show only while scrolling, whatever the desktop's setting says.
class OverlayScrollerStyle final : public QProxyStyle {
public:
    // One per process, kept by the application object.
    static OverlayScrollerStyle* shared();

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;

private:
    OverlayScrollerStyle() = default;
};

// The application's style with bars that show for as long as the content overflows: for the
// one scroll area of a window whose fold would otherwise hide content without a hint.
class SteadyScrollerStyle final : public QProxyStyle {
public:
    static SteadyScrollerStyle* shared();

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;

private:
    SteadyScrollerStyle() = default;
};

// A probe without content placed in a window: it switches every scroll area of the window to
// overlay scroll bars when the window is shown, when the desktop's style or theme changes, and
// whenever its owner calls sweepNowAndLater (a new tab, say) — each time once at once and
// once more on the next turn of the event loop, which catches content built meanwhile. It
// takes no pointer events.
class OverlayScrollerSweep final : public QWidget {
public:
    explicit OverlayScrollerSweep(QWidget* host);

    void sweepNowAndLater();
    // Sweeps one widget tree now; answers how many scroll areas it switched.
    static int sweep(QWidget* root);
    static bool usesOverlayScrollers(const QWidget* scrollArea);
    // Gives the area steady bars, shown whenever its content overflows, and the sweeps leave
    // it so.
    static void keepSteadyScrollers(QWidget* scrollArea);
    static bool usesSteadyScrollers(const QWidget* scrollArea);

protected:
    bool event(QEvent* event) override;
};

}  // namespace tesvano
