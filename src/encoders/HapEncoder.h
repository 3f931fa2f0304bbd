#pragma once
// Hap, Hap Alpha and Hap Q movies. Every picture is compressed to DXT blocks
// (DXT1, DXT5 or scaled-YCoCg DXT5 over the 4-aligned grid, edge pixels
// repeated) and stored as one Hap frame, a single section without
// second-stage compression, in a QuickTime track of codec type 'Hap1', 'Hap5'
// or 'HapY' at the frames' own size; the sound is 16-bit PCM at 48 kHz. The
// movie encoder does the reading, resizing, pumping, staging and the tail
// rule (MovieEncoder with packing); sources that are texture movies
// themselves are read through the texture source's frame unpacker.
// A still image becomes a clip of one Hap frame repeated (encodeStillImage).
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

class HapEncoder {
public:
    explicit HapEncoder(HapRequest request) : request_(std::move(request)) {}

    // 'Hap1', 'Hap5' or 'HapY'.
    static media::FourCharCode codecType(HapKind kind);
    // One picture into one Hap frame. Throws EncodingError::writerFailed for a
    // picture that cannot be read (not 8-bit BGRA): no empty frame is made.
    static std::vector<std::uint8_t> compressFrame(const media::PixelBuffer& picture, HapKind kind);
    // The same frame in `frame`, reusing its memory (its bytes are all replaced).
    static void compressFrame(const media::PixelBuffer& picture, HapKind kind, std::vector<std::uint8_t>& frame);

    // Encodes `source` into a Hap movie at `destination`, as MovieEncoder::encode
    // does (the same callbacks, cancellation, errors, staged output and result).
    // REQUIRES: source != nullptr.
    EncodeResult encode(const media::AssetRef& source, const std::filesystem::path& destination,
                        const ProgressCallback& progress, const PreviewCallback& preview,
                        std::stop_token stop = {}) const;

    // Writes a clip of the still image `source` as writeStillClip
    // (encoders/TextureMovie.h) describes it, in the request's kind; the image
    // is shown over opaque black whatever the kind (Hap Alpha frames are opaque).
    static void encodeStillImage(const HapStillRequest& request, const std::filesystem::path& source,
                                 const std::filesystem::path& destination, const ProgressCallback& progress,
                                 const PreviewCallback& preview, std::stop_token stop = {});

private:
    static FramePacking packing(HapKind kind);

    HapRequest request_;
};

}  // namespace fw
