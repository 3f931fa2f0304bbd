#pragma once
// Movies from sources that only the decode helper reads (see
// pipeline/FFmpegSource.h): the helper's stream, plain pictures and 16-bit
// sound, is a composed asset (pipeline/DecodeHelperAsset.h) that the movie
// encoder runs like any source: its pumps, resizer, writer settings, staged
// output and cancellation, to a ProRes, H.264 or HEVC movie. Nothing is left
// at the destination on failure or cancellation, and the helper is killed and
// reaped on every way out.
//
// Without a frame request the pictures keep the stream's size, made even for
// H.264 and HEVC by rounding each odd side up, as for every other source.
// The sound is written at the helper's rate, mono as mono and everything
// else as stereo (AAC in MPEG-4, 16-bit PCM in QuickTime).
//
// Thread-safety: a plain value; encode() is const, blocks, and may run on
// several threads at once.

#include "pipeline/FFmpegSource.h"
#include "pipeline/MovieEncoder.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <stop_token>

namespace fw {

struct FFmpegClipRequest {
    // What the video input encodes: its codec and rate settings; its size is
    // the frame request's (or the stream's, without one).
    VideoWriterSettings videoSettings;
    ContainerFileType fileType = ContainerFileType::quickTimeMovie;
    std::optional<FrameScaling> scaling;
    bool stripAudio = false;
    // Limits on the probe and on each read of the helper's stream, measured
    // by `clock` (empty: the steady clock; see ChildProcess).
    std::chrono::milliseconds timeLimit{30000};
    ChildProcess::Clock clock;
};

// The request for a movie route's settings (the route's picture, container
// and audio flag); the other movie settings have no meaning here.
FFmpegClipRequest ffmpegClipRequest(const MovieEncoder& route);

class FFmpegClipEncoder {
public:
    explicit FFmpegClipEncoder(FFmpegClipRequest request) : request_(std::move(request)) {}

    // Probes `source` through the helper, then encodes it as the overload
    // below; without a probe result throws EncodingError::readerFailed "the
    // file could not be decoded".
    void encode(const std::filesystem::path& source, const std::filesystem::path& destination,
                const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop = {}) const;

    // Streams `source`, already probed (`probe` gives the length progress is
    // measured against), through the helper into a movie at `destination`.
    // progress and preview as MovieEncoder::encode. A stop request kills the
    // helper and abandons the writer; the encode then throws
    // EncodingError::cancelled.
    // Throws EncodingError::readerFailed "the FFmpeg decode helper is not
    // installed", the stream's faults (DecodeHelperStream), the helper's last
    // standard-error line when it exits other than 0 before its stream is
    // whole (a whole stream is encoded whatever the exit status), "the
    // decoder produced no frames" for a stream without pictures; otherwise
    // what MovieEncoder::encode throws; std::system_error when the helper
    // cannot be started. On any throw the destination is as it was.
    void encode(const std::filesystem::path& source, const FFmpegSource::ProbeInfo& probe,
                const std::filesystem::path& destination, const ProgressCallback& progress,
                const PreviewCallback& preview, std::stop_token stop = {}) const;

private:
    FFmpegClipRequest request_;
};

}  // namespace fw
