#include "platform/media/LibraryLogs.h"

#include "platform/media/FFmpeg_internal.h"

namespace fw::media {

// quietLibraryLogs only lowers the library's default level, so a level set
// here stays in force.
void silenceLibraryLogs() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace fw::media
