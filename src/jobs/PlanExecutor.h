#pragma once
// The encode of one planned output (OutputPlan.h): the plan's route run by
// its encoder over the source as the plan's probe left it open. Nothing is
// decided here.
//
// Thread-safety: several plans may be encoded at once on different threads.

#include "jobs/OutputPlan.h"
#include "model/EncodeResult.h"
#include "pipeline/PreviewCallback.h"
#include "pipeline/TrackPumps.h"

#include <filesystem>
#include <stop_token>

namespace fw {

namespace jobs {

// Encodes `plan` into plan.destination and blocks until done; the result is
// the encoder's (routes that read no sound through the media layer: none to
// tell). The encoders stage their output, so on any throw the destination is
// as it was. Throws the encoders' errors (EncodingError, media::MediaError)
// and EncodingError::cancelled after a stop request.
EncodeResult encodePlan(const OutputPlan& plan, const ProgressCallback& progress, const PreviewCallback& preview,
                        std::stop_token stop = {});

}  // namespace jobs

// One output of `source` into `destination`, planned and encoded: probeSource,
// planOutputAt and encodePlan in turn, with their errors.
void encodeSource(const std::filesystem::path& source, const std::filesystem::path& destination,
                  const ExportConfiguration& configuration, const SourceEncodeOptions& options,
                  const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop = {});

}  // namespace fw
