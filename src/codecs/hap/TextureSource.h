#pragma once
// Compressed Hap frames back to pixels: the byte-level half of reading Hap
// (and, beside it, DXV) source movies for re-encoding.
//
// Thread-safety: pure functions; may run concurrently on distinct destinations.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace fw::TextureSource {

// Largest picture side the frame decoders accept (larger ones return false):
// keeps every texture size and index well inside 32-bit ints.
inline constexpr int kMaximumSide = 32768;

// Decodes one Hap frame into width x height BGRA pixels at destination (rows
// bytesPerRow apart). The texture format comes from the frame's own bytes,
// whatever the track's codec type says. Returns false, writing nothing, for a
// malformed frame, an unknown format code, a texture too short to cover the
// picture, a side outside 1 ... kMaximumSide, or memory running out: this is
// where the codecs' exceptions end.
// true means every pixel of the picture was written.
// REQUIRES: destination holds height rows of bytesPerRow >= 4 * width bytes.
bool decodeHapFrame(std::span<const std::uint8_t> frame, int width, int height, std::uint8_t* destination,
                    std::size_t bytesPerRow);

// The padded texture dimensions (W, H) that a raw or decompressed texture of
// textureBytes covers for a width x height picture: the alignment-16 grid when
// the texture is long enough for it, else the alignment-4 grid, else nothing.
std::optional<std::pair<int, int>> gridFitting(std::size_t textureBytes, std::size_t blockBytes, int width, int height);

}  // namespace fw::TextureSource
