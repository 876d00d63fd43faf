#include "Tesvano/Menu/TrayMenuRows.h"

#include <QAction>
#include <QBuffer>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <utility>

#include "Tesvano/App/Symbols.h"
#include "Tesvano/Menu/StatusMenu.h"

namespace tesvano {

namespace {

// Keys whose keysym name is not their Qt name in lower case.
const char* namedKey(int key) {
    static const std::pair<int, const char*> names[] = {
        {Qt::Key_Space, "space"},
        {Qt::Key_Tab, "Tab"},
        {Qt::Key_Backspace, "BackSpace"},
        {Qt::Key_Return, "Return"},
        {Qt::Key_Enter, "KP_Enter"},
        {Qt::Key_Escape, "Escape"},
        {Qt::Key_Insert, "Insert"},
        {Qt::Key_Delete, "Delete"},
        {Qt::Key_Home, "Home"},
        {Qt::Key_End, "End"},
        {Qt::Key_PageUp, "Page_Up"},
        {Qt::Key_PageDown, "Page_Down"},
        {Qt::Key_Left, "Left"},
        {Qt::Key_Right, "Right"},
        {Qt::Key_Up, "Up"},
        {Qt::Key_Down, "Down"},
        {Qt::Key_Print, "Print"},
        {Qt::Key_Pause, "Pause"},
        {Qt::Key_Menu, "Menu"},
        {Qt::Key_Comma, "comma"},
        {Qt::Key_Period, "period"},
        {Qt::Key_Slash, "slash"},
        {Qt::Key_Backslash, "backslash"},
        {Qt::Key_Semicolon, "semicolon"},
        {Qt::Key_Apostrophe, "apostrophe"},
        {Qt::Key_QuoteLeft, "grave"},
        {Qt::Key_BracketLeft, "bracketleft"},
        {Qt::Key_BracketRight, "bracketright"},
        {Qt::Key_Minus, "minus"},
        {Qt::Key_Equal, "equal"},
        {Qt::Key_Plus, "plus"},
        {Qt::Key_VolumeUp, "XF86AudioRaiseVolume"},
        {Qt::Key_VolumeDown, "XF86AudioLowerVolume"},
        {Qt::Key_VolumeMute, "XF86AudioMute"},
        {Qt::Key_MediaPlay, "XF86AudioPlay"},
        {Qt::Key_MediaNext, "XF86AudioNext"},
        {Qt::Key_MediaPrevious, "XF86AudioPrev"},
    };
    for (const auto& [qtKey, name] : names) {
        if (qtKey == key) {
            return name;
        }
    }
    return nullptr;
}

std::string keysymName(int key, bool keypad) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        const std::string digit(1, static_cast<char>('0' + (key - Qt::Key_0)));
        return keypad ? "KP_" + digit : digit;
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return std::string(1, static_cast<char>('a' + (key - Qt::Key_A)));
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35) {
        // Appended in two steps: GCC 12 at -O3 takes "F" + a temporary for an overlapping copy.
        std::string name = "F";
        name += std::to_string(key - Qt::Key_F1 + 1);
        return name;
    }
    const char* name = namedKey(key);
    return name != nullptr ? name : "";
}

// The icon as the Qt menu draws it (16 px), or its coverage in `ink`, in PNG as dbusmenu
// carries icons; none for a row without a symbol, and none for the source rows, whose check the
// host draws itself.
std::vector<std::uint8_t> rowIcon(const QAction& action, bool checkable,
                                  const std::optional<QColor>& ink) {
    const QIcon icon = action.icon();
    if (checkable || icon.isNull() || icon.cacheKey() == Symbols::blank().cacheKey()) {
        return {};
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QPixmap pixmap = icon.pixmap(16, 16);
    if (ink) {
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), *ink);
    }
    pixmap.save(&buffer, "PNG");
    return {png.begin(), png.end()};
}

}  // namespace

std::vector<std::string> dbusMenuKeys(const QKeySequence& sequence) {
    if (sequence.isEmpty()) {
        return {};
    }
    const QKeyCombination press = sequence[0];
    const Qt::KeyboardModifiers modifiers = press.keyboardModifiers();
    std::string key = keysymName(press.key(), modifiers.testFlag(Qt::KeypadModifier));
    if (key.empty()) {
        return {};
    }
    std::vector<std::string> keys;
    for (const auto& [modifier, name] :
         {std::pair{Qt::ControlModifier, "Control"}, std::pair{Qt::AltModifier, "Alt"},
          std::pair{Qt::ShiftModifier, "Shift"}, std::pair{Qt::MetaModifier, "Super"}}) {
        if (modifiers.testFlag(modifier)) {
            keys.emplace_back(name);
        }
    }
    keys.push_back(std::move(key));
    return keys;
}

std::vector<platform::TrayMenuRow> trayMenuRows(const QMenu& menu,
                                                std::vector<QPointer<QAction>>& actions,
                                                const std::optional<QColor>& ink) {
    std::vector<platform::TrayMenuRow> rows;
    actions.clear();
    for (QAction* action : menu.actions()) {
        if (!action->isVisible()) {
            continue;
        }
        // Without Qt's mnemonic marks: "&&" is a plain "&".
        QString label = action->text();
        label.replace(QStringLiteral("&&"), QChar(1)).remove(QLatin1Char('&'));
        label.replace(QChar(1), QLatin1Char('&'));
        const bool checkable = action->objectName().startsWith(QStringLiteral("source:"));
        const bool separator = action->isSeparator();
        rows.push_back(platform::TrayMenuRow{
            .label = label.toStdString(),
            .enabled = action->isEnabled(),
            .separator = separator,
            .checkable = checkable,
            .checked = StatusMenu::showsCheck(action),
            .shortcut = separator ? std::vector<std::string>() : dbusMenuKeys(action->shortcut()),
            .iconPng = separator ? std::vector<std::uint8_t>() : rowIcon(*action, checkable, ink),
        });
        actions.emplace_back(action);
    }
    return rows;
}

}  // namespace tesvano
