#pragma once
// The picture kernels (namespace fw::raster) the frame resizer is built from,
// one folder of plain functions and small types over pixel rows:
//   Raster.h           working pixels, rasters and compositing (this file);
//   Resampler.h        separable scaling, placement and mirroring in one pass;
//   YuvRows.h          x420 planes to and from working rows;
//   ColorCube.h        the colour LUT applied per pixel;
//   TimecodeOverlay.h  the burned-in timecode's glyphs.
// None of them keeps shared state; each type holding scratch rows is used by
// one thread at a time.
//
// Working pixels are four channels in B, G, R, A order, either 8-bit (the
// bgra8 path) or 16-bit (the 10-bit path, 0...65535), with premultiplied
// alpha: a fully opaque pixel reads the same either way, and compositing is a
// multiply-add.
// Thread-safety: plain functions and owning buffers; no shared state.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace fw::raster {

template <class T>
struct PixelTraits;
template <>
struct PixelTraits<std::uint8_t> {
    static constexpr std::uint32_t kMax = 255;
};
template <>
struct PixelTraits<std::uint16_t> {
    static constexpr std::uint32_t kMax = 65535;
};

// A window onto four-channel pixels; stride counts elements of T between rows.
template <class T>
struct RasterView {
    T* data = nullptr;
    std::ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;

    T* row(int y) const { return data + static_cast<std::ptrdiff_t>(y) * stride; }
    T* pixel(int x, int y) const { return row(y) + 4 * static_cast<std::ptrdiff_t>(x); }
};

// Owning four-channel raster, rows packed.
template <class T>
class Raster {
public:
    Raster() = default;
    Raster(int width, int height) { resize(width, height); }
    void resize(int width, int height) {
        width_ = width;
        height_ = height;
        storage_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, T{0});
    }
    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return storage_.empty(); }
    RasterView<T> view() { return {storage_.data(), 4 * static_cast<std::ptrdiff_t>(width_), width_, height_}; }
    RasterView<const T> view() const {
        return {storage_.data(), 4 * static_cast<std::ptrdiff_t>(width_), width_, height_};
    }

private:
    std::vector<T> storage_;
    int width_ = 0;
    int height_ = 0;
};

// x·y / max, rounded, for x, y in 0...max.
inline std::uint32_t mulDiv(std::uint32_t x, std::uint32_t y, std::uint8_t*) {
    std::uint32_t t = x * y + 128;
    return (t + (t >> 8)) >> 8;
}
inline std::uint32_t mulDiv(std::uint32_t x, std::uint32_t y, std::uint16_t*) {
    std::uint64_t t = static_cast<std::uint64_t>(x) * y + 32768;
    return static_cast<std::uint32_t>((t + (t >> 16)) >> 16);
}
template <class T>
inline std::uint32_t mulDivMax(std::uint32_t x, std::uint32_t y) {
    return mulDiv(x, y, static_cast<T*>(nullptr));
}

// True when every pixel of the row has alpha at its maximum.
template <class T>
inline bool rowIsOpaque(const T* pixels, int count) {
    T all = static_cast<T>(PixelTraits<T>::kMax);
    for (int x = 0; x < count; ++x) all &= pixels[4 * x + 3];
    return all == static_cast<T>(PixelTraits<T>::kMax);
}

template <class T>
inline void premultiplyRow(T* pixels, int count) {
    constexpr std::uint32_t kMax = PixelTraits<T>::kMax;
    for (int x = 0; x < count; ++x) {
        T* p = pixels + 4 * x;
        std::uint32_t a = p[3];
        if (a == kMax) continue;
        for (int c = 0; c < 3; ++c) p[c] = static_cast<T>(mulDivMax<T>(p[c], a));
    }
}

template <class T>
inline void unpremultiplyRow(T* pixels, int count) {
    constexpr std::uint32_t kMax = PixelTraits<T>::kMax;
    for (int x = 0; x < count; ++x) {
        T* p = pixels + 4 * x;
        std::uint32_t a = p[3];
        if (a == kMax || a == 0) continue;
        for (int c = 0; c < 3; ++c) {
            std::uint64_t v = (static_cast<std::uint64_t>(p[c]) * kMax + a / 2) / a;
            p[c] = static_cast<T>(std::min<std::uint64_t>(v, kMax));
        }
    }
}

// Fills `count` pixels with one colour.
template <class T>
inline void fillRow(T* pixels, int count, const T (&colour)[4]) {
    for (int x = 0; x < count; ++x) std::memcpy(pixels + 4 * x, colour, sizeof colour);
}

// Premultiplied source-over of `count` pixels.
template <class T>
inline void blendRow(T* destination, const T* source, int count) {
    constexpr std::uint32_t kMax = PixelTraits<T>::kMax;
    for (int x = 0; x < count; ++x) {
        const T* s = source + 4 * x;
        T* d = destination + 4 * x;
        std::uint32_t a = s[3];
        if (a == 0) continue;
        if (a == kMax) {
            std::memcpy(d, s, 4 * sizeof(T));
            continue;
        }
        std::uint32_t keep = kMax - a;
        for (int c = 0; c < 4; ++c) d[c] = static_cast<T>(s[c] + mulDivMax<T>(d[c], keep));
    }
}

// Premultiplied source-over of a whole raster at (x, y), clipped to the canvas.
template <class T>
inline void blendRaster(const RasterView<T>& canvas, const RasterView<const T>& image, int x, int y) {
    int x0 = std::max(x, 0), x1 = std::min(x + image.width, canvas.width);
    int y0 = std::max(y, 0), y1 = std::min(y + image.height, canvas.height);
    if (x0 >= x1 || y0 >= y1) return;
    for (int row = y0; row < y1; ++row) blendRow(canvas.pixel(x0, row), image.pixel(x0 - x, row - y), x1 - x0);
}

// Composites premultiplied black of the given opacity (0...max) over a rectangle.
template <class T>
inline void darkenRect(const RasterView<T>& canvas, int x, int y, int width, int height, std::uint32_t opacity) {
    constexpr std::uint32_t kMax = PixelTraits<T>::kMax;
    int x0 = std::max(x, 0), x1 = std::min(x + width, canvas.width);
    int y0 = std::max(y, 0), y1 = std::min(y + height, canvas.height);
    std::uint32_t keep = kMax - opacity;
    for (int row = y0; row < y1; ++row) {
        T* d = canvas.pixel(x0, row);
        for (int i = 0; i < (x1 - x0) * 4; i += 4) {
            for (int c = 0; c < 3; ++c) d[i + c] = static_cast<T>(mulDivMax<T>(d[i + c], keep));
            d[i + 3] = static_cast<T>(opacity + mulDivMax<T>(d[i + 3], keep));
        }
    }
}

}  // namespace fw::raster
