#include "codecs/imagefile/BGRARaster.h"

#include <stdexcept>
#include <string>

namespace fw::imagefile {

void checkRaster(const BGRARaster& raster, const char* format) {
    const std::string size = std::to_string(raster.width) + " \u00d7 " + std::to_string(raster.height);
    if (raster.width < 1 || raster.height < 1 || raster.width > kMaxSide || raster.height > kMaxSide)
        throw std::invalid_argument(std::string(format) + " picture size " + size + " is outside 1 to " +
                                    std::to_string(kMaxSide) + " pixels a side");
    if (raster.width * raster.height > kMaxPixels)
        throw std::invalid_argument(std::string(format) + " picture size " + size + " is over " +
                                    std::to_string(kMaxPixels) + " pixels");
    if (!raster.pixels || raster.rowBytes < 4 * raster.width)
        throw std::invalid_argument(std::string(format) + " picture of " + size + " has no pixels or short rows");
}

}  // namespace fw::imagefile
