// LZF: foreign streams through the decoder (the size pass and the writing
// pass must agree), and the input as plain data through a compress and
// decompress round trip.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "codecs/dxv/DXVLZF.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1 << 20)) return 0;
    const fw::DXV::ByteSpan input(data, size);
    std::optional<fw::DXV::Bytes> decoded;
    std::optional<std::size_t> decodedSize;
    try {
        decoded = fw::DXV::decompressLZF(input);
    } catch (const fw::MalformedInput&) {}
    try {
        decodedSize = fw::DXV::decompressedSizeLZF(input);
    } catch (const fw::MalformedInput&) {}
    if (decoded.has_value() != decodedSize.has_value() || (decoded && decoded->size() != *decodedSize)) std::abort();
    if (decoded && decoded->size() > 88 * size) std::abort();
    if (decoded && size > 0) {
        const auto head = fw::DXV::decompressLZF(input, decoded->size() / 2);
        if (!std::equal(head.begin(), head.end(), decoded->begin())) std::abort();
    }

    const fw::DXV::Bytes stream = fw::DXV::compressLZF(input);
    const auto back = fw::DXV::decompressLZF(stream);
    if (!std::equal(back.begin(), back.end(), data, data + size) || back.size() != size) std::abort();
    return 0;
}
