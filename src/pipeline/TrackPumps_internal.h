#pragma once
// Shared by the pump implementations.

#include "platform/media/AssetReader.h"
#include "platform/media/AssetWriter.h"

namespace fw::detail {

// Marks a writer input finished on every way out of a pump, so that a pump
// that stops never holds the other inputs back.
class FinishOnExit {
public:
    explicit FinishOnExit(media::AssetWriterInput& input) : input_(input) {}
    ~FinishOnExit() { input_.markAsFinished(); }
    FinishOnExit(const FinishOnExit&) = delete;
    FinishOnExit& operator=(const FinishOnExit&) = delete;

private:
    media::AssetWriterInput& input_;
};

// Passes a reader output's waits for the reader's other outputs on to the
// writer input it is pumped into, while the pump runs: so the writer never
// holds the other tracks back for a track whose pull waits for them. Declare
// it before anything that pulls on a thread of its own (ReadAhead), which
// must be gone first.
class PassSourceWaits {
public:
    PassSourceWaits(media::AssetReaderOutput& output, media::AssetWriterInput& input) : output_(output) {
        output.setWaitObserver([&input](bool waiting) { input.setSourceWaiting(waiting); });
    }
    ~PassSourceWaits() { output_.setWaitObserver({}); }
    PassSourceWaits(const PassSourceWaits&) = delete;
    PassSourceWaits& operator=(const PassSourceWaits&) = delete;

private:
    media::AssetReaderOutput& output_;
};

}  // namespace fw::detail
