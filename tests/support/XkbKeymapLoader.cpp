#include "tests/support/XkbKeymapLoader.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/XKBlib.h>
// clang-format on

namespace tesvano::test {

namespace {

std::string withVariant(const KeymapLayout& l) {
    return l.variant.empty() ? l.layout : l.layout + "(" + l.variant + ")";
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

bool isName(std::string_view s) {
    if (s.empty()) {
        return false;
    }
    for (char c : s) {
        if (!isNameChar(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::expected<KeymapLayout, std::string> parseKeymapLayout(std::string_view text) {
    KeymapLayout out;
    const auto open = text.find('(');
    out.layout = std::string(text.substr(0, open));
    if (open != std::string_view::npos) {
        if (!text.ends_with(')')) {
            return std::unexpected("unbalanced parenthesis in \"" + std::string(text) + "\"");
        }
        out.variant = std::string(text.substr(open + 1, text.size() - open - 2));
        if (!isName(out.variant)) {
            return std::unexpected("bad variant in \"" + std::string(text) + "\"");
        }
    }
    if (!isName(out.layout)) {
        return std::unexpected("bad layout \"" + std::string(text) + "\"");
    }
    return out;
}

std::expected<void, std::string> loadKeymap(_XDisplay* display,
                                            const std::vector<KeymapLayout>& layouts) {
    if (layouts.empty() || layouts.size() > XkbNumKbdGroups) {
        return std::unexpected("a keymap holds one to four layouts");
    }
    std::string symbols = "pc";
    std::string layoutList;
    std::string variantList;
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        symbols += "+" + withVariant(layouts[i]);
        if (i > 0) {
            symbols += ":" + std::to_string(i + 1);
            layoutList += ",";
            variantList += ",";
        }
        layoutList += layouts[i].layout;
        variantList += layouts[i].variant;
    }
    symbols += "+inet(evdev)";

    // The names first: a client that re-reads on the new-keyboard notification sees them.
    std::string names;
    for (const std::string& field :
         {std::string("evdev"), std::string("pc105"), layoutList, variantList, std::string()}) {
        names += field;
        names.push_back('\0');
    }
    const Atom atom = XInternAtom(display, "_XKB_RULES_NAMES", False);
    XChangeProperty(display, DefaultRootWindow(display), atom, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(names.data()),
                    static_cast<int>(names.size()));

    std::string keycodes = "evdev+aliases(qwerty)";
    std::string types = "complete";
    std::string compat = "complete";
    XkbComponentNamesRec components{};
    components.keycodes = keycodes.data();
    components.types = types.data();
    components.compat = compat.data();
    components.symbols = symbols.data();
    XkbDescPtr loaded =
        XkbGetKeyboardByName(display, XkbUseCoreKbd, &components, XkbGBN_AllComponentsMask,
                             XkbGBN_AllComponentsMask & ~XkbGBN_GeometryMask, True);
    if (loaded == nullptr) {
        return std::unexpected("the server could not load the keymap " + symbols);
    }
    XkbFreeKeyboard(loaded, XkbAllComponentsMask, True);
    XSync(display, False);
    return {};
}

}  // namespace tesvano::test
