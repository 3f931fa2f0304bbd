#pragma once
// DXV2 and DXV3 movies. Every picture is compressed to DXT1 blocks (DXT5 with
// alpha) over the 16-aligned grid, edge pixels repeated, and stored as one DXV
// frame: LZF-coded under the 4-byte header for DXV2, block-reuse coded under
// the 12-byte header for DXV3. High-quality DXV3 frames are YCoCg planes with
// an alpha plane, in BC4 blocks. The track's codec type is 'DXDI' (DXV2) or
// 'DXD3' (DXV3) at the frames' own size; the sound is 16-bit PCM at 48 kHz.
// The movie encoder does the reading, resizing, pumping, staging and the tail
// rule (MovieEncoder with packing); sources that are texture movies
// themselves are read through the texture source's frame unpacker.
// A still image becomes a clip of one DXV frame repeated (encodeStillImage).
//
// Thread-safety: a plain value; encode() is const and may run on several
// threads at once. compressFrame is a pure function that fans out over block
// rows.

#include "encoders/EncodeRoute.h"
#include "platform/media/Asset.h"
#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <vector>

namespace fw {

class DXVEncoder {
public:
    explicit DXVEncoder(DXVRequest request) : request_(std::move(request)) {}

    // 'DXDI' or 'DXD3'.
    static media::FourCharCode codecType(DXVKind kind);
    // DXV2 keeps its payload size in 24 bits: a frame whose worst-case LZF
    // payload (padded texture b bytes, b + b / 32 + 16) would not fit throws
    // EncodingError::writerFailed("DXV2 can't store W×H frames — use DXV3 for
    // resolutions beyond ~5K."). DXV3 takes every size.
    static void validateFrameSize(DXVKind kind, bool alpha, std::int64_t width, std::int64_t height);
    // One picture into one DXV frame: high quality only for DXV3. Throws
    // EncodingError::writerFailed for a picture that cannot be read (not
    // 8-bit BGRA): no empty frame is made.
    static std::vector<std::uint8_t> compressFrame(const media::PixelBuffer& picture, DXVKind kind, bool alpha,
                                                   bool highQuality);

    // Encodes `source` into a DXV movie at `destination`, as MovieEncoder::encode
    // does (the same callbacks, cancellation, errors, staged output and
    // result), after validateFrameSize.
    // REQUIRES: source != nullptr.
    EncodeResult encode(const media::AssetRef& source, const std::filesystem::path& destination,
                        const ProgressCallback& progress, const PreviewCallback& preview,
                        std::stop_token stop = {}) const;

    // Writes a clip of the still image `source` as writeStillClip
    // (encoders/TextureMovie.h) describes it, in the request's kind, alpha and
    // quality, after validateFrameSize on the output size; the image is shown
    // over opaque black whatever the alpha setting (alpha frames are opaque).
    static void encodeStillImage(const DXVStillRequest& request, const std::filesystem::path& source,
                                 const std::filesystem::path& destination, const ProgressCallback& progress,
                                 const PreviewCallback& preview, std::stop_token stop = {});

private:
    static FramePacking packing(DXVKind kind, bool alpha, bool highQuality);

    DXVRequest request_;
};

}  // namespace fw
