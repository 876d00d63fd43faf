#include "Tesvano/Settings/SettingsWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmapCache>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "Tesvano/App/AppDisplay.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/AppRules/AppRulesSettingsPane.h"
#include "Tesvano/Settings/Backup/BackupSettingsPane.h"
#include "Tesvano/Settings/Components/EmptyPane.h"
#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"
#include "Tesvano/Settings/Components/ScreenFit.h"
#include "Tesvano/Settings/Components/WarningLabel.h"
#include "Tesvano/Settings/General/GeneralSettingsPane.h"
#include "Tesvano/Settings/Log/ActivationLogPane.h"
#include "Tesvano/Settings/Permissions/PermissionsSettingsPane.h"
#include "Tesvano/Settings/URLRules/URLRulesPane.h"
#include "Tesvano/Settings/Updates/UpdatesSettingsPane.h"

namespace tesvano {

namespace {

// Our own symbol for each tab, used where the icon theme has none.
constexpr std::array<std::string_view, settingsTabs.size()> tabSymbols{
    "gearshape",
    "macwindow.on.rectangle",
    "globe",
    "keyboard",
    "hand.raised",
    "arrow.down.circle",
    "list.bullet.rectangle",
    "arrow.up.arrow.down.square"};

int indexOf(SettingsTab tab) {
    return static_cast<int>(tab);
}

// Hands the heap pages the closed panes used back to the system.
void releaseFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

}  // namespace

SettingsWindow::PaneFactories SettingsWindow::defaultPanes() {
    PaneFactories panes;
    panes[static_cast<std::size_t>(SettingsTab::general)] = [](AppState& state) -> QWidget* {
        return new GeneralSettingsPane(state);
    };
    panes[static_cast<std::size_t>(SettingsTab::log)] = [](AppState& state) -> QWidget* {
        return new ActivationLogPane(state);
    };
    panes[static_cast<std::size_t>(SettingsTab::urlRules)] = [](AppState& state) -> QWidget* {
        return new URLRulesPane(state);
    };
    panes[static_cast<std::size_t>(SettingsTab::appRules)] = [](AppState& s) -> QWidget* {
        return new AppRulesSettingsPane(s);
    };
    panes[static_cast<std::size_t>(SettingsTab::permissions)] = [](AppState& state) -> QWidget* {
        return new PermissionsSettingsPane(state);
    };
    panes[static_cast<std::size_t>(SettingsTab::backup)] = [](AppState& state) -> QWidget* {
        return new BackupSettingsPane(state);
    };
    panes[static_cast<std::size_t>(SettingsTab::updates)] = [](AppState& state) -> QWidget* {
        return new UpdatesSettingsPane(state);
    };
    return panes;
}

SettingsWindow::SettingsWindow(AppState& state, PaneFactories panes, QWidget* parent)
    : QWidget(parent, Qt::Window), state_(state), factories_(std::move(panes)) {
    setObjectName(QStringLiteral("settings"));
    setWindowRole(QStringLiteral("tesvano-settings"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowIcon(AppDisplay::ownAppIcon());
    setMinimumSize(minimumWidth, minimumHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(12, 8, 12, 8);
    bar->setSpacing(2);
    bar->addStretch(1);
    tabGroup_ = new QButtonGroup(this);
    tabGroup_->setExclusive(true);
    stack_ = new QStackedWidget(this);
    for (std::size_t i = 0; i < settingsTabs.size(); ++i) {
        const auto& info = settingsTabs[i];
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("tab.") + QString::number(i));
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(24, 24));
        button->setMinimumWidth(64);
        button->setIcon(QIcon::fromTheme(
            QString::fromUtf8(info.iconName.data(), qsizetype(info.iconName.size())),
            Symbols::icon(tabSymbols[i])));
        tabGroup_->addButton(button, static_cast<int>(i));
        tabButtons_[i] = button;
        bar->addWidget(button);

        auto* scroller = new QScrollArea(stack_);
        scroller->setWidgetResizable(true);
        scroller->setFrameShape(QFrame::NoFrame);
        // A pane taller than the screen allows says so with its bar.
        OverlayScrollerSweep::keepSteadyScrollers(scroller);
        scrollers_[i] = scroller;
        stack_->addWidget(scroller);
    }
    bar->addStretch(1);
    tabBar_ = bar;
    layout->addLayout(bar);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);
    auto* content = new QVBoxLayout;
    content->setContentsMargins(20, 16, 20, 20);
    content->setSpacing(8);
    content->addWidget(stack_);
    // Under the pane, so that nothing in it moves when the note comes or goes.
    saveProblem_ = new QLabel(this);
    saveProblem_->setObjectName(QStringLiteral("saveProblem"));
    saveProblem_->setWordWrap(true);
    saveProblem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    saveProblem_->setFrameShape(QFrame::StyledPanel);
    saveProblem_->setMargin(8);
    QPalette warning = saveProblem_->palette();
    warning.setColor(QPalette::WindowText, WarningLabel::color(this));
    saveProblem_->setPalette(warning);
    content->addWidget(saveProblem_);
    layout->addLayout(content, 1);
    sweep_ = new OverlayScrollerSweep(this);

    selectTab(state_.settingsTab());
    refreshBadge();
    refreshSaveProblem();

    connect(tabGroup_, &QButtonGroup::idClicked, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(settingsTabs.size())) {
            // Announces only a real change.
            state_.setSettingsTab(settingsTabs[static_cast<std::size_t>(index)].tab);
        }
    });
    connect(&state_, &AppState::settingsTabChanged, this,
            [this] { selectTab(state_.settingsTab()); });
    connect(&state_, &AppState::updateStateChanged, this, [this] { refreshBadge(); });
    connect(&state_, &AppState::settingsSaveProblemChanged, this, [this] { refreshSaveProblem(); });
    connect(&state_, &AppState::languagePreferenceChanged, this, [this] {
        // Later: the change may come from a control inside a pane that is about to go.
        if (!rebuildPending_) {
            rebuildPending_ = true;
            QTimer::singleShot(0, this, [this] {
                rebuildPending_ = false;
                rebuildPanes();
                fitTabTitles();
                refreshTitle();
                refreshSaveProblem();
                // Longer words may need more room: measured now, and again once the new
                // texts have been laid out (the tabs' own labels grow with some scripts).
                fitToPanes(true);
                QTimer::singleShot(0, this, [this] { fitToPanes(true); });
            });
        }
    });

    // Ctrl+W closes the window, as in every Linux program.
    auto* closeKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);

    auto* quit = new QShortcut(QKeySequence::Quit, this);
    quit->setObjectName(QStringLiteral("quitKey"));
    connect(quit, &QShortcut::activated, this, [this] {
        if (onQuitKey && !onQuitKey()) {
            explainKeptRunning();
        }
    });

    fitTabTitles();
    resize(std::max(int(idealWidth), QWidget::minimumWidth()), minimumHeight);
    fitToPanes(false);
}

