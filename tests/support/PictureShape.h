#pragma once
// Where a bright picture landed on a black canvas, and the shape it has there: how the still and movie tests check
// that a picture keeps its displayed shape whatever size it was fitted to.

#include "support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace fw::test {

struct PictureBounds {
    int canvasWidth = 0, canvasHeight = 0;
    // The pixels above half scale: columns left...right - 1, rows top...bottom - 1.
    int left = 0, top = 0, right = 0, bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    // How far, in pixels, the picture's width is from what `shape` (width over height) gives its height.
    double widthOffBy(double shape) const { return std::abs(width() - shape * height()); }

    friend std::ostream& operator<<(std::ostream& out, const PictureBounds& b) {
        return out << b.width() << "x" << b.height() << " at " << b.left << "," << b.top << " on " << b.canvasWidth
                   << "x" << b.canvasHeight;
    }
};

// The bounds of the samples above 127 in channel 0 of width × height pixels of `channels` bytes, rows `stride` bytes
// apart (0: packed); none when no sample is.
inline std::optional<PictureBounds> brightBounds(const std::uint8_t* pixels, int width, int height, int channels,
                                                 std::size_t stride = 0) {
    if (stride == 0) stride = static_cast<std::size_t>(width) * channels;
    PictureBounds bounds{width, height, width, height, 0, 0};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (pixels[y * stride + static_cast<std::size_t>(x) * channels] < 128) continue;
            bounds.left = std::min(bounds.left, x);
            bounds.right = std::max(bounds.right, x + 1);
            bounds.top = std::min(bounds.top, y);
            bounds.bottom = std::max(bounds.bottom, y + 1);
        }
    if (bounds.right == 0) return std::nullopt;
    return bounds;
}

// The same in the first picture FFmpeg decodes from `file`, as it is shown; none when FFmpeg cannot decode it.
inline std::optional<PictureBounds> brightBounds(const std::filesystem::path& file) {
    // One run of the tool: a PGM picture says its own size ("P5 <width> <height> 255", then the samples).
    const auto result = runCommand({ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string(), "-frames:v", "1",
                                    "-f", "image2pipe", "-c:v", "pgm", "-pix_fmt", "gray", "-"});
    const std::string& pgm = result.standardOutput;
    int width = 0, height = 0, largest = 0, headerLength = 0;
    if (result.exitStatus != 0 ||
        std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &width, &height, &largest, &headerLength) != 3 || largest != 255 ||
        width <= 0 || height <= 0)
        return std::nullopt;
    const std::size_t start = static_cast<std::size_t>(headerLength) + 1;  // one white-space byte ends the header
    if (pgm.size() < start + static_cast<std::size_t>(width) * height) return std::nullopt;
    return brightBounds(reinterpret_cast<const std::uint8_t*>(pgm.data() + start), width, height, 1);
}

}  // namespace fw::test
