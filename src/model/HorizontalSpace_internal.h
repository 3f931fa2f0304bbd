#pragma once
// Trimming of horizontal white space (tab and the Unicode space separators,
// never line breaks) from UTF-8 text, as names and caption counters need.

#include <cstddef>
#include <string_view>

namespace fw::text {

// Byte length of the tab or Unicode space separator (Zs) that begins at
// `text[index]`, or 0 when none does.
inline std::size_t horizontalSpaceAt(std::string_view text, std::size_t index) {
    auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    unsigned char b0 = byte(index);
    if (b0 == ' ' || b0 == '\t') return 1;
    if (b0 == 0xC2 && byte(index + 1) == 0xA0) return 2;                              // U+00A0
    if (b0 == 0xE1 && byte(index + 1) == 0x9A && byte(index + 2) == 0x80) return 3;   // U+1680
    if (b0 == 0xE2 && byte(index + 1) == 0x80) {
        unsigned char b2 = byte(index + 2);
        if ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xAF) return 3;                      // U+2000–U+200A, U+202F
    }
    if (b0 == 0xE2 && byte(index + 1) == 0x81 && byte(index + 2) == 0x9F) return 3;   // U+205F
    if (b0 == 0xE3 && byte(index + 1) == 0x80 && byte(index + 2) == 0x80) return 3;   // U+3000
    return 0;
}

inline std::string_view trimHorizontalSpace(std::string_view text) {
    while (std::size_t length = horizontalSpaceAt(text, 0)) text.remove_prefix(length);
    bool trimmed = true;
    while (trimmed && !text.empty()) {
        trimmed = false;
        // Every character trimmed here is at most 3 bytes long.
        for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
            if (horizontalSpaceAt(text, text.size() - length) == length) {
                text.remove_suffix(length);
                trimmed = true;
                break;
            }
        }
    }
    return text;
}

}  // namespace fw::text
