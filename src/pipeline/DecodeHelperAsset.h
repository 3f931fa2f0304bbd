#pragma once
// A decode-helper stream as a composed asset (platform/media/ComposedSource.h),
// so that the movie encoder runs it like any other source: one video track of
// the helper's pictures (bgra8, no colour tags, the header's size and rate)
// and, when asked for, one sound track of its 16-bit PCM.
//
// The stream is read once, by one reader: each track's samples can be taken
// by one output only, and the sound track, when there is one, must be read
// (the pictures wait for the sound that comes before them). Cancelling the
// reader, or destroying it, kills the helper.
//
// Sound is read at the helper's own rate (another rate is refused), in the
// asked sample format with the asked gain. Asked for its own channel count it
// comes as it is; sound of more than two channels asked for as stereo is
// handed out at its own width, stamped as such, for the writer to downmix.
//
// At the pictures' end the helper's outcome is checked (DecodeHelperReader::
// finish): a failure fails the reader, and decodeHelperFailure() then gives
// the error to report.
//
// Thread-safety: as ComposedSource.

#include "model/EncodingError.h"
#include "pipeline/DecodeHelperReader.h"
#include "platform/media/Asset.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace fw {

// The asset of `source` streamed by `reader`, `durationSeconds` long (0 or
// less: unknown). REQUIRES: reader != nullptr, no output taken from it yet.
media::AssetRef decodeHelperAsset(std::shared_ptr<DecodeHelperReader> reader, const std::filesystem::path& source,
                                  double durationSeconds, bool withSound);

// The helper's failure found at the end of the pictures; none before, or for
// another asset.
std::optional<EncodingError> decodeHelperFailure(const media::Asset& asset);

}  // namespace fw