namespace {

// A title of several words in two lines, broken at the space nearest its middle.
QString inTwoLines(const QString& title) {
    int best = -1;
    for (int i = 0; i < title.size(); ++i) {
        if (title[i] == QLatin1Char(' ') &&
            (best < 0 ||
             std::abs(2 * i - int(title.size())) < std::abs(2 * best - int(title.size())))) {
            best = i;
        }
    }
    if (best < 0) {
        return title;
    }
    QString out = title;
    out[best] = QLatin1Char('\n');
    return out;
}

}  // namespace

int SettingsWindow::widthForTabs() const {
    const QMargins margins = tabBar_->contentsMargins();
    int width = margins.left() + margins.right();
    for (const QToolButton* button : tabButtons_) {
        width += std::max(button->sizeHint().width(), button->minimumWidth());
    }
    return width + tabBar_->spacing() * int(tabButtons_.size() - 1);
}

void SettingsWindow::fitTabTitles() {
    // Every title whole, never elided: on one line while the row fits the usual width, else
    // titles of several words take two lines (the longer languages), and the window is at
    // least as wide as the row, within the screen.
    for (std::size_t i = 0; i < settingsTabs.size(); ++i) {
        tabButtons_[i]->setText(state_.text(settingsTabs[i].title));
    }
    if (widthForTabs() > idealWidth) {
        for (QToolButton* button : tabButtons_) {
            button->setText(inTwoLines(button->text()));
        }
    }
    fitWidth();
}

void SettingsWindow::fitWidth() {
    const int available = ScreenFit::room(this).width();
    // The built panes' own least widths (a table's columns), with the content margins.
    int panes = 0;
    for (const auto* scroller : scrollers_) {
        if (const QWidget* content = scroller->widget()) {
            panes = std::max(panes, content->minimumSizeHint().width() + 40);
        }
    }
    const int wanted = std::min(std::max({int(minimumWidth), widthForTabs(), panes}), available);
    setMinimumWidth(wanted);
    if (width() < wanted) {
        resize(wanted, height());
    }
}

