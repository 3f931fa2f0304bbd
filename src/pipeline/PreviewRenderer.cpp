#include "pipeline/PreviewRenderer.h"

#include "pipeline/raster/YuvRows.h"
#include "platform/media/PictureConversion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace fw {

using media::PixelBuffer;
using media::PixelFormat;

bool PreviewThrottle::shouldEmit(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (last_) {
        const double elapsed = std::chrono::duration<double>(now - *last_).count();
        if (!(elapsed >= interval_)) return false;
    }
    last_ = now;
    return true;
}

namespace {

// Which source samples make up one output sample, and how much each counts:
// the output sample's footprint [o * ratio, (o + 1) * ratio) in source
// coordinates, each source sample weighted by its overlap.
struct Footprint {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Footprint> footprints(int sourceLength, int outputLength) {
    std::vector<Footprint> result(static_cast<std::size_t>(outputLength));
    const double ratio = static_cast<double>(sourceLength) / outputLength;
    for (int o = 0; o < outputLength; ++o) {
        const double start = o * ratio;
        const double end = std::min((o + 1) * ratio, static_cast<double>(sourceLength));
        auto& f = result[static_cast<std::size_t>(o)];
        f.first = std::min(static_cast<int>(start), sourceLength - 1);
        const int last = std::min(std::max(static_cast<int>(std::ceil(end)) - 1, f.first), sourceLength - 1);
        double total = 0;
        for (int s = f.first; s <= last; ++s) {
            const double overlap = std::min<double>(s + 1, end) - std::max<double>(s, start);
            f.weights.push_back(static_cast<float>(std::max(overlap, 0.0)));
            total += f.weights.back();
        }
        if (total <= 0) {
            f.weights.assign(1, 1.0f);
            total = 1;
        }
        for (auto& w : f.weights) w = static_cast<float>(w / total);
    }
    return result;
}

// Fills one source row as `channels` floats a sample.
using RowReader = std::function<void(int y, float* out)>;

// Area-averages a plane of sourceWidth x sourceHeight samples of `channels`
// floats to outputWidth x outputHeight, row by row.
std::vector<float> resample(int sourceWidth, int sourceHeight, int channels, const RowReader& readRow, int outputWidth,
                            int outputHeight) {
    const auto across = footprints(sourceWidth, outputWidth);
    const auto down = footprints(sourceHeight, outputHeight);
    const std::size_t c = static_cast<std::size_t>(channels);
    std::vector<float> sourceRow(static_cast<std::size_t>(sourceWidth) * c);
    std::vector<float> narrowRow(static_cast<std::size_t>(outputWidth) * c);
    std::vector<float> out(static_cast<std::size_t>(outputWidth) * static_cast<std::size_t>(outputHeight) * c, 0.0f);
    for (int oy = 0; oy < outputHeight; ++oy) {
        const auto& vertical = down[static_cast<std::size_t>(oy)];
        float* target = out.data() + static_cast<std::size_t>(oy) * static_cast<std::size_t>(outputWidth) * c;
        for (std::size_t k = 0; k < vertical.weights.size(); ++k) {
            readRow(vertical.first + static_cast<int>(k), sourceRow.data());
            std::fill(narrowRow.begin(), narrowRow.end(), 0.0f);
            for (int ox = 0; ox < outputWidth; ++ox) {
                const auto& horizontal = across[static_cast<std::size_t>(ox)];
                float* sum = narrowRow.data() + static_cast<std::size_t>(ox) * c;
                const float* from = sourceRow.data() + static_cast<std::size_t>(horizontal.first) * c;
                for (float w : horizontal.weights) {
                    for (std::size_t j = 0; j < c; ++j) sum[j] += w * from[j];
                    from += c;
                }
            }
            const float w = vertical.weights[k];
            for (std::size_t i = 0; i < narrowRow.size(); ++i) target[i] += w * narrowRow[i];
        }
    }
    return out;
}

std::uint8_t toByte(float v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f); }

float halfToFloat(std::uint16_t h) {
    const int exponent = (h >> 10) & 0x1f;
    const int mantissa = h & 0x3ff;
    float value;
    if (exponent == 0) {
        value = std::ldexp(static_cast<float>(mantissa), -24);
    } else if (exponent == 31) {
        value = mantissa ? 0.0f : INFINITY;  // NaN shows as black
    } else {
        value = std::ldexp(static_cast<float>(mantissa | 0x400), exponent - 25);
    }
    return (h & 0x8000) ? -value : value;
}

// Colour premultiplied by alpha (0…1) and alpha in, straight bgra8 out;
// `order` picks the blue, green and red input channels, `colourScale` maps
// the input's colour range to 0…255.
void writePremultiplied(const std::vector<float>& pixels, PixelBuffer& out, const int (&order)[3], float colourScale) {
    for (int y = 0; y < out.height(); ++y) {
        std::uint8_t* row = out.row(y);
        const float* in = pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width()) * 4;
        for (int x = 0; x < out.width(); ++x, in += 4, row += 4) {
            const float alpha = in[3];
            const float unpremultiply = alpha > 0 ? colourScale / alpha : 0.0f;
            row[0] = toByte(in[order[0]] * unpremultiply);
            row[1] = toByte(in[order[1]] * unpremultiply);
            row[2] = toByte(in[order[2]] * unpremultiply);
            row[3] = toByte(alpha * 255.0f);
        }
    }
}

