#pragma once
// Reference-counted frame memory shared by every stage that moves pictures:
// decoders fill it, the frame resizer reads and writes it, encoders consume it.
//
// Formats:
//   bgra8    one plane, 4 bytes a pixel in B, G, R, A order (premultiplied alpha
//            is not assumed; alpha is straight).
//   x420     10-bit 4:2:0 video range, two planes: Y as 16-bit little-endian
//            words holding the value in the top 10 bits (P010), and interleaved
//            CbCr at half width and half height, same word layout.
//   i420     8-bit 4:2:0, three planes of a byte a sample: Y, then Cb and Cr
//            at half width and half height. Decoded pictures that pass
//            untouched to a YCbCr writer travel in it.
//   x422     10-bit 4:2:2, three planes of 16-bit little-endian words holding
//            the value in their low 10 bits: Y, then Cb and Cr at half width
//            and full height. Untouched 4:2:2 pictures travel in it to a YCbCr
//            writer.
//            i420 and x422 are video range unless marked full range.
//   rgbaHalf one plane, 4 half floats a pixel (R, G, B, A): the 10-bit path's
//            working format.
//
// Rows are aligned to 64 bytes; always use stride(plane), never width * size.
// Thread-safety: a buffer is not synchronised; hand it from stage to stage.
// Pools may be used from any thread.

#include "platform/media/ColorTags.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace fw::media {

enum class PixelFormat { bgra8, x420, rgbaHalf, i420, x422 };

class PixelBuffer {
public:
    // nullptr when a side is below 1 or the size is absurd (over 32768 a side).
    static std::shared_ptr<PixelBuffer> create(int width, int height, PixelFormat format);

    int width() const { return width_; }
    int height() const { return height_; }
    PixelFormat format() const { return format_; }
    int planeCount() const { return static_cast<int>(planes_.size()); }
    std::uint8_t* data(int plane = 0) { return storage_.get() + planes_[plane].offset; }
    const std::uint8_t* data(int plane = 0) const { return storage_.get() + planes_[plane].offset; }
    std::size_t stride(int plane = 0) const { return planes_[plane].stride; }
    int planeWidth(int plane = 0) const { return planes_[plane].width; }
    int planeHeight(int plane = 0) const { return planes_[plane].height; }

    template <class T = std::uint8_t>
    T* row(int y, int plane = 0) {
        return reinterpret_cast<T*>(data(plane) + static_cast<std::size_t>(y) * stride(plane));
    }
    template <class T = std::uint8_t>
    const T* row(int y, int plane = 0) const {
        return reinterpret_cast<const T*>(data(plane) + static_cast<std::size_t>(y) * stride(plane));
    }

    // Sets every byte of every plane to zero (transparent black for bgra8).
    void clear();

    // x420, i420, x422: the matrix its YCbCr values were made with (BT.709 unless set).
    YCbCrMatrix yCbCrMatrix() const { return matrix_; }
    void setYCbCrMatrix(YCbCrMatrix matrix) { matrix_ = matrix; }
    // i420, x422: whether its values span the full range (a full-range source's
    // planes kept as decoded); video range unless set.
    bool isFullRange() const { return fullRange_; }
    void setFullRange(bool fullRange) { fullRange_ = fullRange; }
    // bgra8: every alpha is 255, as its producer knows (a decoder of pictures
    // without alpha says so), so that nobody scans for a translucent pixel.
    // False tells nothing. Whoever changes the pixels afterwards keeps it true
    // only by writing alpha 255.
    bool knownOpaque() const { return knownOpaque_; }
    void setKnownOpaque(bool opaque) { knownOpaque_ = opaque; }

    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

private:
    struct Plane {
        std::size_t offset = 0;
        std::size_t stride = 0;
        int width = 0;  // in samples of that plane (CbCr pairs count once)
        int height = 0;
    };
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const noexcept;
    };
    friend class PixelBufferPool;
    PixelBuffer() = default;
    static std::unique_ptr<PixelBuffer> allocate(int width, int height, PixelFormat format);

    int width_ = 0;
    int height_ = 0;
    PixelFormat format_ = PixelFormat::bgra8;
    YCbCrMatrix matrix_ = YCbCrMatrix::bt709;
    bool fullRange_ = false;
    bool knownOpaque_ = false;
    std::vector<Plane> planes_;
    std::unique_ptr<std::uint8_t[], FreeDeleter> storage_;
    std::size_t storageSize_ = 0;
};

using PixelBufferRef = std::shared_ptr<PixelBuffer>;

// Recycles buffers of one size and format: a buffer handed out returns to the
// pool when its last reference goes, unless the pool is gone by then.
class PixelBufferPool : public std::enable_shared_from_this<PixelBufferPool> {
public:
    // nullptr when the size is invalid (see PixelBuffer::create).
    static std::shared_ptr<PixelBufferPool> create(int width, int height, PixelFormat format, std::size_t maxIdle = 8);

    // A buffer of the pool's size; contents are undefined (and not known
    // opaque). nullptr on allocation failure.
    PixelBufferRef get();

    int width() const { return width_; }
    int height() const { return height_; }
    PixelFormat format() const { return format_; }

private:
    PixelBufferPool(int width, int height, PixelFormat format, std::size_t maxIdle)
        : width_(width), height_(height), format_(format), maxIdle_(maxIdle) {}
    void recycle(std::unique_ptr<PixelBuffer> buffer);

    int width_, height_;
    PixelFormat format_;
    std::size_t maxIdle_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<PixelBuffer>> idle_;
};

}  // namespace fw::media
