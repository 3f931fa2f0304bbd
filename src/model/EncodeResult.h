#pragma once
// What an encode that succeeded has to say besides the file it wrote: how much
// of the source's sound could not be decoded and went out as silence, so that
// the command line, the queue and the history can say so.
//
// Thread-safety: a plain value and a pure function.

#include <string>

namespace fw {

struct EncodeResult {
    // Seconds of the output's sound that stand in for packets the decoder
    // refused; 0 when every packet decoded.
    double concealedSoundSeconds = 0;
};

// "3.2 s of damaged sound replaced by silence" (one decimal, at least 0.1 for
// any concealment, so that a single refused packet still shows); empty for 0.
std::string concealedSoundNote(double seconds);

}  // namespace fw
