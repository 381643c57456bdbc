#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace parlo {

// A 128-bit identifier, written as the canonical upper-case 8-4-4-4-12 text.
class Uuid {
public:
    Uuid() = default;

    // A random version-4 identifier.
    static Uuid random();
    // Accepts the canonical form in either case; anything else gives no value.
    static std::optional<Uuid> parse(std::string_view text);

    std::string toString() const;
    bool isNull() const { return bytes_ == std::array<std::uint8_t, 16>{}; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

} // namespace parlo
