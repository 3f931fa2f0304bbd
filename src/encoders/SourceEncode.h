#pragma once
// What the encodes of the command line and the batch coordinator share below
// their plans (jobs/OutputPlan.h): the options an encode adds to an output's
// configuration, the tests a source is sorted by, its length, and the stitch.
//
// Thread-safety: pure functions over their arguments; several encodes may run
// at once on different threads.

#include "encoders/EncodeRoute.h"
#include "model/ExportConfiguration.h"
#include "model/ProgressEstimate.h"
#include "pipeline/TrackPumps.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace fw {

class RawDecoder;

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

// The plug-in that opens the camera-RAW clip `source`
// (SupportedMediaType::isCameraRaw). Throws EncodingError::rawDecoderUnavailable
// (the lower-cased extension) without one.
std::shared_ptr<const RawDecoder> cameraRawDecoder(const std::filesystem::path& source);

// The length in seconds of `source` as an encode reads it: a movie's or a
// sound's duration, a camera-RAW clip's frames at its rate, or what the
// decode helper's probe says of a file the media layer refuses. None for a
// still image and for a file nothing reads. Opens the file; never throws.
std::optional<double> timelineSeconds(const std::filesystem::path& source);

// What an encode of `source` goes through, as a run's estimate weighs it: a
// still image (its picture not read), a sound's length, or a movie's length
// (timelineSeconds), picture and frame rate, each 0 where the file does not
// say. None for a file nothing reads. Opens the file; never throws.
std::optional<ProgressEstimate::SourceMeasure> sourceMeasure(const std::filesystem::path& source);

// Plays `clips` one after another into one movie (StitchComposition) through
// the movie encoder: the configuration's codec and size (resize on: its box
// over the first clip's frame, else that frame made even), no trim, geometry,
// filters or sound changes; only the batch's colour tags and metadata.
// `destination` is asked for the file once the size is known, with the size
// names carry. Returns the file written. Throws the movie encoder's errors,
// EncodingError::noVideoTrack when no clip has pictures.
std::filesystem::path encodeStitch(const std::vector<std::filesystem::path>& clips,
                                   const ExportConfiguration& configuration, const SourceEncodeOptions& options,
                                   const std::function<std::filesystem::path(IntSize nameSize)>& destination,
                                   const ProgressCallback& progress, const PreviewCallback& preview,
                                   std::stop_token stop = {});

}  // namespace fw
