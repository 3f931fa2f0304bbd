#pragma once
// Hap frame writer: wraps one DXT texture as one Hap frame (a single section,
// no second-stage compression). Layout: HapFormat.h.
//
// Thread-safety: pure function.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "codecs/hap/HapFormat.h"

namespace fw::Hap {

// The frame of a texture with a format code (kFormatDXT1, kFormatDXT5 or
// kFormatScaledYCoCgDXT5): type formatCode | 0xA0, long form for textures of
// 2^24 bytes or more and for empty ones, short form otherwise.
// REQUIRES: texture.size() < 2^32 (a longer texture cannot be stored in a
// section; std::length_error is thrown).
std::vector<std::uint8_t> frame(std::span<const std::uint8_t> texture, std::uint8_t formatCode);
// The same frame for a texture of textureBytes that writeTexture fills in
// place (handed the frame's texture bytes, zeroed), saving a copy.
std::vector<std::uint8_t> frame(std::size_t textureBytes, std::uint8_t formatCode,
                                const std::function<void(std::span<std::uint8_t>)>& writeTexture);
// The same frame made in `into`, a buffer kept from an earlier frame so that its
// memory is reused: writeTexture must then write every texture byte (it is
// handed whatever the buffer held).
void frameInto(std::vector<std::uint8_t>& into, std::size_t textureBytes, std::uint8_t formatCode,
               const std::function<void(std::span<std::uint8_t>)>& writeTexture);

}  // namespace fw::Hap
