#include "platform/core/Uuid.h"

#include <random>

namespace fw {

Uuid Uuid::random() {
    thread_local std::mt19937_64 engine{[] {
        std::random_device device;
        std::seed_seq seq{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seq);
    }()};
    Uuid id;
    for (int i = 0; i < 16; i += 8) {
        std::uint64_t v = engine();
        for (int b = 0; b < 8; ++b) id.bytes_[i + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    id.bytes_[6] = static_cast<std::uint8_t>((id.bytes_[6] & 0x0F) | 0x40);  // version 4
    id.bytes_[8] = static_cast<std::uint8_t>((id.bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return id;
}

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Uuid id;
    int byte = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        id.bytes_[byte++] = static_cast<std::uint8_t>(hi << 4 | lo);
        i += 2;
    }
    return id;
}

std::string Uuid::string() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(kDigits[bytes_[i] >> 4]);
        out.push_back(kDigits[bytes_[i] & 0xF]);
    }
    return out;
}

bool Uuid::isNil() const {
    for (auto b : bytes_)
        if (b) return false;
    return true;
}

}  // namespace fw
