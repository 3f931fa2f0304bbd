#pragma once
// The size a source's picture is shown at, in whole pixels: the one rule the
// command line, the route builder and the movie encoder size frames by.
// Thread-safety: pure functions.

#include "model/Size.h"
#include "platform/media/Asset.h"

namespace fw {

// The track's displayed size (its display transform applied, so a quarter turn
// swaps the sides), each side cut to its whole part and raised to at least 2.
// Throws std::runtime_error when the track has no size (none of its pictures
// was found), or when the transform gives a side that is not finite or beyond
// 2^53 pixels.
IntSize displayedPixelSize(const media::AssetTrack& track);

// The same for the asset's first video track. Throws EncodingError::noVideoTrack
// when it has none.
IntSize displayedPixelSize(const media::Asset& asset);

}  // namespace fw
