#pragma once
// The GIF output: a movie becomes an animated GIF that loops forever, a still
// image a GIF of one frame.
//
// Movies: the first video track is read (Hap and DXV tracks through the
// texture source's unpacker) and the frames taken by GIFFrameClock at
// `frameRate` go through the frame resizer, which also turns them upright by
// the track's display transform; each is shown for as long as it stands for in
// the source, in whole hundredths that add up to the source's length. Frames
// are quantized side by side on a oneTBB arena and written in order by
// GIFWriter; at most a few frames per core are held at once, however long the
// source. The source-tail rule applies: a reader that fails before the end of
// its source fails the encode.
//
// Stills: the picture goes through the same resizer into a GIF of one frame,
// with neither loop nor delay.
//
// Output: written under a temporary name beside the destination (StagedFile)
// and moved into place only on success; whatever was at the destination stays
// untouched until then, and nothing is left behind on failure or cancellation.
//
// Inputs from outside are checked before anything is read or allocated: a
// frame rate outside (0, kMaxFrameRate], a maximum dimension outside
// 2...kMaxSide, or an output size with a side over kMaxSide or over
// kMaxPixels fails with EncodingError::writerFailed and a message that says so.
//
// Thread-safety: a plain value; encode() is const and may run on several
// threads at once.

#include "encoders/EncodeRoute.h"
#include "model/EncodeResult.h"
#include "model/Size.h"
#include "pipeline/TrackPumps.h"
#include "platform/media/Asset.h"
#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <filesystem>
#include <stop_token>

namespace fw {

struct GIFEncoder {
    // GIF delays count hundredths of a second; players show shorter ones slower.
    static constexpr double kMaxFrameRate = 50;
    static constexpr std::int64_t kMaxSide = 32768;
    static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;

    // The output box and filters; without a box the size is derived from the source.
    GIFRequest request;
    double frameRate = 12;            // GIF frames a second at most
    std::int64_t maxDimension = 480;  // the longer side of a derived size

    // The output size for a source displayed at sourceWidth × sourceHeight:
    // with a box, OutputSizing::outputSize of the source in it by the
    // request's mode (as the movie routes size their frames); else the
    // source's sides (each at least 2) scaled down so the longer is at most
    // maxDimension, fractions dropped, each side raised to at least 2 and then
    // to even.
    // Throws EncodingError::writerFailed when the settings or the size are out
    // of range (see above).
    IntSize outputSize(std::int64_t sourceWidth, std::int64_t sourceHeight) const;

    // Encodes `source` into a GIF at `destination`: a movie (a file the media
    // layer opens with a video track) through the movie path, else a still
    // image read by media::ImageDecoder (which also reads what the media layer
    // cannot open, HEIC among others). progress receives fractions from 0 to
    // 1, ending with one call of 1.0 on success; it may be empty and is called
    // from the calling thread. A stop request ends a movie's encode with
    // EncodingError::cancelled.
    // Throws EncodingError (writerFailed, readerFailed, cannotStartReading,
    // noVideoTrack for a file with sound only, imageDecodeFailed with the image
    // decoder's message for a file named or made as an image, cancelled) and
    // the media layer's media::MediaError for any other file it cannot open.
    // On any throw the destination is as it was. The result counts a movie's
    // pictures left out for damage in it (readerFailed when too many were).
    EncodeResult encode(const std::filesystem::path& source, const std::filesystem::path& destination,
                        const ProgressCallback& progress, std::stop_token stop = {}) const;

    // The movie path, for an asset with a video track. Throws as encode(),
    // and EncodingError::noVideoTrack for an asset without one.
    // REQUIRES: asset != nullptr.
    EncodeResult encodeVideo(const media::AssetRef& asset, const std::filesystem::path& destination,
                             const ProgressCallback& progress, std::stop_token stop = {}) const;

    // The still path: one upright picture (bgra8) into a GIF of one frame.
    void encodeStill(const media::PixelBuffer& image, const std::filesystem::path& destination) const;
};

}  // namespace fw
