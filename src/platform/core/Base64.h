#pragma once
// Standard Base64 (RFC 4648, with padding), the form of byte data in stored JSON.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw::base64 {

std::string encode(const std::uint8_t* data, std::size_t size);
inline std::string encode(std::string_view bytes) {
    return encode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}
// Returns nullopt for characters outside the alphabet or a malformed length.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

}  // namespace fw::base64
