#pragma once
// The movie path: one opened source asset in, one movie file out, with the
// frame request of FrameScaling (resize, filters, geometry, constant frame
// rate, 10-bit), an audio gain, a trim, container metadata and a timecode
// track. Pictures are encoded by the media layer's own encoders (ProRes,
// H.264, HEVC), or packed by a texture codec of ours (Hap, DXV) and stored as
// they are (`packing`). Hap and DXV video tracks are read as stored samples
// and unpacked by the texture source (frameUnpacker()), then go through the
// frame resizer, at the displayed size with their alpha when no frame request
// is given.
//
// encode() blocks the calling thread while the tracks are pumped on threads
// of their own ("encode.video" or "encode.resize", "encode.audio0", ...). The
// output is written under a temporary name beside the destination and moved into
// place only when the encode has succeeded; whatever was at the destination
// before stays untouched until then, and nothing is left behind on failure or
// cancellation.
//
// Thread-safety: a MovieEncoder is a plain value; encode() is const and may
// run on several threads at once (each call has its own reader and writer).

#include "model/EncodeResult.h"
#include "model/EncodingError.h"
#include "model/ExportConfiguration.h"
#include "model/MovieMetadata.h"
#include "model/OutputFormat.h"
#include "pipeline/FrameScaling.h"
#include "pipeline/PackingVideoInput.h"
#include "pipeline/TrackPumps.h"
#include "platform/core/MediaUnits.h"
#include "platform/media/Asset.h"
#include "platform/media/AssetWriter.h"

#include <filesystem>
#include <optional>
#include <stop_token>

namespace fw {

struct MovieEncoder {
    // What the video input encodes, as built by videoSettings(); the frame
    // size, codec, rate settings and colour tags come from here. Frame sizes
    // (here and in `scaling`) are as the picture is displayed: for a source
    // whose display transform turns it a quarter, the stored sides swapped.
    // REQUIRES: even sides for H.264 and HEVC (4:2:0 chroma); the writer
    // converts pictures of another size to this one.
    VideoWriterSettings videoSettings;
    ContainerFileType fileType = ContainerFileType::quickTimeMovie;
    // Frame request; none passes the decoded frames to the writer untouched.
    std::optional<FrameScaling> scaling;
    float audioGain = 1.0f;  // linear; 1 leaves the sound unchanged
    bool stripAudio = false;
    bool downmixMono = false;
    double sampleRate = kDefaultSampleRate;  // Hz; 0 or less (or not a usable rate) means kDefaultSampleRate
    bool preserveAllAudioTracks = false;     // else only the first audio track
    std::optional<TrimRange> trim;
    std::optional<MovieMetadata> metadata;
    // Texture codecs: each picture is packed into a stored frame of this
    // codec (PackingVideoInput); of videoSettings only the size counts. The
    // frames keep the track's size: without `scaling` the decoded pictures'
    // own (stored, with the track's display transform), fitted to the
    // displayed size only when they are not stored at it (a non-square pixel
    // aspect). REQUIRES: fileType quickTimeMovie and no 10-bit scaling (the
    // packers take 8-bit BGRA only).
    std::optional<FramePacking> packing;
    // A file source may end in a damaged stretch that is forgiven when it is
    // short (EncodingError::readerTailFailure). Off for sources that name
    // every frame they have (camera-RAW clips): any read failure then fails
    // the encode with readerFailed.
    bool forgivesDamagedTail = true;
    // Threads of the source's decoder and of the media layer's encoder; 0:
    // each sizes itself to the whole machine. Encodes side by side pass their
    // share of the cores so that together they do not oversubscribe it.
    int threads = 0;

    // Encodes `asset` into a movie at `destination`. progress receives
    // fractions from 0 to 1 (ending with one call of 1.0 on success) and
    // preview occasional downscaled frames; both may be empty and are called
    // from the pump threads. A stop request abandons the writer (its encoder
    // undrained, its staged file removed) and cancels reading; the encode
    // then throws EncodingError::cancelled as soon as the pumps have ended.
    // Throws EncodingError (noVideoTrack, cannotStartReading, readerFailed,
    // writerFailed, cancelled; packing failures as PackingVideoInput words
    // them); media::MediaError when the source cannot be opened for reading.
    // On any throw the destination is as it was. The result says how much of
    // the sound stands in as silence for damage in the source, and how many
    // pictures were left out for it (readerFailed when too many were).
    // REQUIRES: asset != nullptr.
    EncodeResult encode(const media::AssetRef& asset, const std::filesystem::path& destination,
                        const ProgressCallback& progress, const PreviewCallback& preview,
                        std::stop_token stop = {}) const;
};

}  // namespace fw
