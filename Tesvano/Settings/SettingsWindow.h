#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "Tesvano/Settings/SettingsTab.h"

class QButtonGroup;
class QHBoxLayout;
class QLabel;
class QScrollArea;
class QStackedWidget;
class QToolButton;

namespace tesvano {

class AppState;
class OverlayScrollerSweep;

// The Settings window: a row of tabs (symbol over title) above the selected pane, the selected
// tab kept in AppState.settingsTab (so anything can switch the window to a pane), at least
// 680 × 600 and as tall as the tallest pane built so far (within the work area, frame counted),
// a pane taller than that with a bar that shows, overlay scroll bars inside the panes, and the
// Accessibility grant polling ended when the window closes. Panes come from factories, each
// built when its tab is first shown and all let go when the window closes; a tab without one
// shows an empty pane. The shown pane is built again in a new interface language.
class SettingsWindow final : public QWidget {
public:
    using PaneFactory = std::function<QWidget*(AppState&)>;
    using PaneFactories = std::array<PaneFactory, settingsTabs.size()>;

    static constexpr int minimumWidth = 680;
    static constexpr int idealWidth = 700;
    static constexpr int minimumHeight = 600;

    // The panes built so far; the other tabs show an empty pane until theirs exist.
    static PaneFactories defaultPanes();

    SettingsWindow(AppState& state, PaneFactories panes = defaultPanes(),
                   QWidget* parent = nullptr);

    // Shows the window, brings it forward and gives it the focus.
    void present();

    QToolButton* tabButton(SettingsTab tab) const;
    // The tab whose pane is shown.
    SettingsTab currentTab() const;
    // The pane the tab shows, built now if it was not yet.
    QWidget* pane(SettingsTab tab);
    // Whether the tab's pane exists: panes are built when first shown and let go on close.
    bool isPaneBuilt(SettingsTab tab) const;
    // Whether the Updates tab shows its badge.
    bool showsUpdateBadge() const;
    // The height at which the tallest pane shows whole at the window's width.
    int heightForTallestPane() const;

    // Called by the window's quit key (Ctrl+Q); the program routes it through its quit gate
    // and answers whether it quits. When it does not, the window says how Tesvano keeps running
    // and offers to quit all the same.
    std::function<bool()> onQuitKey;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildPane(std::size_t index);
    void releasePanes();
    void rebuildPanes();
    void explainKeptRunning();
    // As tall as the tallest built pane needs, within the screen's available height (a pane
    // taller than that scrolls); only growing when `growOnly`.
    void fitToPanes(bool growOnly);
    // The row of tabs with every title whole, the window at least as wide.
    void fitTabTitles();
    int widthForTabs() const;
    // At least as wide as the tabs and the built panes need, within the screen.
    void fitWidth();
    void selectTab(SettingsTab tab);
    void refreshTitle();
    void refreshBadge();
    void placeBadge();
    void refreshSaveProblem();

    AppState& state_;
    PaneFactories factories_;
    QButtonGroup* tabGroup_;
    QHBoxLayout* tabBar_ = nullptr;
    std::array<QToolButton*, settingsTabs.size()> tabButtons_{};
    QStackedWidget* stack_;
    std::array<QScrollArea*, settingsTabs.size()> scrollers_{};
    QLabel* updateBadge_ = nullptr;
    // Says, above every pane, that changes made here are not being kept.
    QLabel* saveProblem_ = nullptr;
    OverlayScrollerSweep* sweep_;
    bool rebuildPending_ = false;
};

}  // namespace tesvano
