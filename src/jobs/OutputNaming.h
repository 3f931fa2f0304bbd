#pragma once
// Where each output goes: a name stem from the output's template, a folder
// (the chosen output folder, else the source's own) and the codec's
// extension. Every route, the stitch and the audio-only output name their
// files here; nothing here touches the file system. Collisions within one run
// and outputs that would overwrite their source are OutputReservations' job.
// Thread-safety: pure functions (the date reads the local time zone).

#include "model/ExportConfiguration.h"
#include "model/Size.h"
#include "platform/core/Date.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fw::OutputNaming {

// The {date} text: the local calendar date as "yyyy-MM-dd", digits always ASCII.
std::string dateString(Date when);

// The source's last path component without its extension: the {name} text.
std::string sourceName(const std::filesystem::path& source);

// `outputDirectory` when set, else the folder holding the source.
std::filesystem::path folder(const std::filesystem::path& source,
                             const std::optional<std::filesystem::path>& outputDirectory);

// folder / stem "." extension for one output.
//   configuration: as resolvingAlpha() returns it, so HEVC with alpha is named
//     as HEVC + Alpha; its template, codec suffix and extension are used.
//   nameSize: EncodeRoute::nameSize, the frame size written.
std::filesystem::path destination(const std::filesystem::path& source, const ExportConfiguration& configuration,
                                  IntSize nameSize, const std::optional<std::filesystem::path>& outputDirectory,
                                  Date now);

// The {codec} text of audio-only outputs.
inline constexpr std::string_view kAudioOnlyCodecText = "audio";

// The audio-only output: {codec} is "audio", the size 0 × 0, the extension "m4a".
std::filesystem::path audioDestination(const std::filesystem::path& source, const ExportConfiguration& configuration,
                                       const std::optional<std::filesystem::path>& outputDirectory, Date now);

// The stitched movie: {name} is "stitched", the folder that of the first clip.
std::filesystem::path stitchDestination(const std::filesystem::path& firstClip,
                                        const ExportConfiguration& configuration, IntSize size,
                                        const std::optional<std::filesystem::path>& outputDirectory, Date now);

// The folder of an image sequence: <name>_<codec suffix>, template unused.
std::filesystem::path imageSequenceFolder(const std::filesystem::path& source, OutputCodec codec,
                                          const std::optional<std::filesystem::path>& outputDirectory);

// Whether `file` bears a name an output of `source` gets beside it under the
// default template or the proxies' ("<name>_<codec>.<codec's extension>",
// "<name>_audio.m4a", "<name>_proxy.<mov|mp4>"), perhaps numbered ("-2"). Case
// matters, as the names are written.
bool isDefaultOutputName(const std::filesystem::path& file, const std::filesystem::path& source);

}  // namespace fw::OutputNaming
