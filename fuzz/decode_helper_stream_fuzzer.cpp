// Decode-helper streams from hostile bytes: reading either ends at an end
// message, or fails with a DecodeHelperStreamError, never reading past the
// input, handing out sound that is not whole frames or larger than a chunk, or
// writing a picture's payload beyond the header's frame. The first input byte
// sets how many bytes each pipe read yields, so that partial reads are
// explored too.

#include "platform/core/DecodeHelperStream.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const std::size_t readSize = static_cast<std::size_t>(data[0] % 61) + 1;
    std::span<const std::uint8_t> input(data + 1, size - 1);
    fw::DecodeHelperStream stream([&](std::span<std::uint8_t> bytes) {
        const std::size_t count = std::min({bytes.size(), input.size(), readSize});
        std::memcpy(bytes.data(), input.data(), count);
        input = input.subspan(count);
        return count;
    });
    try {
        const fw::DecodeHelperHeader& header = stream.readHeader();
        if (header.width < 1 || header.height < 1 || !(header.frameRate > 0)) std::abort();
        // The header may ask for pictures up to 32768 a side; only small ones are kept.
        constexpr std::size_t kLargestKept = 1 << 20;
        std::vector<std::uint8_t> picture;
        for (;;) {
            switch (stream.next()) {
            case fw::DecodeHelperStream::Part::audio:
                if (stream.audio().empty() || stream.audio().size() > fw::DecodeHelperStream::kAudioChunkBytes ||
                    stream.audio().size() % header.audioFrameBytes() != 0)
                    std::abort();
                break;
            case fw::DecodeHelperStream::Part::picture:
                if (header.frameBytes() > kLargestKept) {
                    stream.skipPicture();
                } else {
                    // A stride wider than the row, as pixel buffers have.
                    const std::size_t stride = static_cast<std::size_t>(header.width) * 4 + 12;
                    picture.assign(stride * static_cast<std::size_t>(header.height), 0);
                    stream.readPicture(picture.data(), stride);
                }
                break;
            case fw::DecodeHelperStream::Part::end: return 0;
            }
        }
    } catch (const fw::DecodeHelperStreamError&) {}
    return 0;
}
