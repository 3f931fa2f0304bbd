#pragma once
// What an encode that succeeded has to say besides the file it wrote: how much
// of the source's sound could not be decoded and went out as silence, how much
// was left out, and how many of its pictures were left out for damage, so that
// the command line, the queue and the history can say so.
//
// Thread-safety: a plain value and pure functions.

#include <cstdint>
#include <string>

namespace fw {

struct EncodeResult {
    // Seconds of the output's sound that stand in for packets the decoder
    // refused; 0 when every packet decoded.
    double concealedSoundSeconds = 0;
    // Pictures of the source left out for damage in it (AssetReader::pictureTally); 0 when none was.
    std::int64_t damagedPictures = 0;
    // Seconds of the source's sound left out where its damaged stored times
    // stepped back over sound already given out; 0 when none was.
    double leftOutSoundSeconds = 0;
};

// Of each figure, the larger of the two (outputs that read the same source).
EncodeResult mostOfEach(const EncodeResult& a, const EncodeResult& b);

// "3.2 s of damaged sound replaced by silence" (one decimal, at least 0.1 for
// any concealment, so that a single refused packet still shows); empty for 0.
std::string concealedSoundNote(double seconds);
// "1.0 s of damaged sound left out", in the same figures; empty for 0.
std::string leftOutSoundNote(double seconds);
// "12 damaged pictures left out" ("1 damaged picture left out"); empty for 0.
std::string damagedPicturesNote(std::int64_t count);
// The notes of `damage` that are not empty, joined by "; ": the pictures',
// the sound replaced, the sound left out; empty when there is none.
std::string damageNote(const EncodeResult& damage);

}  // namespace fw
