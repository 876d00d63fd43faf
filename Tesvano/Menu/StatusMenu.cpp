#include "Tesvano/Menu/StatusMenu.h"

#include <QAction>
#include <QMenu>

#include "KeyboardShortcuts/Recorder/MenuItemShortcut.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/ShortcutNames.h"
#include "Tesvano/App/Symbols.h"
#include "TesvanoKit/Languages/TextKey.h"

namespace tesvano {

StatusMenu::StatusMenu(AppState& state, std::function<void()> terminate, QObject* parent)
    : QObject(parent),
      state_(state),
      terminate_(std::move(terminate)),
      menu_(std::make_unique<QMenu>()) {
    menu_->setObjectName(QStringLiteral("statusMenu"));
    rebuild();
    for (auto signal : {&AppState::configChanged, &AppState::availableSourcesChanged,
                        &AppState::languagePreferenceChanged, &AppState::updateStateChanged}) {
        connect(&state_, signal, this, [this] { rebuild(); });
    }
}

StatusMenu::~StatusMenu() = default;

QAction* StatusMenu::item(const QString& name) const {
    for (QAction* action : menu_->actions()) {
        if (action->objectName() == name) {
            return action;
        }
    }
    return nullptr;
}

bool StatusMenu::showsCheck(const QAction* row) {
    return row != nullptr && row->icon().cacheKey() == Symbols::icon("checkmark").cacheKey();
}

void StatusMenu::rebuild() {
    // The old items go later: this may run inside one of their own triggered signals.
    for (QAction* old : menu_->actions()) {
        menu_->removeAction(old);
        old->deleteLater();
    }
    const LockConfiguration& config = state_.config();
    const auto add = [this](const QString& name, const QString& title, const QIcon& icon) {
        auto* action = new QAction(icon, title, menu_.get());
        action->setObjectName(name);
        menu_->addAction(action);
        return action;
    };

    QAction* status =
        add(QStringLiteral("status"), state_.text(config.isEnabled ? "Enabled" : N_("Disabled")),
            Symbols::icon(config.isEnabled ? "lock.fill" : "lock.open.fill"));
    // Choosing it does what the shortcut shown beside it does: locking off or on.
    connect(status, &QAction::triggered, this, [this] { state_.toggleLock(); });
    KeyboardShortcuts::setShortcut(
        *status, std::optional<KeyboardShortcuts::Name>(ShortcutNames::toggleLock()));
    menu_->addSeparator();

    const auto& sources = state_.availableSources();
    for (const InputSource& source : sources) {
        const bool checked = config.isEnabled && config.defaultSourceID == source.id;
        QAction* row = add(QStringLiteral("source:") + QString::fromStdString(source.id.rawValue),
                           QString::fromStdString(source.localizedName),
                           checked ? Symbols::icon("checkmark") : Symbols::blank());
        const InputSourceID id = source.id;
        connect(row, &QAction::triggered, this, [this, checked, id] {
            if (checked) {
                // Choosing the default again clears it; locking stays on.
                state_.setDefaultSourceID(std::nullopt);
            } else {
                state_.lockToSource(id);
            }
        });
    }
    if (!sources.empty()) {
        menu_->addSeparator();
    }

    QAction* settings =
        add(QStringLiteral("settings"), state_.text("Settings…"), Symbols::icon("gearshape"));
    connect(settings, &QAction::triggered, this, [this] {
        if (state_.openSettingsAction) {
            state_.openSettingsAction();
        }
    });

    UpdateController& updater = state_.updateController();
    const bool pending = updater.pendingUpdateVersion().has_value();
    QAction* update = add(QStringLiteral("update"),
                          state_.text(pending ? "Install Update…" : N_("Check for Updates…")),
                          Symbols::icon(pending ? "arrow.down.circle.fill" : "arrow.down.circle"));
    update->setEnabled(updater.canCheckForUpdates());
    connect(update, &QAction::triggered, this,
            [this] { state_.updateController().checkForUpdates(); });

    QAction* about =
        add(QStringLiteral("about"), state_.text("About"), Symbols::icon("info.circle"));
    connect(about, &QAction::triggered, this, [this] { state_.aboutWindow().show(); });

    menu_->addSeparator();

    QAction* quit = add(QStringLiteral("quit"), state_.text("Quit"), Symbols::icon("power"));
    // The desktop's Quit key; Ctrl+Q where the platform binds none.
    const auto quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    quit->setShortcut(quitKeys.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Q) : quitKeys.front());
    quit->setShortcutVisibleInContextMenu(true);
    connect(quit, &QAction::triggered, this, [this] {
        if (!state_.terminationRequested()) {
            state_.setTerminationRequested(true);
        }
        if (terminate_) {
            terminate_();
        }
    });
}

}  // namespace tesvano
