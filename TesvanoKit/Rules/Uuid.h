#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tesvano {

// A 128-bit identifier in its standard 36-character hyphenated text form.
class Uuid {
public:
    Uuid() = default;  // the nil UUID
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    // A random (version 4) UUID.
    static Uuid random();
    // Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in either letter case; anything else fails.
    static std::optional<Uuid> parse(std::string_view text);

    // Upper-case hexadecimal, hyphenated.
    std::string string() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    auto operator<=>(const Uuid&) const = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace tesvano

template <>
struct std::hash<tesvano::Uuid> {
    std::size_t operator()(const tesvano::Uuid& u) const noexcept {
        std::size_t h = 1469598103934665603ULL;
        for (auto b : u.bytes()) {
            h = (h ^ b) * 1099511628211ULL;
        }
        return h;
    }
};
