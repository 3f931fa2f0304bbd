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

}  // namespace fw
