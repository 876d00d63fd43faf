#include "KeyboardShortcuts/Recorder/MainMenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <utility>

#include "KeyboardShortcuts/Recorder/QtInputEvent.h"

namespace KeyboardShortcuts {

namespace {

MainMenuProvider& provider() {
    static MainMenuProvider stored;
    return stored;
}

// "&Quit" shows as "Quit", "Save && Close" as "Save & Close".
std::string plainTitle(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
        }
        out += text[i];
    }
    return out.toStdString();
}

constexpr Modifiers kShortcutModifiers =
    Modifiers::shift | Modifiers::control | Modifiers::alt | Modifiers::super;

std::string keyEquivalent(Qt::Key key) {
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) {
        return std::string(1, static_cast<char>(QChar(key).toLower().unicode()));
    }
    return {};
}

}  // namespace

void setMainMenuProvider(MainMenuProvider newProvider) {
    provider() = std::move(newProvider);
}

std::vector<MenuItem> mainMenu() {
    return provider() ? provider()() : std::vector<MenuItem>{};
}

std::vector<MenuItem> menuItems(const QMenu& menu) {
    std::vector<MenuItem> out;
    for (QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            continue;
        }
        MenuItem item;
        item.title = plainTitle(action->text());
        if (action->menu() != nullptr) {
            item.submenu = menuItems(*action->menu());
        }
        const QList<QKeySequence> shortcuts = action->shortcuts();
        if (shortcuts.isEmpty()) {
            out.push_back(std::move(item));
            continue;
        }
        // One entry per shortcut, so that any of them counts as taken.
        for (const QKeySequence& sequence : shortcuts) {
            MenuItem entry = item;
            if (sequence.count() == 1) {
                const QKeyCombination combination = sequence[0];
                entry.keyEquivalent = keyEquivalent(combination.key());
                entry.modifierMask =
                    modifiersFromQt(static_cast<int>(combination.keyboardModifiers().toInt())) &
                    kShortcutModifiers;
            }
            out.push_back(std::move(entry));
        }
    }
    return out;
}

}  // namespace KeyboardShortcuts
