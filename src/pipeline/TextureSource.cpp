#include "pipeline/TextureSource.h"

#include "codecs/dxv/DXVTextureSource.h"
#include "codecs/hap/TextureSource.h"
#include "model/EncodingError.h"

#include <string>

namespace fw::TextureSource {

namespace {

bool isDXV(media::FourCharCode subtype) { return subtype == media::subtype::dxd3 || subtype == media::subtype::dxdi; }

std::string sizeText(int width, int height) { return std::to_string(width) + "\u00D7" + std::to_string(height); }

}  // namespace

bool isTextureFourCC(media::FourCharCode subtype) {
    return subtype == media::subtype::hap1 || subtype == media::subtype::hap5 || subtype == media::subtype::hapY ||
           isDXV(subtype);
}

std::optional<FrameUnpacker> FrameUnpacker::make(const media::FormatDescription& track) {
    if (track.mediaType != media::MediaType::video || !isTextureFourCC(track.mediaSubtype)) return std::nullopt;
    return FrameUnpacker(track.mediaSubtype, track.width, track.height);
}

FrameUnpacker::FrameUnpacker(media::FourCharCode fourCC, int width, int height)
    : fourCC_(fourCC),
      width_(width),
      height_(height),
      pool_(media::PixelBufferPool::create(width, height, media::PixelFormat::bgra8)) {}

media::PixelBufferRef FrameUnpacker::pixelBuffer(const media::SampleBuffer& sample) const {
    if (const auto& format = sample.formatDescription();
        format && format->width > 0 && format->height > 0 && (format->width != width_ || format->height != height_))
        throw EncodingError::readerFailed("a " + media::fourCharCodeString(fourCC_) + " frame of " +
                                          sizeText(format->width, format->height) + " cannot be read in a track of " +
                                          sizeText(width_, height_));
    const auto frame = sample.data();
    if (frame.empty() || !pool_) return nullptr;
    media::PixelBufferRef picture = pool_->get();
    if (!picture) return nullptr;
    // Both decoders write every pixel when they succeed and nothing shown otherwise;
    // a failed buffer goes back to the pool with the reference.
    const bool decoded = isDXV(fourCC_) ? decodeDXVFrame(frame, width_, height_, picture->data(), picture->stride())
                                        : decodeHapFrame(frame, width_, height_, picture->data(), picture->stride());
    return decoded ? picture : nullptr;
}

}  // namespace fw::TextureSource
