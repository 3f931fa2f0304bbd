#pragma once
// What an encode that succeeded has to say besides the file it wrote: how much
// of the source's sound could not be decoded and went out as silence, and how
// many of its pictures were left out for damage, so that the command line, the
// queue and the history can say so.
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
};

// "3.2 s of damaged sound replaced by silence" (one decimal, at least 0.1 for
// any concealment, so that a single refused packet still shows); empty for 0.
std::string concealedSoundNote(double seconds);
// "12 damaged pictures left out" ("1 damaged picture left out"); empty for 0.
std::string damagedPicturesNote(std::int64_t count);
// Both notes, the pictures' first, joined by "; "; empty when there is neither.
std::string damageNote(double concealedSoundSeconds, std::int64_t damagedPictures);

}  // namespace fw
