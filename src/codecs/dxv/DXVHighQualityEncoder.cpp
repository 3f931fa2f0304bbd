// High-quality frame coding: the inverse of referenceDecodeHQ in
// DXVHighQualityDecoder.cpp.
//
// Operation codes, one per coded element of a plane:
//   0 run: this and the next r - 1 elements repeat the plane's previous element
//     (r >= 4); data r - 4 as a byte when r <= 258, else 255 and LE16 parts
//     summing to r - 259 (every part but the last 0xFFFF)
//   1 repeat the plane's previous element
//   2 copy the element d back in the same plane; data LE16 d - 1 (d <= 65536)
//   3 literal; data the element's 8 bytes

#include <algorithm>
#include <bit>
#include <memory>
#include <stdexcept>

#include <tbb/parallel_for.h>

#include "codecs/dxv/DXVHighQuality.h"

namespace fw::DXV {
namespace {

inline std::uint64_t elementValue(const HQElement& element) { return loadLE64(element.data()); }

// Exact map from an element value to the latest plane index that held it.
class ElementIndex {
public:
    explicit ElementIndex(std::size_t expected) {
        std::size_t capacity = 64;
        while (capacity < expected * 2) capacity *= 2;
        mask_ = capacity - 1;
        keys_ = std::make_unique<std::uint64_t[]>(capacity);
        indices_ = std::make_unique<std::uint32_t[]>(capacity);
        std::fill_n(indices_.get(), capacity, kEmpty);
    }
    // The stored index, or kEmpty.
    std::uint32_t find(std::uint64_t key) const {
        for (std::size_t slot = hash(key);; slot = (slot + 1) & mask_) {
            if (indices_[slot] == kEmpty) return kEmpty;
            if (keys_[slot] == key) return indices_[slot];
        }
    }
    void set(std::uint64_t key, std::uint32_t index) {
        for (std::size_t slot = hash(key);; slot = (slot + 1) & mask_) {
            if (indices_[slot] == kEmpty || keys_[slot] == key) {
                keys_[slot] = key;
                indices_[slot] = index;
                return;
            }
        }
    }
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;

private:
    std::size_t hash(std::uint64_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
    }
    std::size_t mask_ = 0;
    std::unique_ptr<std::uint64_t[]> keys_;
    std::unique_ptr<std::uint32_t[]> indices_;
};

HQElements interleave(std::span<const HQElement> a, std::span<const HQElement> b) {
    HQElements out(a.size() * 2);
    for (std::size_t k = 0; k < a.size(); ++k) {
        out[2 * k] = a[k];
        out[2 * k + 1] = b[k];
    }
    return out;
}

Bytes assembleSection(std::span<const HQElement> elements, int planes) {
    const HQStreams streams = encodeHQStreams(elements, planes);
    const std::size_t header = planes == 1 ? 8 : 12;
    ByteWriter out(header + streams.data.size() + elements.size() + 8);
    out.appendU32LE(static_cast<std::uint32_t>(streams.data.size() + header));
    for (const Bytes& codes : streams.codes) out.appendU32LE(static_cast<std::uint32_t>(codes.size()));
    out.appendBytes(streams.data);
    for (const Bytes& codes : streams.codes) out.appendBytes(opcodeBlob(codes));
    return out.take();
}

}  // namespace

HQPlaneSizes HQPlaneSizes::of(int width, int height) {
    HQPlaneSizes sizes;
    sizes.lumaWidth = (width + 15) / 16 * 16;
    sizes.lumaHeight = (height + 15) / 16 * 16;
    sizes.chromaWidth = sizes.lumaWidth / 2;
    sizes.chromaHeight = sizes.lumaHeight / 2;
    return sizes;
}

Bytes opcodeBlob(std::span<const std::uint8_t> codes) {
    if (!codes.empty() && std::all_of(codes.begin(), codes.end(), [&](std::uint8_t c) { return c == codes[0]; }))
        return {0x01, codes[0]};
    Bytes blob;
    blob.reserve(codes.size() + 1);
    blob.push_back(0x00);
    blob.insert(blob.end(), codes.begin(), codes.end());
    return blob;
}

HQStreams encodeHQStreams(std::span<const HQElement> elements, int planes) {
    const std::size_t n = elements.size();
    const std::size_t planeCount = static_cast<std::size_t>(planes);
    HQStreams streams;
    ByteWriter data(4 * n);
    streams.codes.resize(planeCount);
    std::vector<ElementIndex> indexes;
    for (std::size_t plane = 0; plane < planeCount; ++plane) {
        streams.codes[plane].reserve(n / planeCount);
        indexes.emplace_back(n / planeCount);
    }
    std::vector<std::size_t> pending(planeCount, 0);

    // Seeds: the first element of each plane, without a code.
    for (std::size_t i = 0; i < planeCount; ++i) {
        data.appendBytes(elements[i]);
        indexes[i].set(elementValue(elements[i]), 0);
    }
    for (std::size_t i = planeCount; i < n; ++i) {
        const std::size_t plane = i % planeCount;
        const std::uint32_t k = static_cast<std::uint32_t>(i / planeCount);
        Bytes& codes = streams.codes[plane];
        if (pending[plane] > 0) {
            --pending[plane];
            continue;
        }
        const HQElement& element = elements[i];
        if (element == elements[i - planeCount]) {
            std::size_t run = 1;
            for (std::size_t j = i + planeCount; j < n && elements[j] == elements[j - planeCount]; j += planeCount)
                ++run;
            if (run < 4) {
                codes.push_back(1);
            } else {
                codes.push_back(0);
                if (run <= 258) {
                    data.appendU8(static_cast<std::uint8_t>(run - 4));
                } else {
                    data.appendU8(255);
                    std::size_t rest = run - 259;
                    while (rest >= 0xFFFF) {
                        data.appendU16LE(0xFFFF);
                        rest -= 0xFFFF;
                    }
                    data.appendU16LE(static_cast<std::uint16_t>(rest));
                }
                pending[plane] = run - 1;
            }
            continue;
        }
        const std::uint64_t value = elementValue(element);
        const std::uint32_t seen = indexes[plane].find(value);
        if (seen != ElementIndex::kEmpty && k - seen - 1 < 65536) {
            codes.push_back(2);
            data.appendU16LE(static_cast<std::uint16_t>(k - seen - 1));
        } else {
            codes.push_back(3);
            data.appendBytes(element);
        }
        indexes[plane].set(value, k);
    }
    streams.data = data.take();
    return streams;
}

Bytes assembleHQSection(std::span<const HQElement> single) { return assembleSection(single, 1); }

Bytes assembleHQSection(std::span<const HQElement> planeA, std::span<const HQElement> planeB) {
    const HQElements elements = interleave(planeA, planeB);
    return assembleSection(elements, 2);
}

Bytes hqFrame(std::span<const HQElement> luma, std::span<const HQElement> alpha, std::span<const HQElement> co,
              std::span<const HQElement> cg, HQFormat format) {
    const Bytes lumaSection = format == HQFormat::yg10 ? assembleHQSection(luma, alpha) : assembleHQSection(luma);
    const Bytes chromaSection = assembleHQSection(co, cg);
    const std::size_t body = lumaSection.size() + chromaSection.size();
    ByteWriter out(body + 12);
    out.appendBytes(tagBytes(format));
    out.appendU32LE(0x00000004);
    out.appendU32LE(static_cast<std::uint32_t>(body));
    out.appendBytes(lumaSection);
    out.appendBytes(chromaSection);
    return out.take();
}

Bytes hqCompressFrame(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, HQFormat format) {
    if (width < 1 || height < 1 || width > kHQMaximumSide || height > kHQMaximumSide)
        throw std::invalid_argument("high-quality frame side outside 1 ... 32768");
    const HQPlaneSizes sizes = HQPlaneSizes::of(width, height);
    const std::size_t lumaStride = static_cast<std::size_t>(sizes.lumaWidth);
    const std::size_t chromaStride = static_cast<std::size_t>(sizes.chromaWidth);
    Bytes luma(lumaStride * sizes.lumaHeight);
    Bytes co(chromaStride * sizes.chromaHeight);
    Bytes cg(co.size());
    auto pixel = [&](int x, int y) {
        return source + static_cast<std::size_t>(std::min(y, height - 1)) * bytesPerRow +
               static_cast<std::size_t>(std::min(x, width - 1)) * 4;
    };

    // Each chroma sample averages its 2x2 cell; the cell's luma is stored on the way.
    // Cells past the right and bottom edges repeat the last column and row.
    tbb::parallel_for(0, sizes.chromaHeight, [&](int j) {
        for (int i = 0; i < sizes.chromaWidth; ++i) {
            int sumCo = 0;
            int sumCg = 0;
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    const std::uint8_t* p = pixel(2 * i + dx, 2 * j + dy);
                    const int b = p[0], g = p[1], r = p[2];
                    luma[(2 * static_cast<std::size_t>(j) + dy) * lumaStride + 2 * i + dx] =
                        static_cast<std::uint8_t>((r + 2 * g + b + 2) >> 2);
                    sumCo += r - b;
                    sumCg += 2 * g - r - b;
                }
            }
            // C++20 shifts of negative values are arithmetic (toward minus infinity).
            const std::size_t at = static_cast<std::size_t>(j) * chromaStride + i;
            co[at] = static_cast<std::uint8_t>(std::clamp((sumCo + 4) >> 3, -128, 127) + 128);
            cg[at] = static_cast<std::uint8_t>(std::clamp((sumCg + 8) >> 4, -128, 127) + 128);
        }
    });

    Bytes alpha;
    if (format == HQFormat::yg10) {
        alpha.resize(luma.size());
        tbb::parallel_for(0, sizes.lumaHeight, [&](int y) {
            std::uint8_t* row = alpha.data() + static_cast<std::size_t>(y) * lumaStride;
            for (int x = 0; x < sizes.lumaWidth; ++x) row[x] = pixel(x, y)[3];
        });
    }

    const HQElements lumaBlocks =
        DXTEncoder::encodeBC4PlaneBlocks(luma.data(), lumaStride, sizes.lumaWidth, sizes.lumaHeight, 4);
    const HQElements alphaBlocks =
        format == HQFormat::yg10
            ? DXTEncoder::encodeBC4PlaneBlocks(alpha.data(), lumaStride, sizes.lumaWidth, sizes.lumaHeight, 4)
            : HQElements{};
    const HQElements coBlocks =
        DXTEncoder::encodeBC4PlaneBlocks(co.data(), chromaStride, sizes.chromaWidth, sizes.chromaHeight, 4);
    const HQElements cgBlocks =
        DXTEncoder::encodeBC4PlaneBlocks(cg.data(), chromaStride, sizes.chromaWidth, sizes.chromaHeight, 4);
    return hqFrame(lumaBlocks, alphaBlocks, coBlocks, cgBlocks, format);
}

}  // namespace fw::DXV
