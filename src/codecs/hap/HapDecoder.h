#pragma once
// Hap frame reader: plain, Snappy-compressed and chunked (complex) frames back
// to their DXT texture, with the system's own Snappy decompressor. Layout:
// HapFormat.h.
//
// Frames are hostile input: every length is checked against the bytes left and
// summed in 64 bits; the Snappy output is reserved only up to what its input
// could produce; a complex frame's chunks (which may overlap through their
// offsets) may not add up to more than maxTextureBytes.
//
// Thread-safety: pure functions, safe to call from several threads at once.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codecs/MalformedInput.h"

namespace fw::HapDecoder {

// Every malformed input ends in this error; what() is "malformed Hap frame: "
// followed by detail().
class DecodeError : public MalformedInput {
public:
    explicit DecodeError(std::string detail);
    const std::string& detail() const { return detail_; }

private:
    std::string detail_;
};

struct DecodedFrame {
    std::uint8_t formatCode = 0;  // low nibble of the top-level section type, unchecked
    std::vector<std::uint8_t> texture;
};

// A texture the size of the largest picture (32768 x 32768 at one byte per
// pixel): the default bound on a complex frame's output.
inline constexpr std::size_t kMaxTextureBytes = std::size_t{1} << 30;

// Throws DecodeError for a malformed frame, std::bad_alloc when memory runs out.
DecodedFrame decodeFrame(std::span<const std::uint8_t> frame, std::size_t maxTextureBytes = kMaxTextureBytes);

// The frame's texture without a copy when it is stored uncompressed: the
// returned span points into frame, or into storage (overwritten) otherwise.
struct FrameView {
    std::uint8_t formatCode = 0;
    std::span<const std::uint8_t> texture;
};
FrameView decodeFrame(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& storage,
                      std::size_t maxTextureBytes = kMaxTextureBytes);

// One Snappy raw-format stream. Throws DecodeError ("snappy ..." details).
std::vector<std::uint8_t> snappyDecompress(std::span<const std::uint8_t> input);

// As snappyDecompress, appending to output; refuses ("texture too large")
// before growing output past maxOutputBytes in total. On a throw, output holds
// unspecified bytes.
void snappyDecompressAppend(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                            std::size_t maxOutputBytes);

}  // namespace fw::HapDecoder
