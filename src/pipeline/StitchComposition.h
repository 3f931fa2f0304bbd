#pragma once
// Several files played one after another, as one media-layer asset (see
// media::ComposedSource): the movie encoder reads it through the same reader
// outputs as a single file and needs nothing of its own for it.
//
// The asset has one video track at the displayed size of the first file with
// video (track ID 0, upright, no display transform) and, when any file has
// sound, one audio track (track ID 1) at the first sound's rate, stereo when
// any file's sound is. Each file is a segment as long as the file (its
// duration, its first video and first audio track only), placed where the
// one before ends; files whose duration is not above 0 add nothing.
//   - Pictures: every frame is fitted upright to the track's size (the file's
//     display transform applied, letterboxed or pillarboxed on black), at
//     its own time plus the segment's start; a stretch without video shows
//     the frame before it.
//   - Sound: each file's sound is read at the rate and channel count the
//     reader output asks for and laid out sample-exact over its segment: cut
//     at the segment's end, filled with silence when short; a file without
//     sound gives silence of its length, so later segments stay in sync.
//
// Thread-safety: the asset is immutable; each reader output reads its own
// copy of every file.

#include "model/Size.h"
#include "platform/media/Asset.h"

#include <filesystem>
#include <vector>

namespace fw {

class StitchComposition {
public:
    // Opens the files (in playing order) and lays them end to end.
    // Throws EncodingError::noVideoTrack when no file with a duration above 0
    // has video (an empty list included), and media::MediaError when a file
    // cannot be opened.
    static media::AssetRef build(const std::vector<std::filesystem::path>& files);
};

}  // namespace fw
