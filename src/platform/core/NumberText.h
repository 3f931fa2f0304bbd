#pragma once
// Locale-independent number text for files, messages and protocols. The GUI
// toolkit sets the process locale; a decimal comma must never reach a file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

// Shortest text that reads back to the same double ("0.1", "29.97", "2").
std::string formatNumber(double value);
// Fixed number of decimals, as printf's "%.*f" in the C locale.
std::string formatFixed(double value, int decimals);
// Whole input must be a number (leading '+' and surrounding blanks allowed).
std::optional<double> parseNumber(std::string_view text);
// The one strict integer reading: an optional '+' or '-', then one or more
// ASCII digits and nothing else (no blanks), within the signed 64-bit range.
std::optional<std::int64_t> parseInteger(std::string_view text);

}  // namespace fw
