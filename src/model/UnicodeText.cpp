#include "model/UnicodeText.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/utf8.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace fw {

namespace {
// UTF-16 form for ICU, or nullopt for ill-formed UTF-8.
std::optional<std::vector<UChar>> utf16(std::string_view text) {
    if (text.size() > INT32_MAX / 2) return std::nullopt;
    std::vector<UChar> out(text.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                  static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}
bool isWhitespaceOrNewline(UChar32 c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
    const auto type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}
}  // namespace

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    int32_t begin = 0;
    while (begin < length) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) break;
        begin = next;
    }
    int32_t end = length;
    while (end > begin) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, begin, previous, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) break;
        end = previous;
    }
    return std::string(text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

bool canonicallyEquivalent(std::string_view a, std::string_view b) {
    if (a == b) return true;
    auto wideA = utf16(a);
    auto wideB = utf16(b);
    if (!wideA || !wideB) return false;
    UErrorCode status = U_ZERO_ERROR;
    int32_t order = unorm_compare(wideA->data(), static_cast<int32_t>(wideA->size()), wideB->data(),
                                  static_cast<int32_t>(wideB->size()), 0, &status);
    return U_SUCCESS(status) && order == 0;
}

}  // namespace fw
