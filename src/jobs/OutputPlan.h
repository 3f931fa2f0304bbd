#pragma once
// What one output of one source will be, decided once: the command line and
// the coordinator both plan here and hand the plan to encodePlan
// (PlanExecutor.h), which decides nothing more.
//
// A plan is made from one probe of the source: an asset the media layer
// opened (kept open for the encode), the decode helper's probe of a file the
// media layer refuses, a camera-RAW clip, or nothing opened at all when the
// route's encoder reads the file itself (GIF, images, a still image made into
// a clip). From it come the bounded settings, the resolved alpha, the route,
// the picture size written, the name and its reservation, and whether a
// caption sidecar goes beside the file.
//
// Thread-safety: plain values and functions over their arguments; a reserve
// callback shared by several threads must lock on its own.

#include "encoders/EncodeRoute.h"
#include "encoders/SourceEncode.h"
#include "jobs/OutputReservations.h"
#include "model/ExportConfiguration.h"
#include "model/Size.h"
#include "pipeline/FFmpegSource.h"
#include "platform/core/Date.h"
#include "platform/media/Asset.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace fw {

class RawClip;

namespace jobs {

// What one look at a source found.
struct SourceProbe {
    enum class Kind {
        unopened,   // its route's encoder reads the file itself
        media,      // the media layer opened it: `asset`
        helper,     // only the decode helper reads it: `helper`
        cameraRaw,  // opened through its plug-in: `raw`
        soundOnly,  // the media layer opens it, but no one finds pictures in it
    };
    std::filesystem::path source;
    Kind kind = Kind::unopened;
    // A still image by its name or its content, or as the media layer opened it.
    bool still = false;
    // The displayed picture size (orientation applied); none when unopened or sound only.
    std::optional<IntSize> pictureSize;
    media::AssetRef asset;
    std::optional<FFmpegSource::ProbeInfo> helper;
    std::shared_ptr<RawClip> raw;

    // A movie of `size` with nothing opened: what a stand-in encoder backend answers.
    static SourceProbe sized(std::filesystem::path source, IntSize size);
};

// Looks at `source` once, as an output of `configuration` (its codec) needs:
// opened by the media layer when its route is sized from the picture, else
// by the decode helper's probe; a camera-RAW clip through its plug-in. Throws
// EncodingError::readerFailed for a folder, rawDecoderUnavailable for a RAW
// clip without a plug-in, std::runtime_error "<codec> from RAW — choose
// ProRes, H.264, or HEVC", and the media layer's error for a file neither
// the media layer nor the helper reads.
SourceProbe probeSource(const std::filesystem::path& source, const ExportConfiguration& configuration);

// The displayed pixel size the movie routes size (and name) an output of the
// probed source by: the media layer's displayed size (orientation applied),
// the decode helper's or the camera-RAW clip's. Throws
// EncodingError::noVideoTrack when the probe found no pictures to size: sound
// alone (a cover picture is no video) or a source left unopened.
IntSize naturalPixelSize(const SourceProbe& probe);

// Where outputs are named: the output folder (else each source's own) and the
// {date} of the run.
struct OutputPlace {
    std::optional<std::filesystem::path> outputDirectory;
    Date date = std::chrono::system_clock::now();
};

// Takes a name for an output of `source` and returns the one to write
// (OutputReservations::reserve numbers a taken name); throws to refuse it.
using ReserveName = std::function<std::filesystem::path(
    const std::filesystem::path& source, const std::filesystem::path& destination, OutputReservations::Kind kind)>;

struct OutputPlan {
    SourceProbe probe;
    // Bounded (SettingsBounds) and alpha resolved.
    ExportConfiguration configuration;
    // The caller's options, with the image route's single or sequence decided.
    SourceEncodeOptions options;
    EncodeRoute route;  // none for a sound-only output
    bool soundOnly = false;
    bool sequence = false;  // a folder of every frame's picture
    std::filesystem::path destination;
    // A movie: its captions go in a sidecar beside it.
    bool sidecar = false;

    // The size written ({width} × {height} of the name); 0 × 0 for sound only
    // and for a still route without a box.
    IntSize writtenSize() const { return route.nameSize; }
    const std::filesystem::path& source() const { return probe.source; }
};

// Plans one output of `probe.source` with `settings` (as the user gave them:
// bounded and alpha resolved here). `reserve` may be empty: the name is taken
// as it is. Throws EncodingError::noVideoTrack for a sound-only source unless
// options.withoutPictures allows it, std::runtime_error for a texture codec
// from a source only the decode helper reads ("<codec> output from this
// source isn't supported yet — convert to ProRes first"), and what encodeRoute
// and `reserve` throw.
OutputPlan planOutput(SourceProbe probe, const ExportConfiguration& settings, SourceEncodeOptions options,
                      const OutputPlace& place, const ReserveName& reserve = {});

// The same plan written to `destination` as it is, unnamed and unreserved.
OutputPlan planOutputAt(SourceProbe probe, const ExportConfiguration& settings, SourceEncodeOptions options,
                        const std::filesystem::path& destination);

// The progress of a job of `count` outputs while output `index` (from 0) is
// `fraction` done, in [0, 1] whatever the encoder reports.
double jobProgress(std::size_t index, std::size_t count, double fraction);

}  // namespace jobs
}  // namespace fw
