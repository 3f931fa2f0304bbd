#include "platform/core/UnicodeSpace.h"

namespace fw::text {

namespace {

unsigned byteAt(std::string_view text, std::size_t index) {
    return index < text.size() ? static_cast<unsigned char>(text[index]) : 0u;
}

template <typename IsBlank>
std::string_view trim(std::string_view text, IsBlank isBlank) {
    while (std::size_t length = isBlank(text, 0)) text.remove_prefix(length);
    // Every blank is at most 3 bytes long, and none begins inside another, so
    // matching backwards from the end finds the same blanks as reading forwards.
    bool trimmed = true;
    while (trimmed && !text.empty()) {
        trimmed = false;
        for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
            if (isBlank(text, text.size() - length) == length) {
                text.remove_suffix(length);
                trimmed = true;
                break;
            }
        }
    }
    return text;
}

}  // namespace

std::size_t horizontalSpaceAt(std::string_view text, std::size_t index) {
    const unsigned b0 = byteAt(text, index), b1 = byteAt(text, index + 1), b2 = byteAt(text, index + 2);
    if (b0 == ' ' || b0 == '\t') return 1;
    if (b0 == 0xC2 && b1 == 0xA0) return 2;                                                // U+00A0
    if (b0 == 0xE1 && b1 == 0x9A && b2 == 0x80) return 3;                                  // U+1680
    if (b0 == 0xE2 && b1 == 0x80 && ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xAF)) return 3;  // U+2000–U+200A, U+202F
    if (b0 == 0xE2 && b1 == 0x81 && b2 == 0x9F) return 3;                                  // U+205F
    if (b0 == 0xE3 && b1 == 0x80 && b2 == 0x80) return 3;                                  // U+3000
    return 0;
}

std::size_t lineBreakAt(std::string_view text, std::size_t index) {
    const unsigned b0 = byteAt(text, index), b1 = byteAt(text, index + 1), b2 = byteAt(text, index + 2);
    if (b0 == '\r') return b1 == '\n' ? 2 : 1;
    if (b0 == '\n' || b0 == '\v' || b0 == '\f') return 1;
    if (b0 == 0xC2 && b1 == 0x85) return 2;                                // NEL
    if (b0 == 0xE2 && b1 == 0x80 && (b2 == 0xA8 || b2 == 0xA9)) return 3;  // U+2028, U+2029
    return 0;
}

std::string_view trimHorizontalSpace(std::string_view text) { return trim(text, horizontalSpaceAt); }

std::string_view trimSpaceAndLineBreaks(std::string_view text) {
    return trim(text, [](std::string_view t, std::size_t i) {
        const std::size_t space = horizontalSpaceAt(t, i);
        return space != 0 ? space : lineBreakAt(t, i);
    });
}

}  // namespace fw::text
