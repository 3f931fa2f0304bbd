#pragma once
// 128-bit identifiers written as upper-case canonical text
// ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), the form stored in every file.
// Thread-safety: value type; random() is safe from any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

class Uuid {
public:
    Uuid() = default;  // the nil identifier
    static Uuid random();
    // Accepts either case; returns nullopt for anything but 8-4-4-4-12 hex digits.
    static std::optional<Uuid> parse(std::string_view text);

    std::string string() const;  // upper case
    bool isNil() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace fw
