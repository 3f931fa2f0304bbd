#pragma once
// What the Hap and DXV encoders share: the movie encoder that writes a
// texture-codec movie from a route's picture and sound requests, and the
// writer of a clip made from one still image. QuickTime, 16-bit PCM sound at
// 48 kHz from the source's first audio track, no metadata; the frames packed
// by the codec's own coder.
//
// Thread-safety: pure functions; writeStillClip blocks its caller.

#include "encoders/EncodeRoute.h"
#include "pipeline/MovieEncoder.h"
#include "platform/media/Asset.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>

namespace fw {

// The frames' size: the request's when there is one, else the source's as it
// is displayed. threads: the source decoder's (MovieEncoder::threads). Throws
// EncodingError::noVideoTrack for a source without video (before anything is
// written).
MovieEncoder textureMovieEncoder(const media::Asset& source, const std::optional<FrameScaling>& scaling,
                                 const MovieSound& sound, FramePacking packing, int threads = 0);

// A clip of the still image `source`: the image read by the image decoder
// (upright), placed in the clip's still frame (stillFrame, EncodeRoute.h) by
// the frame resizer and filtered, composited on opaque black whatever the kind
// (an alpha kind's frame is opaque), packed once, and that frame stored
// stillFrameCount(clip) times (EncodeRoute.h): frame i at i / frameRate,
// lasting 1 / frameRate, on a track whose timescale is the frame rate. No sound.
//   checkSize: sees the output size before the destination is touched; what
//     it throws ends the encode.
//   progress: i / N after each frame, then 1.0 once the file is in place;
//     preview: once, with the packed picture, before the first frame.
// The output is staged and moved into place only when complete; a stop
// request is noticed before every frame.
// Throws EncodingError: imageDecodeFailed (with the image decoder's message),
// writerFailed (a rate or length stillFrameCount refuses, a picture the
// resizer cannot make, the writer's own failures), cancelled, or what
// packFrame or checkSize throws.
void writeStillClip(const std::filesystem::path& source, const std::filesystem::path& destination,
                    const StillClip& clip, const FramePacking& packing,
                    const std::function<void(std::int64_t width, std::int64_t height)>& checkSize,
                    const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop);

}  // namespace fw
