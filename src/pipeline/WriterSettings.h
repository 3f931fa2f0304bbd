#pragma once
// Our own output settings turned into the media layer's: the video writer
// settings, the container, the metadata items and the sound a movie is
// written with. The one place where the model's vocabulary meets the media
// layer's for the movie path.
// Thread-safety: pure functions.

#include "model/MovieMetadata.h"
#include "model/OutputFormat.h"
#include "platform/media/AssetWriter.h"

#include <vector>

namespace fw {

// The media layer's encoder settings for writer settings: ProRes variants to
// their profiles (4444 keeps alpha when `preservesAlpha`), H.264 and HEVC with
// their profile, average bit rate and key-frame interval, and the colour tags:
// the settings' own when tagging is on, else `sourceColor`'s (the source's
// tags with the matrix it is converted with, see sourceColorTags).
// HEVC is Main 10 when asked for or when `tenBit` frames are written.
// `frameRate` is the rate the frames arrive at.
// REQUIRES: even sides for H.264 and HEVC (the route builder makes them so).
media::VideoEncoderSettings videoEncoderSettings(const VideoWriterSettings& settings,
                                                 const media::ColorTags& sourceColor, double frameRate, bool tenBit,
                                                 bool preservesAlpha);

// What a source video track's pictures are: its stored tags, the matrix made
// definite (the one the decoder converts with) and video range, which is what
// the pictures are written in.
media::ColorTags sourceColorTags(const media::AssetTrack& track);

media::FileType mediaFileType(ContainerFileType type);

// The movie's container metadata items, in the order MovieMetadata gives them.
std::vector<media::MetadataItem> metadataItems(const MovieMetadata& metadata);

// The sound of a movie: AAC (256 kbit/s stereo, 160 kbit/s mono) in MPEG-4,
// 16-bit PCM in QuickTime; one channel when mixed down, else two. The rate is
// `sampleRate`, or kDefaultSampleRate when that is 0 or less or beyond what a
// converter takes (768 kHz).
media::AudioEncoderSettings movieAudioSettings(ContainerFileType type, double sampleRate, bool downmixMono);

}  // namespace fw
