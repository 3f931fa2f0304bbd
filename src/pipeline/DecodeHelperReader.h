#pragma once
// Reads a source through the decode helper in stream mode, as two reader
// outputs: pictures (bgra8) and 16-bit PCM sound. DecodeHelperAsset.h makes
// an asset of them for the movie encoder.
//
// The helper runs as a child process from construction until destruction (see
// ChildProcess): destroying the reader kills and reaps it and whatever it
// started. Every read from its pipe has a time limit; cancel() kills it at
// once, so no pull stays blocked on a silent helper.
//
// Sound comes first in the stream: while an audio output exists and has not
// ended, the picture output waits for it. Without an audio output, sound is
// read and dropped. Pictures get times i / rate at the header's timescale
// (DecodeHelperHeader::frameTime), sound counts its frames from zero.
//
// Failures: once the stream fails (see DecodeHelperStream for what is
// refused), or the helper does not answer in time, every pull returns nullptr
// and finish() throws. Pulls never throw.
//
// Thread-safety: each output is pulled from one thread (the two from two
// threads); cancel() from any thread.

#include "model/EncodingError.h"
#include "platform/core/ChildProcess.h"
#include "platform/core/DecodeHelperStream.h"
#include "platform/media/AssetReader.h"

#include <chrono>
#include <filesystem>
#include <memory>

namespace fw {

class DecodeHelperReader {
public:
    // Starts `helper` on `source` and reads the stream's header.
    // Throws EncodingError::readerFailed when the header is refused or does
    // not come in time (with the helper's last standard-error line when it
    // exited other than 0), std::system_error when the helper cannot start.
    // The time limits are measured by `clock` (see ChildProcess).
    DecodeHelperReader(const std::filesystem::path& helper, const std::filesystem::path& source,
                       std::chrono::milliseconds readTimeLimit, ChildProcess::Clock clock = {});
    ~DecodeHelperReader();
    DecodeHelperReader(const DecodeHelperReader&) = delete;
    DecodeHelperReader& operator=(const DecodeHelperReader&) = delete;

    const DecodeHelperHeader& header() const;

    // The pictures, width × height bgra8 at header().frameRate. Call once.
    std::shared_ptr<media::AssetReaderOutput> videoOutput();
    // The sound as int16 PCM at the header's rate and channel count; nullptr
    // when the stream has none. Call once, before pulling pictures, or never.
    std::shared_ptr<media::AssetReaderOutput> audioOutput();

    // Kills the helper; pulls return nullptr from now on. Any thread.
    void cancel();

    // After the outputs have ended. Throws EncodingError::readerFailed when
    // the stream failed or ended without its end message (with the helper's
    // last standard-error line when it then exits other than 0), and "the
    // decoder produced no frames" for a whole stream without pictures. A whole
    // stream is kept however the helper exits. Kills a helper that does not
    // exit within the time limit. Nothing after cancel().
    void finish();

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace fw
