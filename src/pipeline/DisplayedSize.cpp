#include "pipeline/DisplayedSize.h"

#include "model/EncodingError.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace fw {

IntSize displayedPixelSize(const media::AssetTrack& track) {
    // None of its pictures was found to measure: any size given here would be made up.
    if (!(track.naturalSize.width > 0 && track.naturalSize.height > 0))
        throw std::runtime_error("The size of the video track's pictures could not be found.");
    const media::Size shown = track.displayedSize();
    // 2^53: far beyond any real picture, and still exact as a double.
    constexpr double kLargest = 9007199254740992.0;
    if (!std::isfinite(shown.width) || !std::isfinite(shown.height) || shown.width >= kLargest ||
        shown.height >= kLargest)
        throw std::runtime_error("The video track reports no usable picture size.");
    return {std::max<std::int64_t>(static_cast<std::int64_t>(shown.width), 2),
            std::max<std::int64_t>(static_cast<std::int64_t>(shown.height), 2)};
}

IntSize displayedPixelSize(const media::Asset& asset) {
    const auto videoTracks = asset.tracks(media::MediaType::video);
    if (videoTracks.empty()) throw EncodingError::noVideoTrack();
    return displayedPixelSize(videoTracks.front());
}

}  // namespace fw
