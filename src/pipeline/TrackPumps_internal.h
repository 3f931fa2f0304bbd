#pragma once
// Shared by the pump implementations.

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

}  // namespace fw::detail
