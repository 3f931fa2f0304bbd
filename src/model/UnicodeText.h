#pragma once
// Text comparison as users see it: canonically equivalent texts (a
// precomposed and a decomposed accented letter) are equal; letter case counts.
// Thread-safety: pure functions, safe from any thread.

#include <optional>
#include <string>
#include <string_view>

namespace fw {

// Canonical equivalence of two UTF-8 texts; texts that are not valid UTF-8
// are equal only when their bytes are.
bool canonicallyEquivalent(std::string_view a, std::string_view b);

// Two absent texts are equal; an absent and a present one (even empty) differ.
inline bool canonicallyEquivalent(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (!a || !b) return a.has_value() == b.has_value();
    return canonicallyEquivalent(std::string_view(*a), std::string_view(*b));
}

// `text` without white space and line breaks at either end: tab, line feed
// through carriage return, U+0085 and the Unicode space, line and paragraph
// separators (U+00A0, U+2003, U+3000, ...).
std::string trimmingWhitespaceAndNewlines(std::string_view text);

}  // namespace fw
