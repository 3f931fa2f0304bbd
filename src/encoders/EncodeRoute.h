#pragma once
// Which encoder makes one output, and what it is handed: the one mapping from
// an output's settings to an encoder. The command line and the batch
// coordinator both build their encodes here, so a setting means the same on
// every path.
//
// The route is decided from the output's configuration (after
// resolvingAlpha()), the source's displayed size and what the batch adds
// (filters, audio settings, loudness gain, colour tags, movie metadata). The
// platform movie encoder's request is the MovieEncoder value itself; the
// others are requests that their encoders take as they are.
//
// Sizes: a movie route's frame request always has even sides (4:2:0 chroma),
// and the writer is asked for the same size, so frames reach it as they will
// be stored. Without a frame request an H.264 or HEVC writer is still asked for
// even sides (it converts the decoded pictures); ProRes keeps an odd source
// size. The still routes keep the box asked for (stillFrame).
//
// Thread-safety: plain values and pure functions.

#include "model/ExportConfiguration.h"
#include "model/MovieMetadata.h"
#include "pipeline/AudioSettings.h"
#include "pipeline/Filters.h"
#include "pipeline/FrameScaling.h"
#include "pipeline/MovieEncoder.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>

namespace fw {

// What the batch adds to an output's configuration. The defaults are the
// command line's: no filters, default audio settings, unity gain, no colour
// tags and no metadata.
struct BatchInputs {
    // Used only when active; the same value is shared by every encode of a run.
    std::shared_ptr<const PreparedFilters> filters;
    AudioSettings audio;
    float loudnessGain = 1.0f;  // linear
    std::optional<ColorProperties> colorProperties;
    std::optional<MovieMetadata> metadata;
    // The movie routes' decoder and encoder threads (MovieEncoder::threads);
    // 0: each sizes itself to the whole machine.
    int threads = 0;
};

// The picture request of the still encoders (GIF and images): the target box,
// only when resizing is on; the mode is the configuration's also when it is off.
struct StillTarget {
    std::optional<IntSize> size;
    ResizeMode mode = ResizeMode::aspect;
    std::shared_ptr<const PreparedFilters> filters;
};

struct GIFRequest {
    StillTarget target;
};

struct ImageRequest {
    OutputCodec codec = OutputCodec::png;
    StillTarget target;
};

// Sound and range of the Hap and DXV movie encoders.
struct MovieSound {
    float gain = 1.0f;  // linear
    bool strip = false;
    bool downmixMono = false;
    std::optional<TrimRange> trim;
};

enum class HapKind { hap, hapAlpha, hapQ };

struct HapRequest {
    HapKind kind = HapKind::hap;
    std::optional<FrameScaling> scaling;
    MovieSound sound;
    int threads = 0;  // BatchInputs::threads
};

enum class DXVKind { dxv2, dxv3 };

struct DXVRequest {
    DXVKind kind = DXVKind::dxv2;
    bool alpha = false;
    bool highQuality = false;  // DXV3 only
    std::optional<FrameScaling> scaling;
    MovieSound sound;
    int threads = 0;  // BatchInputs::threads
};

// A movie made of one still image shown for a while (the Hap and DXV still
// routes): the picture request of the still routes, the clip's length and its
// frame rate.
inline constexpr double kStillClipSeconds = 5;
inline constexpr int kStillClipFrameRate = 30;

struct StillClip {
    StillTarget target;
    double durationSeconds = kStillClipSeconds;
    int frameRate = kStillClipFrameRate;
};

struct HapStillRequest {
    HapKind kind = HapKind::hap;
    StillClip clip;
};

struct DXVStillRequest {
    DXVKind kind = DXVKind::dxv2;
    bool alpha = false;
    bool highQuality = false;  // DXV3 only
    StillClip clip;
};

// A still image clip in a platform codec (ProRes, H.264, HEVC): the clip and
// what the writer is asked for; the movie encoder's request follows once the
// picture's size is known (stillMovieEncoder). 8 bits a channel whatever the
// codec; HEVC gets the encoder's own quality.
struct StillMovieRequest {
    OutputCodec codec = OutputCodec::proRes;
    ProResVariant proResVariant = ProResVariant::hq;
    std::optional<H264Settings> h264;  // H.264 only
    std::optional<ColorProperties> colorProperties;
    StillClip clip;
};

// The frames of a still clip: N = max(whole part of duration × rate, 1),
// frame i at i / rate. Throws EncodingError::writerFailed for a rate of 0 or
// less and for a length that is not finite or gives 2^31 frames or more.
std::int64_t stillFrameCount(const StillClip& clip);

struct EncodeRoute {
    // The size output names carry ({width}, {height}): for the movie routes
    // the frame size written (so an odd side rounded up to even is named
    // even); for the still routes the target box, or 0 × 0 without one.
    IntSize nameSize;
    std::variant<GIFRequest, ImageRequest, HapRequest, DXVRequest, HapStillRequest, DXVStillRequest, StillMovieRequest,
                 MovieEncoder>
        encoder;
};

// The size a platform writer of `family` is asked for when decoded pictures
// of `picture` pixels reach it without a frame request: H.264 and HEVC take
// even sides (4:2:0 chroma; the writer converts an odd picture), ProRes keeps
// any size. Every route that writes pictures as they come sizes its writer
// here.
IntSize writerFrameSize(VideoCodecFamily family, IntSize picture);

// True when the configuration's route sizes frames from the source's picture
// (the movie routes), so encodeRoute needs its displayed size.
bool needsSourceSize(const ExportConfiguration& configuration);

// The route of one output.
//   configuration: as resolvingAlpha() returns it.
//   sourceDisplayedSize: displayedPixelSize() of the source; read only when
//     needsSourceSize(configuration).
// Throws EncodingError::unsupportedCodec (with the codec's name) for a codec
// no encoder here makes, EncodingError::writerFailed (saying the smallest
// size) for an HEVC frame under 16 pixels a side, and std::invalid_argument
// when a movie route is asked for without a source size.
EncodeRoute encodeRoute(const ExportConfiguration& configuration, std::optional<IntSize> sourceDisplayedSize,
                        const BatchInputs& batch = {});

// True for the codecs whose encoders also make a clip from a still image
// source (Hap, DXV and the platform movie codecs); the route of such an
// output is stillClipRoute's.
bool makesStillClip(OutputCodec codec);

// The route of an output made from a still image source: the codec's kind
// (or writer settings) chosen as encodeRoute chooses them, the still target,
// durationSeconds at kStillClipFrameRate. Throws
// EncodingError::unsupportedCodec for a codec no encoder here makes, and
// std::invalid_argument unless makesStillClip(codec).
EncodeRoute stillClipRoute(const ExportConfiguration& configuration, const BatchInputs& batch = {},
                           double durationSeconds = kStillClipSeconds);

// The frame of the still routes (a still image, a movie's poster frame or a
// sequence's frames; not GIF, which is sized as a movie): its size and the
// mode the frame resizer places the picture in it by.
struct StillFrame {
    IntSize size;
    ResizeMode placement = ResizeMode::aspect;
};

// Whether the stored picture needs even sides (4:2:0 chroma).
enum class FrameSides { any, even };

// The still frame for a picture of `picture` pixels: with a target box,
// exactly that box (each side at least 1) with the picture placed inside it
// by the target's mode, aspect fitting it whole as fit does; without one, the
// picture's own size. FrameSides::even adds one to an odd side.
StillFrame stillFrame(const StillTarget& target, IntSize picture, FrameSides sides = FrameSides::any);

// The movie encoder of a still movie whose picture is `picture` pixels: frames
// of stillFrame (even for H.264 and HEVC, and for every codec when the size
// is the picture's own), filtered and composited on black, 8-bit, in the
// request's codec; no sound. Throws EncodingError::unsupportedCodec for a
// codec the platform encoders do not make, and EncodingError::writerFailed
// for an HEVC frame under 16 pixels a side.
MovieEncoder stillMovieEncoder(const StillMovieRequest& request, IntSize picture);

}  // namespace fw
