#pragma once
// The one table of Unicode blanks for UTF-8 text: horizontal space (tab and
// the space separators, Zs) and line breaks (LF, VT, FF, CR, NEL and the line
// and paragraph separators). Names, caption counters, presets and .cube lines
// all trim with it. Invalid UTF-8 is never a blank.
// Thread-safety: pure functions, safe from any thread.

#include <cstddef>
#include <string_view>

namespace fw::text {

// Byte length of the tab or space separator that begins at `text[index]`
// (U+0020, U+00A0, U+1680, U+2000–U+200A, U+202F, U+205F, U+3000), or 0.
std::size_t horizontalSpaceAt(std::string_view text, std::size_t index);
// Byte length of the line break that begins at `text[index]` (CR LF counts as
// one break of 2 bytes), or 0.
std::size_t lineBreakAt(std::string_view text, std::size_t index);

// `text` without horizontal space at either end; line breaks stay.
std::string_view trimHorizontalSpace(std::string_view text);
// `text` without horizontal space or line breaks at either end.
std::string_view trimSpaceAndLineBreaks(std::string_view text);

}  // namespace fw::text
