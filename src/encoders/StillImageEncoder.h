#pragma once
// Still images into movies in the platform codecs (ProRes, H.264, HEVC). The
// image is read once by the image decoder (upright) and shown as an asset of
// one video track holding that picture N times, which the movie encoder then
// encodes as any source: the same resizing (the still frame of
// stillMovieEncoder, filters, a burned-in timecode that runs), writer, staged
// output and cancellation. The clip's frames follow stillFrameCount
// (EncodeRoute.h): frame i at i / rate, lasting 1 / rate. No sound.
//
// Thread-safety: a plain value; encode() is const and blocks its caller.

#include "encoders/EncodeRoute.h"
#include "platform/media/Asset.h"
#include "platform/media/PixelBuffer.h"

#include <filesystem>
#include <stop_token>

namespace fw {

class StillImageEncoder {
public:
    explicit StillImageEncoder(StillMovieRequest request) : request_(std::move(request)) {}

    // Writes the movie of the still image `source` at `destination`, as
    // MovieEncoder::encode does (progress, preview, stop, staged output: on
    // any throw the destination is as it was). Throws EncodingError:
    // writerFailed for a rate or length stillFrameCount refuses (before the
    // image is read), imageDecodeFailed with the image decoder's message,
    // unsupportedCodec, or what MovieEncoder::encode throws.
    void encode(const std::filesystem::path& source, const std::filesystem::path& destination,
                const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop = {}) const;

private:
    StillMovieRequest request_;
};

// `picture` as an asset of one video track (track ID 0, named `path`) of
// stillFrameCount(clip) frames at clip.frameRate, every one that picture.
// Throws what stillFrameCount throws. REQUIRES: picture != nullptr.
media::AssetRef stillImageAsset(const std::filesystem::path& path, media::PixelBufferRef picture,
                                const StillClip& clip);

}  // namespace fw
