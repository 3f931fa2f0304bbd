// Stills and GIFs from sources whose pixels are not square: the picture keeps the shape a player shows, whatever the
// route, the target box and the mode that places it there.

#include "encoders/GIFEncoder.h"
#include "encoders/ImageExportEncoder.h"
#include "support/PictureShape.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Source {
    const char* name;
    fs::path file;
    double shape;  // displayed width over height
};

// Bright pictures (three frames) stored at one shape and shown at another: PAL 4:3 (16:15 pixels, stored 1.25), NTSC
// DV 4:3 (10:11 pixels, stored 1.5), and the latter on its side.
std::vector<Source> sources() {
    const auto clip = [](const std::string& name, const std::string& size, const std::string& pixelAspect) {
        return test::generated(name, {"-f", "lavfi", "-i", "color=c=white:size=" + size + ":rate=10:duration=0.3",
                                      "-vf", "setsar=" + pixelAspect, "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    };
    const fs::path dv = clip("dv.mov", "90x60", "10/11");
    return {{"PAL", clip("pal.mov", "90x72", "16/15"), 4.0 / 3.0},
            {"NTSC DV", dv, 90.0 * 10 / 11 / 60},
            {"NTSC DV turned",
             test::generated("dv-turned.mov", {"-i", dv.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"}),
             60 / (90.0 * 10 / 11)}};
}

enum class Route { png, jpeg, dpx, pngSequence, gif };

// The first picture `route` makes of `source` at `target` in `folder`.
fs::path encoded(Route route, const fs::path& source, const StillTarget& target, const fs::path& folder) {
    if (route == Route::gif) {
        GIFEncoder encoder;
        encoder.request.target = target;
        encoder.encode(source, folder / "out.gif", {});
        return folder / "out.gif";
    }
    ImageExportEncoder encoder;
    encoder.request.codec = route == Route::jpeg  ? OutputCodec::jpeg
                            : route == Route::dpx ? OutputCodec::dpx
                                                  : OutputCodec::png;
    encoder.request.target = target;
    encoder.asSequence = route == Route::pngSequence;
    const std::string extension(fileExtension(encoder.request.codec));
    if (encoder.asSequence) {
        encoder.encode(source, folder / "frames", {}, {});
        return folder / "frames" / (source.stem().string() + "_00001." + extension);
    }
    encoder.encode(source, folder / ("out." + extension), {}, {});
    return folder / ("out." + extension);
}

TEST(StillShape, NonSquarePixelsKeepTheirDisplayedShapeOnEveryStillRoute) {
    struct Row {
        const char* name;
        Route route;
        std::optional<IntSize> box;
        ResizeMode mode;
    };
    // Every placement through the single image, each writer and the other routes once or twice.
    const Row rows[] = {
        {"PNG, own size", Route::png, std::nullopt, ResizeMode::aspect},
        {"PNG, own size, fit", Route::png, std::nullopt, ResizeMode::fit},
        {"PNG 200x200", Route::png, IntSize{200, 200}, ResizeMode::aspect},
        {"PNG 120x300 fit", Route::png, IntSize{120, 300}, ResizeMode::fit},
        {"PNG 200x200 1:1", Route::png, IntSize{200, 200}, ResizeMode::pixelPerfect},
        {"JPEG 200x200 fit", Route::jpeg, IntSize{200, 200}, ResizeMode::fit},
        {"DPX 200x200", Route::dpx, IntSize{200, 200}, ResizeMode::aspect},
        {"PNG sequence, own size, fit", Route::pngSequence, std::nullopt, ResizeMode::fit},
        {"PNG sequence 200x200", Route::pngSequence, IntSize{200, 200}, ResizeMode::aspect},
        {"GIF, own size", Route::gif, std::nullopt, ResizeMode::fit},
        {"GIF 200x200 fit", Route::gif, IntSize{200, 200}, ResizeMode::fit},
    };
    for (const Source& source : sources()) {
        ASSERT_FALSE(source.file.empty());
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(source.name) + ", " + row.name);
            TempDir dir;
            const fs::path output = encoded(row.route, source.file, {row.box, row.mode, nullptr}, dir.path());
            const auto bounds = test::brightBounds(output);
            ASSERT_TRUE(bounds);
            // Within a pixel, give or take an edge the scaling blurred.
            EXPECT_LE(bounds->widthOffBy(source.shape), 1.5) << *bounds;
        }
    }
}

}  // namespace
}  // namespace fw