int SettingsWindow::heightForTallestPane() const {
    // The panes' width: the window's, less the content margins on both sides.
    const int paneWidth = std::max(width(), int(idealWidth)) - 40;
    int tallest = 0;
    for (const auto* scroller : scrollers_) {
        if (const QWidget* content = scroller->widget()) {
            const int height = content->hasHeightForWidth() ? content->heightForWidth(paneWidth)
                                                            : content->sizeHint().height();
            tallest = std::max(tallest, height);
        }
    }
    // Everything above and around the pane: the tab row, the divider, the margins.
    const int chrome = layout()->sizeHint().height() - stack_->sizeHint().height();
    return chrome + tallest;
}

void SettingsWindow::fitToPanes(bool growOnly) {
    // The title bar and borders of the window manager come off the work area.
    const int available = ScreenFit::room(this).height();
    setMinimumHeight(std::min(int(minimumHeight), available));
    const int wanted = std::min(std::max(int(minimumHeight), heightForTallestPane()), available);
    if (!growOnly || wanted > height()) {
        resize(width(), wanted);
    }
}

QWidget* SettingsWindow::buildPane(std::size_t index) {
    QWidget* content = nullptr;
    if (factories_[index]) {
        content = factories_[index](state_);
    }
    if (content == nullptr) {
        content = new EmptyPane(state_);
    }
    scrollers_[index]->setWidget(content);
    sweep_->sweepNowAndLater();
    return content;
}

void SettingsWindow::releasePanes() {
    for (QScrollArea* scroller : scrollers_) {
        if (QWidget* old = scroller->takeWidget()) {
            old->hide();
            old->deleteLater();
        }
    }
}

void SettingsWindow::rebuildPanes() {
    releasePanes();
    buildPane(static_cast<std::size_t>(indexOf(currentTab())));
}

bool SettingsWindow::isPaneBuilt(SettingsTab tab) const {
    return scrollers_[static_cast<std::size_t>(tab)]->widget() != nullptr;
}

QWidget* SettingsWindow::pane(SettingsTab tab) {
    const auto index = static_cast<std::size_t>(tab);
    if (QWidget* built = scrollers_[index]->widget()) {
        return built;
    }
    return buildPane(index);
}

QToolButton* SettingsWindow::tabButton(SettingsTab tab) const {
    return tabButtons_[static_cast<std::size_t>(tab)];
}

SettingsTab SettingsWindow::currentTab() const {
    return settingsTabs[static_cast<std::size_t>(stack_->currentIndex())].tab;
}

void SettingsWindow::selectTab(SettingsTab tab) {
    // A pane is built when it is first shown; the window grows if it needs more room.
    const bool fresh = !isPaneBuilt(tab);
    pane(tab);
    if (fresh) {
        fitWidth();
        fitToPanes(true);
    }
    stack_->setCurrentIndex(indexOf(tab));
    tabButtons_[static_cast<std::size_t>(indexOf(tab))]->setChecked(true);
    refreshTitle();
    // The newly shown pane's scroll areas get overlay bars too.
    sweep_->sweepNowAndLater();
}

void SettingsWindow::refreshTitle() {
    const auto& info = settingsTabs[static_cast<std::size_t>(state_.settingsTab())];
    // "General – Tesvano Settings": the taskbar and the window switcher name the program.
    setWindowTitle(state_.text("%@ – Tesvano Settings")
                       .replace(QStringLiteral("%@"), state_.text(info.title)));
}

void SettingsWindow::refreshSaveProblem() {
    const auto problem = state_.settingsSaveProblem();
    if (problem) {
        // The reason is the log's own words, so that the two can be matched.
        saveProblem_->setText(
            state_.text("Changes are not being saved and last only until Tesvano quits.") +
            QLatin1Char('\n') + QString::fromStdString(*problem));
    }
    const bool changed = saveProblem_->isHidden() == problem.has_value();
    saveProblem_->setVisible(problem.has_value());
    if (changed && problem) {
        // Taller by the note where the screen has room, else the pane scrolls.
        fitToPanes(true);
    }
}

