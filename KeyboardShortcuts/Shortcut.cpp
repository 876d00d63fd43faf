#include "KeyboardShortcuts/Shortcut.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace KeyboardShortcuts {

Shortcut::Shortcut(std::int64_t code, std::int64_t bits)
    : keyCode(code), modifierBits(bitsFromModifiers(modifiersFromBits(bits))) {}

Shortcut::Shortcut(Key key, Modifiers modifiers)
    : keyCode(key.rawValue), modifierBits(bitsFromModifiers(modifiers)) {}

std::optional<Shortcut> Shortcut::fromEvent(const InputEvent& event) {
    if ((event.type != InputEvent::Type::keyDown && event.type != InputEvent::Type::keyUp) ||
        !event.keyCode) {
        return std::nullopt;
    }
    return Shortcut(Key(*event.keyCode), event.modifierFlags);
}

std::optional<Shortcut> Shortcut::decode(std::string_view json) {
    const auto value = nlohmann::json::parse(json, nullptr, false);
    if (!value.is_object()) {
        return std::nullopt;
    }
    auto integer = [&](const char* key) -> std::optional<std::int64_t> {
        auto it = value.find(key);
        if (it == value.end() || !it->is_number_integer()) {
            return std::nullopt;
        }
        if (it->is_number_unsigned() &&
            it->get<std::uint64_t>() >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return it->get<std::int64_t>();
    };
    const auto code = integer("carbonKeyCode");
    const auto bits = integer("carbonModifiers");
    if (!code || !bits) {
        return std::nullopt;
    }
    Shortcut shortcut;
    shortcut.keyCode = *code;
    shortcut.modifierBits = *bits;
    return shortcut;
}

std::string Shortcut::encode() const {
    nlohmann::ordered_json json;
    json["carbonKeyCode"] = keyCode;
    json["carbonModifiers"] = modifierBits;
    return json.dump();
}

}  // namespace KeyboardShortcuts
