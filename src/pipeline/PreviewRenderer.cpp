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

// Adds `weight` times source row y, as `channels` floats a sample, to `sum`.
using RowReader = std::function<void(int y, float weight, float* sum)>;

// Area-averages a plane of sourceWidth x sourceHeight samples of `channels`
// floats to outputWidth x outputHeight: the rows of each output row summed
// first (a loop over adjacent samples), then that one row narrowed.
template <int channels>
std::vector<float> resample(int sourceWidth, int sourceHeight, const RowReader& readRow, int outputWidth,
                            int outputHeight) {
    const auto across = footprints(sourceWidth, outputWidth);
    const auto down = footprints(sourceHeight, outputHeight);
    constexpr std::size_t c = channels;
    const std::size_t rowLength = static_cast<std::size_t>(sourceWidth) * c;
    std::vector<float> tallRow(rowLength);
    std::vector<float> out(static_cast<std::size_t>(outputWidth) * static_cast<std::size_t>(outputHeight) * c);
    for (int oy = 0; oy < outputHeight; ++oy) {
        const auto& vertical = down[static_cast<std::size_t>(oy)];
        std::fill(tallRow.begin(), tallRow.end(), 0.0f);
        for (std::size_t k = 0; k < vertical.weights.size(); ++k)
            readRow(vertical.first + static_cast<int>(k), vertical.weights[k], tallRow.data());
        float* target = out.data() + static_cast<std::size_t>(oy) * static_cast<std::size_t>(outputWidth) * c;
        for (int ox = 0; ox < outputWidth; ++ox, target += c) {
            const auto& horizontal = across[static_cast<std::size_t>(ox)];
            const float* from = tallRow.data() + static_cast<std::size_t>(horizontal.first) * c;
            float sum[c] = {};
            for (float w : horizontal.weights) {
                for (std::size_t j = 0; j < c; ++j) sum[j] += w * from[j];
                from += c;
            }
            for (std::size_t j = 0; j < c; ++j) target[j] = sum[j];
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
    auto pixels = resample<4>(
        frame.width(), frame.height(),
        [&](int y, float weight, float* sum) {
            const std::uint8_t* in = bgraRow(y);
            for (int x = 0; x < frame.width(); ++x, in += 4, sum += 4) {
                const float alpha = in[3] * (weight / 255.0f);
                sum[0] += in[0] * alpha;
                sum[1] += in[1] * alpha;
                sum[2] += in[2] * alpha;
                sum[3] += alpha;
            }
        },
        out.width(), out.height());
    writePremultiplied(pixels, out, {0, 1, 2}, 1.0f);
}

void renderHalf(const PixelBuffer& frame, PixelBuffer& out) {
    auto pixels = resample<4>(
        frame.width(), frame.height(),
        [&](int y, float weight, float* sum) {
            const std::uint16_t* in = frame.row<std::uint16_t>(y);
            for (int x = 0; x < frame.width(); ++x, in += 4, sum += 4) {
                const float alpha = std::clamp(halfToFloat(in[3]), 0.0f, 1.0f);
                for (int j = 0; j < 3; ++j) sum[j] += std::clamp(halfToFloat(in[j]), 0.0f, 1.0f) * alpha * weight;
                sum[3] += alpha * weight;
            }
        },
        out.width(), out.height());
    writePremultiplied(pixels, out, {2, 1, 0}, 255.0f);  // R G B in, B G R out
}

// Planar YCbCr (i420, x422): each plane averaged straight down to the
// preview's size, then only the preview's pixels converted, not the frame's.
media::PixelBufferRef renderPlanes(const PixelBuffer& frame, int width, int height) {
    auto out = PixelBuffer::create(width, height, PixelFormat::bgra8);
    if (!out) return nullptr;
    const media::YCbCrPlanes source = media::planesOf(const_cast<PixelBuffer&>(frame));
    // Samples in the 16-bit scale the row conversion reads (a 10-bit code times 64).
    const float toSixteenBits = static_cast<float>(1 << (16 - source.bitDepth));
    std::vector<float> averaged[3];
    for (int c = 0; c < 3; ++c) {
        const int shiftX = c == 0 ? 0 : source.chromaShiftX, shiftY = c == 0 ? 0 : source.chromaShiftY;
        const int planeWidth = (source.width + (1 << shiftX) - 1) >> shiftX;
        const int planeHeight = (source.height + (1 << shiftY) - 1) >> shiftY;
        const std::uint8_t* base = source.planes[static_cast<std::size_t>(c)];
        const std::ptrdiff_t stride = source.strides[static_cast<std::size_t>(c)];
        averaged[c] = resample<1>(
            planeWidth, planeHeight,
            [&](int y, float weight, float* sum) {
                const float w = weight * toSixteenBits;
                if (source.bitDepth <= 8) {
                    const std::uint8_t* in = base + y * stride;
                    for (int x = 0; x < planeWidth; ++x) sum[x] += in[x] * w;
                } else {
                    const auto* in = reinterpret_cast<const std::uint16_t*>(base + y * stride);
                    for (int x = 0; x < planeWidth; ++x) sum[x] += in[x] * w;
                }
            },
            width, height);
    }
    std::vector<std::uint16_t> rows[3];
    for (auto& row : rows) row.resize(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int c = 0; c < 3; ++c) {
            const float* from = averaged[c].data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
            for (int x = 0; x < width; ++x)
                rows[c][static_cast<std::size_t>(x)] =
                    static_cast<std::uint16_t>(std::clamp(from[x] + 0.5f, 0.0f, 65535.0f));
        }
        raster::yuvRowToBgra(frame.yCbCrMatrix(), rows[0].data(), rows[1].data(), rows[2].data(), width, out->row(y));
    }
    return out;
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
    if (frame.format() == PixelFormat::i420 || frame.format() == PixelFormat::x422)
        return renderPlanes(frame, width, height);
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
    case PixelFormat::x422: break;  // above
    case PixelFormat::rgbaHalf: renderHalf(frame, *out); break;
    }
    return out;
}

}  // namespace fw