bool SettingsWindow::showsUpdateBadge() const {
    return updateBadge_ != nullptr && !updateBadge_->isHidden();
}

void SettingsWindow::refreshBadge() {
    const bool pending = state_.updateController().pendingUpdateVersion().has_value();
    if (updateBadge_ == nullptr) {
        if (!pending) {
            return;
        }
        // A red count in the corner of the Updates tab, as a badge is drawn.
        updateBadge_ = new QLabel(QStringLiteral("1"), tabButton(SettingsTab::updates));
        updateBadge_->setObjectName(QStringLiteral("updateBadge"));
        updateBadge_->setAlignment(Qt::AlignCenter);
        updateBadge_->setFixedSize(16, 16);
        updateBadge_->setStyleSheet(
            QStringLiteral("QLabel { background: #e0443e; color: white; border-radius: 8px;"
                           " font-size: 10px; font-weight: 600; }"));
        updateBadge_->setAttribute(Qt::WA_TransparentForMouseEvents);
        tabButton(SettingsTab::updates)->installEventFilter(this);
        placeBadge();
    }
    updateBadge_->setVisible(pending);
}

void SettingsWindow::placeBadge() {
    if (updateBadge_ != nullptr) {
        updateBadge_->move(tabButton(SettingsTab::updates)->width() - updateBadge_->width() - 4, 2);
    }
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tabButton(SettingsTab::updates) && event->type() == QEvent::Resize) {
        placeBadge();
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsWindow::present() {
    if (!isVisible()) {
        // On screen, wherever the window was left.
        if (QScreen* screen = this->screen() ? this->screen() : QApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            if (!area.intersects(frameGeometry())) {
                move(area.center() - rect().center());
            }
        }
    }
    showNormal();
    raise();
    activateWindow();
}

void SettingsWindow::explainKeptRunning() {
    if (auto* shown = findChild<QMessageBox*>(QStringLiteral("keptRunning"))) {
        shown->raise();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Information, state_.text("Tesvano keeps running"),
                                state_.text("Tesvano keeps running without a tray icon"),
                                QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("keptRunning"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(state_.text(
        "Tesvano stays in the background so that your rules and the lock keep working. Start "
        "Tesvano again from the applications menu to open Settings. To stop it now, choose "
        "Quit Tesvano."));
    QPushButton* quitButton = box->addButton(state_.text("Quit Tesvano"), QMessageBox::AcceptRole);
    quitButton->setObjectName(QStringLiteral("quitAnyway"));
    QPushButton* keep = box->addButton(state_.text("Keep Running"), QMessageBox::RejectRole);
    keep->setObjectName(QStringLiteral("keepRunning"));
    box->setDefaultButton(keep);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(quitButton, &QPushButton::clicked, this, [this] {
        // Asked for in so many words: the gate lets it through.
        state_.setTerminationRequested(true);
        if (onQuitKey) {
            onQuitKey();
        }
    });
    box->open();
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    // Closing Settings ends any grant polling the grant button started.
    state_.accessibilityWatcher().stop();
    QWidget::closeEvent(event);
    if (event->isAccepted()) {
        // Nothing of the panes stays in memory while the window is closed.
        releasePanes();
        // Once the event loop has deleted them, unless Settings, or a dialog of theirs, show.
        QTimer::singleShot(500, this, [this] {
            const auto children = findChildren<QWidget*>();
            if (isVisible() || std::ranges::any_of(children, [](const QWidget* child) {
                    return child->isWindow() && child->isVisible();
                })) {
                return;
            }
            QPixmapCache::clear();
            Symbols::releaseIcons();
            // The fonts the panes opened (the language list's Chinese and Japanese names pull
            // in a CJK font of several megabytes) and their glyphs; a font in use is kept, the
            // others are opened again when next drawn.
            QFont::cleanup();
            // The native window and its drawing buffer; showing again makes new ones.
            destroy();
            releaseFreedMemory();
        });
    }
}

void SettingsWindow::showEvent(QShowEvent* event) {
    if (!isPaneBuilt(state_.settingsTab())) {
        pane(state_.settingsTab());
    }
    // Polished for the screen now: the tabs and panes are measured again.
    fitTabTitles();
    fitToPanes(true);
    QWidget::showEvent(event);
    ScreenFit::keepInside(this);
}

void SettingsWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // Placed by the window manager, its frame now known.
    ScreenFit::keepInside(this);
}

}  // namespace tesvano
