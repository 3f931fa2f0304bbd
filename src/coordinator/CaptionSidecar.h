#pragma once
// The WebVTT copy of the user's SubRip captions written beside a finished
// movie output, under the output's own name with the extension "vtt".
// Every failure is silent and never fails the output it belongs to.
// Thread-safety: pure functions over the files named; safe from any thread.

#include "model/MovieMetadata.h"

#include <filesystem>
#include <optional>

namespace fw::CaptionSidecar {

// The output's path with its last extension replaced: clip_ProRes.mov gives
// clip_ProRes.vtt.
std::filesystem::path location(const std::filesystem::path& output);

// Writes the sidecar of `output` when metadata and captions are both enabled
// and a caption file is chosen, replacing any file there atomically. Returns
// the sidecar written, or nullopt when nothing was written: settings off, the
// caption file unreadable or not valid UTF-8 (no sidecar rather than a
// garbled one), or the write failed (a previous sidecar then stays whole).
std::optional<std::filesystem::path> write(const MetadataSettings& metadata, const std::filesystem::path& output);

}  // namespace fw::CaptionSidecar
