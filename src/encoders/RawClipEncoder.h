#pragma once
// Camera-RAW clips into movies (ProRes, H.264, HEVC). The clip, opened by a
// registered plug-in (RawDecoderRegistry.h), is read as a media-layer asset of
// one video track whose frames the plug-in decodes on demand, and encoded by
// the movie encoder like any source: the same resizing pump, writer, staged
// output and cancellation. RAW clips carry no sound here.
//
// Frame i is shown at i / r seconds (r: the clip's rate, 24 when it gives
// none above 0) on a clock of frameTimescale(r) ticks a second: 1/600 s up to
// 60 fps, max(600, 100 × r rounded) above, so that frames above 600 fps keep
// distinct times.
//
// Thread-safety: a plain value; encode() blocks its caller and calls the
// plug-in from one pump thread at a time.

#include "encoders/RawDecoderRegistry.h"
#include "model/OutputFormat.h"
#include "pipeline/FrameScaling.h"
#include "pipeline/MovieEncoder.h"
#include "platform/media/Asset.h"

#include <filesystem>
#include <memory>
#include <stop_token>

namespace fw {

struct RawClipEncoder {
    std::shared_ptr<RawClip> clip;
    // What the video input encodes, at the scaling's size.
    VideoWriterSettings videoSettings;
    ContainerFileType fileType = ContainerFileType::quickTimeMovie;
    // Always applied: the plug-in's frames are fitted to the output size.
    FrameScaling scaling;

    // Writes the clip's movie at `destination`, as MovieEncoder::encode does
    // (progress, preview, stop, staged output: on any throw the destination
    // is as it was). Throws EncodingError::rawDecodeFailed with "clip has no
    // frames", "clip size W×H is not usable", "clip frame rate R is not
    // usable", "clip is too long" before anything is written, and with
    // "frame " and the index when the plug-in gives no usable frame;
    // otherwise what MovieEncoder::encode throws.
    // REQUIRES: clip != nullptr.
    void encode(const std::filesystem::path& destination, const ProgressCallback& progress,
                const PreviewCallback& preview, std::stop_token stop = {}) const;
};

// The clip as an asset of one video track (track ID 0) with the times above.
// Throws what encode() throws before writing for a clip that cannot be read.
// REQUIRES: clip != nullptr.
media::AssetRef rawClipAsset(std::shared_ptr<RawClip> clip);

}  // namespace fw
