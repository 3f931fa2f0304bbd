#include "platform/media/PixelBuffer.h"

#include <cstdlib>
#include <cstring>

namespace fw::media {

namespace {
constexpr std::size_t kRowAlignment = 64;
constexpr int kMaxSide = 32768;

std::size_t alignUp(std::size_t v) { return (v + kRowAlignment - 1) / kRowAlignment * kRowAlignment; }
}  // namespace

void PixelBuffer::FreeDeleter::operator()(std::uint8_t* p) const noexcept { std::free(p); }

std::shared_ptr<PixelBuffer> PixelBuffer::create(int width, int height, PixelFormat format) {
    return allocate(width, height, format);
}

std::unique_ptr<PixelBuffer> PixelBuffer::allocate(int width, int height, PixelFormat format) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return nullptr;
    std::unique_ptr<PixelBuffer> buffer(new PixelBuffer());
    buffer->width_ = width;
    buffer->height_ = height;
    buffer->format_ = format;
    std::size_t offset = 0;
    auto addPlane = [&](int w, int h, std::size_t bytesPerSample) {
        Plane plane{offset, alignUp(static_cast<std::size_t>(w) * bytesPerSample), w, h};
        offset += plane.stride * static_cast<std::size_t>(h);
        buffer->planes_.push_back(plane);
    };
    switch (format) {
    case PixelFormat::bgra8: addPlane(width, height, 4); break;
    case PixelFormat::rgbaHalf: addPlane(width, height, 8); break;
    case PixelFormat::x420:
        addPlane(width, height, 2);
        addPlane((width + 1) / 2, (height + 1) / 2, 4);
        break;
    case PixelFormat::i420:
        addPlane(width, height, 1);
        addPlane((width + 1) / 2, (height + 1) / 2, 1);
        addPlane((width + 1) / 2, (height + 1) / 2, 1);
        break;
    case PixelFormat::x422:
        addPlane(width, height, 2);
        addPlane((width + 1) / 2, height, 2);
        addPlane((width + 1) / 2, height, 2);
        break;
    }
    void* memory = std::aligned_alloc(kRowAlignment, alignUp(offset));
    if (!memory) return nullptr;
    buffer->storage_.reset(static_cast<std::uint8_t*>(memory));
    buffer->storageSize_ = offset;
    return buffer;
}

void PixelBuffer::clear() { std::memset(storage_.get(), 0, storageSize_); }

std::shared_ptr<PixelBufferPool> PixelBufferPool::create(int width, int height, PixelFormat format,
                                                         std::size_t maxIdle) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return nullptr;
    return std::shared_ptr<PixelBufferPool>(new PixelBufferPool(width, height, format, maxIdle));
}

PixelBufferRef PixelBufferPool::get() {
    std::unique_ptr<PixelBuffer> buffer;
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            buffer = std::move(idle_.back());
            idle_.pop_back();
        }
    }
    if (!buffer) {
        buffer = PixelBuffer::allocate(width_, height_, format_);
        if (!buffer) return nullptr;
    }
    buffer->matrix_ = YCbCrMatrix::bt709;
    buffer->fullRange_ = false;
    buffer->knownOpaque_ = false;
    std::weak_ptr<PixelBufferPool> weakPool = weak_from_this();
    PixelBuffer* raw = buffer.release();
    return PixelBufferRef(raw, [weakPool](PixelBuffer* p) {
        std::unique_ptr<PixelBuffer> owned(p);
        if (auto pool = weakPool.lock()) pool->recycle(std::move(owned));
    });
}

void PixelBufferPool::recycle(std::unique_ptr<PixelBuffer> buffer) {
    std::lock_guard lock(mutex_);
    if (idle_.size() < maxIdle_) idle_.push_back(std::move(buffer));
}

}  // namespace fw::media
