#include "model/EncodeResult.h"

#include "platform/core/NumberText.h"

#include <algorithm>
#include <cmath>

namespace fw {

std::string concealedSoundNote(double seconds) {
    if (!(seconds > 0)) return {};
    const double shown = std::max(std::round(seconds * 10) / 10, 0.1);
    return formatFixed(shown, 1) + " s of damaged sound replaced by silence";
}

std::string damagedPicturesNote(std::int64_t count) {
    if (count <= 0) return {};
    return std::to_string(count) + (count == 1 ? " damaged picture left out" : " damaged pictures left out");
}

std::string damageNote(double concealedSoundSeconds, std::int64_t damagedPictures) {
    const std::string pictures = damagedPicturesNote(damagedPictures),
                      sound = concealedSoundNote(concealedSoundSeconds);
    if (pictures.empty() || sound.empty()) return pictures + sound;
    return pictures + "; " + sound;
}

}  // namespace fw
