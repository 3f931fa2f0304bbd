#pragma once
// Still-image outputs: PNG, JPEG (quality 90) and HEIC (HEVC, quality 90)
// through the media layer's image destinations, DPX and OpenEXR through our
// own writers.
//
// A movie source gives its poster frame (the first frame) at `destination`,
// or, as a sequence, every frame as a numbered file in the folder
// `destination`: <source name without extension>_<index, five digits or
// more>.<extension>, counting from 1 in source order. A still-image source
// gives one image at `destination` in both cases.
//
// Every picture goes through the frame resizer: turned upright by the source's
// display transform, fitted to the request's target (or kept at the source's
// displayed size), filtered, and composited over black. A burned-in timecode
// shows each frame's own source time (0 for a still image).
//
// Sequences: frames are read once, in order, by the movie encoder's reader
// (ResizedFrames); their files are encoded and written in parallel into a
// hidden folder beside the destination (StagedFolder), with at most a few
// frames in memory whatever the clip's length. A frame that cannot be written
// fails the sequence. Complete, the hidden folder takes the destination's
// place: an earlier folder there loses its earlier frames (of any count) and
// keeps everything else. A failed or cancelled sequence removes the hidden
// folder and the parents it created, and leaves an earlier folder as it was.
//
// Thread-safety: a plain value; encode() is const and may run on several
// threads at once. It blocks its caller; progress and preview are called from
// worker threads.

#include "encoders/EncodeRoute.h"
#include "model/EncodeResult.h"
#include "pipeline/TrackPumps.h"

#include <filesystem>
#include <stop_token>

namespace fw {

struct ImageExportEncoder {
    ImageRequest request;
    bool asSequence = false;

    // Throws EncodingError: unsupportedCodec (not an image codec; before the
    // source is opened), noVideoTrack (a media file without pictures: sound
    // only), imageDecodeFailed (with the image decoder's reason: a file that
    // is neither a movie nor a readable image), readerFailed (a sequence's
    // reader failing anywhere; a source without frames), cannotStartReading, writerFailed
    // (a picture that cannot be resized or written, with the reason),
    // cancelled. A single image replaces the destination only once complete.
    // The result counts a sequence's pictures left out for damage in the
    // movie (readerFailed when too many were).
    EncodeResult encode(const std::filesystem::path& source, const std::filesystem::path& destination,
                        const ProgressCallback& progress, const PreviewCallback& preview,
                        std::stop_token stop = {}) const;
};

}  // namespace fw
