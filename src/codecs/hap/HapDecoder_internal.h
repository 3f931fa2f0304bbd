#pragma once
// Shared pieces of the Hap reader's translation units.

#include <cstdint>
#include <string>

namespace fw::HapDecoder::detail {

[[noreturn, gnu::cold, gnu::noinline]] void fail(const char* detail);
[[noreturn, gnu::cold, gnu::noinline]] void fail(std::string detail);

// Lower-case hexadecimal without leading zeros ("d0", "0").
std::string hex(unsigned value);

}  // namespace fw::HapDecoder::detail
