#include "KeyboardShortcuts/Recorder/MenuItemShortcut.h"

#include <QAction>
#include <QThread>
#include <cctype>

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Recorder/QtInputEvent.h"
#include "KeyboardShortcuts/ShortcutDisplay.h"

namespace KeyboardShortcuts {

namespace {

// Holds a bound item's change observer; a child of the item, so it dies with it.
class Binding final : public QObject {
public:
    using QObject::QObject;
    tesvano::platform::Registration observer;
};

const QString kBindingName = QStringLiteral("KeyboardShortcuts.binding");

Qt::KeyboardModifiers qtModifiers(Modifiers modifiers) {
    Qt::KeyboardModifiers out;
    if (modifiers.contains(Modifiers::super)) {
        out |= Qt::MetaModifier;
    }
    if (modifiers.contains(Modifiers::alt)) {
        out |= Qt::AltModifier;
    }
    if (modifiers.contains(Modifiers::control)) {
        out |= Qt::ControlModifier;
    }
    if (modifiers.contains(Modifiers::shift)) {
        out |= Qt::ShiftModifier;
    }
    return out;
}

}  // namespace

QKeySequence keySequence(const Shortcut& shortcut) {
    Qt::KeyboardModifiers modifiers = qtModifiers(shortcut.modifiers());
    if (auto named = qtKeyFromKeyCode(shortcut.keyCode)) {
        if (named->keypad) {
            modifiers |= Qt::KeypadModifier;
        }
        return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(named->key)));
    }
    const auto text = keyToCharacter(shortcut.keyCode, keyboardLayout());
    if (!text || text->size() != 1) {
        return {};
    }
    const auto c = static_cast<unsigned char>(text->front());
    if (c < 0x21 || c >= 0x7F) {
        return {};
    }
    // Qt names printable keys by their upper-case ASCII code.
    const auto key = static_cast<Qt::Key>(std::toupper(c));
    return QKeySequence(QKeyCombination(modifiers, key));
}

void setShortcut(QAction& item, const std::optional<Shortcut>& shortcut) {
    if (QThread::currentThread() != item.thread()) {
        QMetaObject::invokeMethod(
            &item, [&item, shortcut] { setShortcut(item, shortcut); }, Qt::QueuedConnection);
        return;
    }
    item.setShortcut(shortcut ? keySequence(*shortcut) : QKeySequence());
    // Context menus hide shortcuts on some desktops unless asked.
    item.setShortcutVisibleInContextMenu(shortcut.has_value());
}

void setShortcut(QAction& item, const std::optional<Name>& name) {
    delete item.findChild<QObject*>(kBindingName, Qt::FindDirectChildrenOnly);
    if (!name) {
        setShortcut(item, std::optional<Shortcut>());
        return;
    }
    setShortcut(item, getShortcut(*name));
    auto* binding = new Binding(&item);
    binding->setObjectName(kBindingName);
    binding->observer = observeShortcutByNameDidChange([&item, bound = *name](const Name& changed) {
        if (changed.rawValue == bound.rawValue) {
            setShortcut(item, getShortcut(bound));
        }
    });
}

}  // namespace KeyboardShortcuts
