#include "model/UnicodeText.h"

#include "platform/core/UnicodeSpace.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

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
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length, text.data(), static_cast<int32_t>(text.size()),
                  &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}
}  // namespace

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
    return std::string(text::trimSpaceAndLineBreaks(text));
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
