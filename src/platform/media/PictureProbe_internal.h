#pragma once
// Internal to fw_media: a further probe for picture tracks whose size the
// ordinary probe did not find, because their first picture comes long after
// the file's start (an MPEG-TS or MPEG-PS that opens with sound alone). The
// ordinary probe looks at the first few seconds only.

#include "platform/media/FFmpeg_internal.h"

#include <filesystem>

namespace fw::media::detail {

// `probed` as it is when every picture track has its size (nothing more is
// read). Otherwise the file opened again and probed until a little past the
// first picture of those tracks, found by reading ahead of the probe at most
// an hour of the file's clock or 256 MiB of it; `probed` as it is when none
// comes by then. `interrupt` is given to the openings.
FormatInputPtr probeFurtherForPictureSizes(FormatInputPtr probed, const std::filesystem::path& path,
                                           const AVIOInterruptCB& interrupt = {});

}  // namespace fw::media::detail
