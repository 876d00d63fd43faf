#include "KeyboardShortcuts/Recorder/MenuModeFilter.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <algorithm>

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Library.h"
#include "KeyboardShortcuts/Recorder/QtInputEvent.h"

namespace KeyboardShortcuts {

namespace {

using RawKeyKind = HotKeyRegistrar::RawKeyKind;

bool isRegistered(const Shortcut& shortcut) {
    const auto entries = hotKeyRegistrar().entries();
    return std::any_of(entries.begin(), entries.end(),
                       [&](const auto& entry) { return entry.shortcut == shortcut; });
}

}  // namespace

MenuModeFilter::MenuModeFilter(QObject* parent) : QObject(parent) {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->installEventFilter(this);
    }
}

MenuModeFilter::~MenuModeFilter() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    if (!openMenus_.isEmpty() && Library::isInstalled()) {
        setMenuOpen(false);
    }
}

int MenuModeFilter::openMenuCount() const {
    return static_cast<int>(openMenus_.size());
}

bool MenuModeFilter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::Show && type != QEvent::Hide && type != QEvent::KeyPress &&
        type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) {
        return false;
    }
    // Only menus that pop up grab the keyboard; a torn-off menu is an ordinary window.
    auto* menu = qobject_cast<QMenu*>(watched);
    if (menu == nullptr || menu->windowType() != Qt::Popup) {
        return false;
    }
    switch (type) {
        case QEvent::Show:
            menuShown(menu);
            return false;
        case QEvent::Hide:
            menuHidden(menu);
            return false;
        default:
            return handleKey(static_cast<QKeyEvent*>(event));
    }
}

void MenuModeFilter::menuShown(QMenu* menu) {
    if (openMenus_.contains(menu)) {
        return;
    }
    openMenus_.append(menu);
    if (!watchedMenus_.contains(menu)) {
        // A menu destroyed while open may send no hide event.
        watchedMenus_.insert(menu);
        connect(menu, &QObject::destroyed, this, [this](QObject* gone) {
            watchedMenus_.remove(gone);
            menuHidden(nullptr);
        });
    }
    applyMode();
}

void MenuModeFilter::menuHidden(QMenu* menu) {
    openMenus_.removeIf([menu](const QPointer<QMenu>& open) { return open == menu || !open; });
    applyMode();
}

void MenuModeFilter::applyMode() {
    if (openMenus_.isEmpty()) {
        pressed_.clear();
    }
    if (Library::isInstalled()) {
        setMenuOpen(!openMenus_.isEmpty());
    }
}

bool MenuModeFilter::handleKey(QKeyEvent* event) {
    if (openMenus_.isEmpty() || !Library::isInstalled() || !isMenuOpen() || !isEnabled()) {
        return false;
    }
    const InputEvent input = inputEventFromQt(*event);
    if (!input.keyCode || input.type == InputEvent::Type::flagsChanged) {
        return false;
    }
    const std::int64_t keyCode = *input.keyCode;
    const std::int64_t modifiers = bitsFromModifiers(input.modifierFlags);
    const auto held = pressed_.find(keyCode);
    auto& registrar = hotKeyRegistrar();

    switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Keeps the menu's actions from taking the key before the press arrives.
            if (held != pressed_.end() || isRegistered(Shortcut(keyCode, modifiers))) {
                event->accept();
                return true;
            }
            return false;
        case QEvent::KeyPress:
            if (event->isAutoRepeat()) {
                // No new press, and not for the menu either: a held shortcut must not
                // trigger the item that happens to share it.
                registrar.handleRawKeyEvent(RawKeyKind::autoRepeat, keyCode, modifiers);
                return held != pressed_.end() || isRegistered(Shortcut(keyCode, modifiers));
            }
            if (registrar.handleRawKeyEvent(RawKeyKind::keyDown, keyCode, modifiers)) {
                pressed_[keyCode] = modifiers;
                return true;
            }
            return false;
        case QEvent::KeyRelease:
            if (event->isAutoRepeat()) {
                return held != pressed_.end();
            }
            if (held != pressed_.end()) {
                const std::int64_t pressedModifiers = held->second;
                pressed_.erase(held);
                registrar.handleRawKeyEvent(RawKeyKind::keyUp, keyCode, pressedModifiers);
                return true;
            }
            // Pressed before the menu opened, released inside it.
            return registrar.handleRawKeyEvent(RawKeyKind::keyUp, keyCode, modifiers);
        default:
            return false;
    }
}

}  // namespace KeyboardShortcuts
