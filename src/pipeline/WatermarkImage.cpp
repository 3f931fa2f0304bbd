#include "pipeline/WatermarkImage.h"

#include "platform/media/ImageDecoder.h"
#include "platform/media/MediaError.h"

namespace fw {

ImageRef loadWatermarkImage(const std::filesystem::path& file) {
    try {
        return media::ImageDecoder::pixelBuffer(file);
    } catch (const media::MediaError&) {
        return nullptr;
    }
}

}  // namespace fw
