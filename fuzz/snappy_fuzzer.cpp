// Snappy streams from hostile bytes: decoding either fails cleanly or yields
// exactly the length the stream declares.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "codecs/hap/HapDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const std::span<const std::uint8_t> input(data, size);
    try {
        const auto output = fw::HapDecoder::snappyDecompress(input);
        // The preamble's declared length.
        std::uint64_t declared = 0;
        for (std::size_t i = 0; i < 5 && i < size; ++i) {
            declared |= static_cast<std::uint64_t>(data[i] & 0x7F) << (7 * i);
            if (!(data[i] & 0x80)) break;
        }
        if (output.size() != declared) std::abort();
    } catch (const fw::HapDecoder::DecodeError&) {}
    return 0;
}
