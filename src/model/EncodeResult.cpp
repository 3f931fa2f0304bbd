#include "model/EncodeResult.h"

#include "platform/core/NumberText.h"

#include <algorithm>
#include <cmath>

namespace fw {

namespace {

// One decimal, and at least 0.1 for any sound at all, so that a single packet still shows.
std::string soundNote(double seconds, const char* what) {
    if (!(seconds > 0)) return {};
    const double shown = std::max(std::round(seconds * 10) / 10, 0.1);
    return formatFixed(shown, 1) + " s of damaged sound " + what;
}

}  // namespace

EncodeResult mostOfEach(const EncodeResult& a, const EncodeResult& b) {
    return {std::max(a.concealedSoundSeconds, b.concealedSoundSeconds), std::max(a.damagedPictures, b.damagedPictures),
            std::max(a.leftOutSoundSeconds, b.leftOutSoundSeconds)};
}

std::string concealedSoundNote(double seconds) { return soundNote(seconds, "replaced by silence"); }

std::string leftOutSoundNote(double seconds) { return soundNote(seconds, "left out"); }

std::string damagedPicturesNote(std::int64_t count) {
    if (count <= 0) return {};
    return std::to_string(count) + (count == 1 ? " damaged picture left out" : " damaged pictures left out");
}

std::string damageNote(const EncodeResult& damage) {
    std::string note;
    for (const std::string& part :
         {damagedPicturesNote(damage.damagedPictures), concealedSoundNote(damage.concealedSoundSeconds),
          leftOutSoundNote(damage.leftOutSoundSeconds)}) {
        if (part.empty()) continue;
        if (!note.empty()) note += "; ";
        note += part;
    }
    return note;
}

}  // namespace fw
