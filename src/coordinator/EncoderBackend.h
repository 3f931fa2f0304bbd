#pragma once
// The engine's encodes as the coordinator sees them: one probe of a source
// for an output and the encode of a planned output (jobs/OutputPlan.h), what
// a job is weighed by, and the stitch. The application wires the
// engine's (EngineEncoderBackend); tests wire stand-ins.

#include "encoders/SourceEncode.h"
#include "jobs/OutputPlan.h"
#include "model/EncodeResult.h"
#include "pipeline/PreviewCallback.h"
#include "pipeline/TrackPumps.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace fw {

class EncoderBackend {
public:
    virtual ~EncoderBackend() = default;
    // Looks at `source` once for an output of `configuration`, as
    // jobs::probeSource does, with its errors. Called on the run's worker
    // threads, several at once.
    virtual jobs::SourceProbe probe(const std::filesystem::path& source,
                                    const ExportConfiguration& configuration) const = 0;
    // The source's length in seconds as timelineSeconds (encoders/SourceEncode.h)
    // gives it; none when unknown, as here. Weighs the job in the progress of
    // its run. May be called from any thread; never throws.
    virtual std::optional<double> timelineSeconds(const std::filesystem::path&) const { return std::nullopt; }
    // What a job of `source` weighs in the progress of its run, as
    // sourceMeasure (encoders/SourceEncode.h) gives it; none when unknown.
    // This one: a still image (isStillImageSource), else a movie of
    // timelineSeconds() whose picture and frame rate are not known. May be
    // called from any thread; never throws.
    virtual std::optional<ProgressEstimate::SourceMeasure> measure(const std::filesystem::path& source) const;
    // Writes one planned output as jobs::encodePlan does, with its result and
    // errors; blocks. Called on the run's worker threads, several at once; the
    // callbacks are called on encoder threads.
    virtual EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback& progress,
                                const PreviewCallback& preview, std::stop_token stop) const = 0;
    // Joins `clips` into one output as encodeStitch (encoders/SourceEncode.h)
    // does; returns the file written. Called on a worker thread.
    virtual std::filesystem::path stitch(const std::vector<std::filesystem::path>& clips,
                                         const ExportConfiguration& configuration, const SourceEncodeOptions& options,
                                         const std::function<std::filesystem::path(IntSize nameSize)>& destination,
                                         const ProgressCallback& progress, const PreviewCallback& preview,
                                         std::stop_token stop) const = 0;
};

// The encoders of src/encoders over the media layer, through src/jobs.
class EngineEncoderBackend final : public EncoderBackend {
public:
    jobs::SourceProbe probe(const std::filesystem::path& source,
                            const ExportConfiguration& configuration) const override;
    std::optional<double> timelineSeconds(const std::filesystem::path& source) const override;
    std::optional<ProgressEstimate::SourceMeasure> measure(const std::filesystem::path& source) const override;
    EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback& progress, const PreviewCallback& preview,
                        std::stop_token stop) const override;
    std::filesystem::path stitch(const std::vector<std::filesystem::path>& clips,
                                 const ExportConfiguration& configuration, const SourceEncodeOptions& options,
                                 const std::function<std::filesystem::path(IntSize nameSize)>& destination,
                                 const ProgressCallback& progress, const PreviewCallback& preview,
                                 std::stop_token stop) const override;
};

}  // namespace fw
