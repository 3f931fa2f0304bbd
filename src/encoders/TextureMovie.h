#pragma once
// What the Hap and DXV encoders share: the movie encoder that writes a
// texture-codec movie from a route's picture and sound requests. QuickTime,
// 16-bit PCM sound at 48 kHz from the source's first audio track, no
// metadata; the frames packed by the codec's own coder.
//
// Thread-safety: a pure function.

#include "encoders/EncodeRoute.h"
#include "pipeline/MovieEncoder.h"
#include "platform/media/Asset.h"

namespace fw {

// The frames' size: the request's when there is one, else the source's as it
// is displayed. Throws EncodingError::noVideoTrack for a source without video
// (before anything is written).
MovieEncoder textureMovieEncoder(const media::Asset& source, const std::optional<FrameScaling>& scaling,
                                 const MovieSound& sound, FramePacking packing);

}  // namespace fw