// Straight-alpha B, G, R, A bytes a row, averaged with colour weighted by alpha.
void renderBgraRows(const PixelBuffer& frame, PixelBuffer& out,
                    const std::function<const std::uint8_t*(int y)>& bgraRow) {
    auto pixels = resample(
        frame.width(), frame.height(), 4,
        [&](int y, float* row) {
            const std::uint8_t* in = bgraRow(y);
            for (int x = 0; x < frame.width(); ++x, in += 4, row += 4) {
                const float alpha = in[3] / 255.0f;
                row[0] = in[0] * alpha;
                row[1] = in[1] * alpha;
                row[2] = in[2] * alpha;
                row[3] = alpha;
            }
        },
        out.width(), out.height());
    writePremultiplied(pixels, out, {0, 1, 2}, 1.0f);
}

void renderHalf(const PixelBuffer& frame, PixelBuffer& out) {
    auto pixels = resample(
        frame.width(), frame.height(), 4,
        [&](int y, float* row) {
            const std::uint16_t* in = frame.row<std::uint16_t>(y);
            for (int x = 0; x < frame.width(); ++x, in += 4, row += 4) {
                const float alpha = std::clamp(halfToFloat(in[3]), 0.0f, 1.0f);
                for (int j = 0; j < 3; ++j) row[j] = std::clamp(halfToFloat(in[j]), 0.0f, 1.0f) * alpha;
                row[3] = alpha;
            }
        },
        out.width(), out.height());
    writePremultiplied(pixels, out, {2, 1, 0}, 255.0f);  // R G B in, B G R out
}

}  // namespace

media::PixelBufferRef PreviewRenderer::downscaledImage(const PixelBuffer& frame, double maxDimension) {
    if (!(maxDimension > 0) || !std::isfinite(maxDimension)) return nullptr;
    const int longer = std::max(frame.width(), frame.height());
    const double scale = maxDimension / longer;
    int width = frame.width(), height = frame.height();
    if (scale < 1.0) {
        width = std::max(1, static_cast<int>(std::lround(width * scale)));
        height = std::max(1, static_cast<int>(std::lround(height * scale)));
    }
    auto out = PixelBuffer::create(width, height, PixelFormat::bgra8);
    if (!out) return nullptr;
    switch (frame.format()) {
    case PixelFormat::bgra8: renderBgraRows(frame, *out, [&](int y) { return frame.row(y); }); break;
    case PixelFormat::x420: {
        // Each row through the frame resizer's conversion first.
        std::vector<std::uint8_t> row(static_cast<std::size_t>(frame.width()) * 4);
        renderBgraRows(frame, *out, [&](int y) {
            raster::x420RowToBgra(frame, y, 0, frame.width(), row.data());
            return row.data();
        });
        break;
    }
    case PixelFormat::i420:
    case PixelFormat::x422: {
        auto bgra = PixelBuffer::create(frame.width(), frame.height(), PixelFormat::bgra8);
        if (!bgra) return nullptr;
        media::convertToBgra(media::planesOf(const_cast<PixelBuffer&>(frame)), frame.yCbCrMatrix(), *bgra);
        renderBgraRows(*bgra, *out, [&](int y) { return bgra->row(y); });
        break;
    }
    case PixelFormat::rgbaHalf: renderHalf(frame, *out); break;
    }
    return out;
}

}  // namespace fw
