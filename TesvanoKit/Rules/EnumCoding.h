#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace tesvano {

// Each stored enumeration specialises this with its cases, in declaration order, and their
// raw (stored) strings.
template <typename E>
struct EnumTable;

template <typename E>
constexpr std::string_view rawValue(E value) {
    for (const auto& [c, raw] : EnumTable<E>::entries) {
        if (c == value) {
            return raw;
        }
    }
    return {};
}

// Exact, case-sensitive match of the raw string; an unknown string gives none.
template <typename E>
constexpr std::optional<E> enumFromRawValue(std::string_view raw) {
    for (const auto& [c, r] : EnumTable<E>::entries) {
        if (r == raw) {
            return c;
        }
    }
    return std::nullopt;
}

template <typename E>
constexpr auto allCases() {
    std::array<E, EnumTable<E>::entries.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = EnumTable<E>::entries[i].first;
    }
    return out;
}

}  // namespace tesvano
