#pragma once
// One output of one source, from its settings to the file: the route
// dispatch the command line and the batch coordinator share. It opens the
// source as its route needs, picks the route (encodeRoute, or stillClipRoute
// for a still image on a Hap or DXV route), falls back to the decode helper
// for a movie the media layer refuses, and runs the chosen encoder.
//
// Thread-safety: a pure function over its arguments; several encodes may run
// at once on different threads.

#include "encoders/EncodeRoute.h"
#include "model/ExportConfiguration.h"
#include "pipeline/TrackPumps.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace fw {

// What an encode adds to the output's configuration. The defaults are the
// command line's.
struct SourceEncodeOptions {
    enum class Images { single, sequence };
    // A source without pictures that the decode helper cannot read either:
    // a failure (noVideoTrack), or its sound alone as an M4A file.
    enum class WithoutPictures { fail, soundOnly };
    BatchInputs batch;
    double stillClipSeconds = kStillClipSeconds;  // a clip made from a still image
    Images images = Images::single;               // the image routes: one poster, or every frame
    WithoutPictures withoutPictures = WithoutPictures::fail;
};

// True when `source` is a still image, by its name (SupportedMediaType) or by
// its content (a picture format ImageDecoder reads, whatever the name).
bool isStillImageSource(const std::filesystem::path& source);

// The picture size of a camera-RAW clip (SupportedMediaType::isCameraRaw),
// through the registered plug-in that opens it. Throws
// EncodingError::rawDecoderUnavailable (the lower-cased extension) without
// one, and the plug-in's open failure.
IntSize cameraRawPictureSize(const std::filesystem::path& source);

// The length in seconds of `source` as an encode reads it: a movie's or a
// sound's duration, a camera-RAW clip's frames at its rate, or what the
// decode helper's probe says of a file the media layer refuses. None for a
// still image and for a file nothing reads. Opens the file; never throws.
std::optional<double> timelineSeconds(const std::filesystem::path& source);

// Plays `clips` one after another into one movie (StitchComposition) through
// the movie encoder: the configuration's codec and size (resize on: its box
// over the first clip's frame, else that frame made even), no trim, geometry,
// filters or sound changes; only the batch's colour tags and metadata.
// `destination` is asked for the file once the size is known, with the size
// names carry. Returns the file written. Throws as encodeSource, and
// EncodingError::noVideoTrack when no clip has pictures.
std::filesystem::path encodeStitch(const std::vector<std::filesystem::path>& clips,
                                   const ExportConfiguration& configuration, const SourceEncodeOptions& options,
                                   const std::function<std::filesystem::path(IntSize nameSize)>& destination,
                                   const ProgressCallback& progress, const PreviewCallback& preview,
                                   std::stop_token stop = {});

// Encodes `source` into `destination` and blocks until done. A camera-RAW
// clip goes through its plug-in to ProRes, H.264 or HEVC: pictures only, no
// trim, no frame-rate conversion, no metadata; another codec fails with
// "<codec> from RAW — choose ProRes, H.264, or HEVC".
//   configuration: as resolvingAlpha() returns it, numbers already bounded.
// The encoders stage their output, so on any throw the destination is as it
// was. Throws the encoders' errors (EncodingError, media::MediaError),
// EncodingError::readerFailed for a folder, EncodingError::cancelled after a
// stop request, and std::runtime_error for a codec that cannot be made from a
// source only the decode helper reads ("<codec> output from this source isn't
// supported yet — convert to ProRes first").
void encodeSource(const std::filesystem::path& source, const std::filesystem::path& destination,
                  const ExportConfiguration& configuration, const SourceEncodeOptions& options,
                  const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop = {});

}  // namespace fw
