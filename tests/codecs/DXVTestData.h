#pragma once
// Generated inputs for the DXV coder tests: textures whose blocks, half blocks
// and words recur at every distance the coders can express, and pictures.

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace fw::test {

using ByteVector = std::vector<std::uint8_t>;

// A texture of blockCount blocks of blockBytes (8 or 16). Blocks are new, or
// repeat the previous block, or reuse a whole block, a half or a single word
// from a random earlier block (near or far), so every code path is exercised.
inline ByteVector reuseTexture(std::size_t blockCount, std::size_t blockBytes, std::uint32_t seed,
                               std::size_t farthestBlock = 70000) {
    std::mt19937 random(seed);
    ByteVector texture(blockCount * blockBytes);
    auto block = [&](std::size_t k) { return texture.data() + k * blockBytes; };
    for (std::size_t k = 0; k < blockCount; ++k) {
        std::uint8_t* out = block(k);
        for (std::size_t i = 0; i < blockBytes; ++i) out[i] = static_cast<std::uint8_t>(random());
        if (k == 0) continue;
        const unsigned kind = random() % 10;
        const std::size_t reach = std::min<std::size_t>(k, (random() % 4 == 0) ? farthestBlock : 300);
        const std::size_t source = k - 1 - random() % reach;
        const std::size_t half = blockBytes / 2;
        switch (kind) {
        case 0:
        case 1: std::memcpy(out, block(k - 1), blockBytes); break;                            // repeat
        case 2: std::memcpy(out, block(source), blockBytes); break;                           // whole block
        case 3: std::memcpy(out, block(source), half); break;                                 // first half
        case 4: std::memcpy(out + half, block(source) + half, half); break;                   // second half
        case 5: std::memcpy(out + blockBytes - 8, block(source) + blockBytes - 8, 4); break;  // a colour word
        case 6: std::memcpy(out + blockBytes - 4, block(source) + blockBytes - 4, 4); break;
        case 7: std::memcpy(out, block(k - 1), half); break;  // same first half as the previous
        default: break;                                       // new
        }
    }
    return texture;
}

// Data that LZF can shrink: words from a small vocabulary with occasional noise.
inline ByteVector compressibleBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    static const char* const words[] = {"block ", "texture ", "frame ",  "\x00\x00\x00\x00",
                                        "DXT1 ",  "alpha ",   "\xff\xfe"};
    ByteVector out;
    out.reserve(size + 16);
    while (out.size() < size) {
        if (random() % 8 == 0) {
            out.push_back(static_cast<std::uint8_t>(random()));
        } else {
            const char* word = words[random() % 7];
            const std::size_t length = word[0] == 0 ? 4 : std::strlen(word);
            out.insert(out.end(), word, word + length);
        }
    }
    out.resize(size);
    return out;
}

}  // namespace fw::test
