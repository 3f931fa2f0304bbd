#include "pipeline/FrameResizer.h"

#include "PipelineTestSupport.h"
#include "pipeline/Timecode.h"
#include "pipeline/WatermarkImage.h"
#include "pipeline/raster/TimecodeOverlay.h"
#include "platform/media/PictureConversion.h"
#include "support/Pictures.h"

#include <set>

namespace fw {
namespace {

using namespace pipelinetest;
using media::PixelBuffer;
using media::PixelBufferRef;
using media::PixelFormat;

PixelBufferRef resize(const PixelBuffer& source, int width, int height, ResizeMode mode,
                      const PreparedFilters* filters = nullptr, std::optional<GeometrySettings> geometry = {},
                      bool tenBit = false, bool preservesAlpha = false, double time = 0, double rate = 25) {
    FrameResizer resizer(width, height, mode, filters, rate, geometry, tenBit, preservesAlpha);
    auto out = resizer.resized(source, time);
    EXPECT_TRUE(out && out->width() == width && out->height() == height &&
                out->format() == (tenBit ? PixelFormat::x420 : PixelFormat::bgra8));
    return out;
}

// PSNR of a bgra8 picture's colour against packed BGRA bytes.
double psnr(const PixelBuffer& x, const std::vector<std::uint8_t>& reference) {
    const auto rowBytes = static_cast<std::size_t>(x.width()) * 4;
    if (reference.size() != rowBytes * static_cast<std::size_t>(x.height())) {
        ADD_FAILURE() << "reference of " << reference.size() << " bytes";
        return 0;
    }
    return test::psnr(x.row(0), x.stride(), reference.data(), rowBytes, x.width(), x.height(), 3);
}

// ffmpeg's picture, as raw `format` bytes, from ffmpeg `input` arguments through the filters; empty on failure.
std::vector<std::uint8_t> ffmpegPicture(std::vector<std::string> input, const std::string& filters,
                                        const std::string& format) {
    test::TempDir dir;
    input.insert(input.end(), {"-vf", filters, "-pix_fmt", format, "-f", "rawvideo", (dir / "out.raw").string()});
    return test::ffmpeg(input) ? test::readFile(dir / "out.raw") : std::vector<std::uint8_t>{};
}

// The same from a raw 320 × 240 picture in `rawFormat`.
std::vector<std::uint8_t> ffmpegPicture(const std::vector<std::uint8_t>& raw, const std::string& rawFormat,
                                        const std::string& filters, const std::string& format) {
    test::TempDir dir;
    std::ofstream(dir / "in.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
    return ffmpegPicture({"-f", "rawvideo", "-pix_fmt", rawFormat, "-s", "320x240", "-i", (dir / "in.raw").string()},
                         filters, format);
}

TEST(FrameResizer, FitPadsWithBlackOrClearAndFillCropsTheSides) {
    const Bgra colour{10, 200, 50, 255};
    auto source = solid(1920, 1080, colour);
    auto out = resize(*source, 1280, 1280, ResizeMode::fit);
    ASSERT_TRUE(out);
    // s = 2/3: a 1280 × 720 picture at rows 280...999, flat colours stay exact.
    expectPixels(*out,
                 {{640, 279, kBlack}, {640, 280, colour}, {0, 640, colour}, {1279, 999, colour}, {640, 1000, kBlack}});
    // Aspect covers its whole output, whatever shape it is given.
    expectPixels(*resize(*source, 1280, 1280, ResizeMode::aspect), {{640, 0, colour}, {640, 1279, colour}});
    auto clear = resize(*source, 1280, 1280, ResizeMode::fit, nullptr, {}, false, true);
    expectPixels(*clear, {{640, 100, Bgra{0, 0, 0, 0}}, {640, 640, colour}});
    // A ramp in red, linear in x, which the cubic reproduces exactly.
    auto ramp = makeImage(1920, 1080, [](int x, int) { return Bgra{0, 0, x * 255 / 1919, 255}; });
    auto filled = resize(*ramp, 1280, 1280, ResizeMode::fill);
    ASSERT_TRUE(filled);
    // s = 1280/1080: about 2276 wide from x ≈ −498, so the edges show ramp columns ≈ 420 and ≈ 1499.
    const std::tuple<int, int, int> columns[] = {{0, 640, 420}, {1279, 640, 1499}, {640, 0, 960}, {640, 1279, 960}};
    for (auto [x, y, column] : columns) EXPECT_NEAR(at(*filled, x, y).r, column * 255 / 1919, 1) << x << "," << y;
}

TEST(FrameResizer, PixelPerfectCentresAtNativeSizeOneToOneAndSameSizeIsACopy) {
    auto large = makeImage(64, 48, unique);
    auto out = resize(*large, 32, 32, ResizeMode::pixelPerfect);
    ASSERT_TRUE(out);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(at(*out, x, y), unique(x + 16, y + 8)) << x << "," << y;
    auto small = makeImage(16, 16, unique);
    expectPixels(*resize(*small, 32, 32, ResizeMode::pixelPerfect),
                 {{7, 7, kBlack}, {8, 8, unique(0, 0)}, {23, 23, unique(15, 15)}, {24, 24, kBlack}});
    // One pixel wider and taller than the output: centred half a pixel off, yet one to one, so stripes stay crisp.
    auto stripes = makeImage(65, 33, [](int x, int y) { return (x + y) % 2 ? Bgra{255, 255, 255, 255} : kBlack; });
    auto crisp = resize(*stripes, 64, 32, ResizeMode::pixelPerfect);
    ASSERT_TRUE(crisp);
    const int shift = at(*crisp, 0, 0) == at(*stripes, 0, 0) ? 0 : 1;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) ASSERT_EQ(at(*crisp, x, y), at(*stripes, x + shift, y + shift)) << x << "," << y;
    // The same size is an exact copy in every mode.
    auto source = makeImage(97, 61, unique);
    for (ResizeMode mode : {ResizeMode::fit, ResizeMode::fill, ResizeMode::aspect, ResizeMode::pixelPerfect}) {
        auto copy = resize(*source, 97, 61, mode);
        for (int y = 0; y < 61; ++y)
            for (int x = 0; x < 97; ++x) ASSERT_EQ(at(*copy, x, y), unique(x, y));
    }
}

GeometrySettings crop(double x, double y, double w, double h) {
    GeometrySettings g;
    g.cropEnabled = true;
    g.cropX = x, g.cropY = y, g.cropWidth = w, g.cropHeight = h;
    return g;
}

// Reference geometry on a width × height grid: flip, then turn (r90 clockwise on screen).
template <class Value>
std::vector<std::vector<Value>> flippedAndTurned(int width, int height, const GeometrySettings& g,
                                                 const std::function<Value(int, int)>& valueAt) {
    std::vector<std::vector<Value>> grid(height, std::vector<Value>(width));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            grid[y][x] = valueAt(g.flipHorizontal ? width - 1 - x : x, g.flipVertical ? height - 1 - y : y);
    for (int t = 0; t < rawValue(g.rotation) / 90; ++t) {
        const int h = static_cast<int>(grid.size()), w = static_cast<int>(grid[0].size());
        std::vector<std::vector<Value>> turned(w, std::vector<Value>(h));
        for (int y = 0; y < w; ++y)
            for (int x = 0; x < h; ++x) turned[y][x] = grid[h - 1 - x][y];
        grid = turned;
    }
    return grid;
}

TEST(FrameResizer, CropsFromTopLeftFlipsAndTurnsMoveEveryPixel) {
    auto source = makeImage(1000, 800, unique);
    auto out = resize(*source, 500, 400, ResizeMode::fit, nullptr, crop(0.25, 0.1, 0.5, 0.5));
    ASSERT_TRUE(out);
    for (int y = 0; y < 400; y += 7)
        for (int x = 0; x < 500; x += 3) ASSERT_EQ(at(*out, x, y), unique(250 + x, 80 + y));
    // Out-of-range fractions clamp: x 1.2 keeps the rightmost 1 % (10 columns), y −1 counts as 0.
    expectPixels(*resize(*source, 10, 800, ResizeMode::fit, nullptr, crop(1.2, -1, 0.5, 1)),
                 {{0, 0, unique(990, 0)}, {9, 799, unique(999, 799)}});
    // A tiny crop of a small source keeps one pixel.
    auto tiny = resize(*makeImage(40, 30, unique), 8, 8, ResizeMode::fit, nullptr, crop(0.5, 0.5, 0.01, 0.01));
    ASSERT_TRUE(tiny);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(at(*tiny, x, y), unique(20, 15));
    constexpr int kWidth = 7, kHeight = 5;
    auto small = makeImage(kWidth, kHeight, unique);
    for (Rotation rotation : {Rotation::none, Rotation::r90, Rotation::r180, Rotation::r270})
        for (int flips = 0; flips < 4; ++flips) {
            GeometrySettings g;
            g.rotation = rotation;
            g.flipHorizontal = flips & 1;
            g.flipVertical = flips & 2;
            const auto grid = flippedAndTurned<Bgra>(kWidth, kHeight, g, unique);
            const int outWidth = static_cast<int>(grid[0].size()), outHeight = static_cast<int>(grid.size());
            auto turned = resize(*small, outWidth, outHeight, ResizeMode::fit, nullptr, g);
            ASSERT_TRUE(turned);
            for (int y = 0; y < outHeight; ++y)
                for (int x = 0; x < outWidth; ++x)
                    ASSERT_EQ(at(*turned, x, y), grid[y][x])
                        << "rotation " << rawValue(rotation) << " flips " << flips << " at " << x << "," << y;
        }
}

TEST(FrameResizer, ScalesRealFramesLikeAnIndependentScalerAndTranslucentOnes) {
    const auto frame = ffmpegPicture({"-f", "lavfi", "-i", "testsrc2=size=320x240", "-frames:v", "1"}, "null", "bgra");
    auto source = pictureFromRaw(frame, 320, 240, PixelFormat::bgra8);
    ASSERT_TRUE(source);
    for (auto [width, height] : {std::pair{160, 120}, {213, 160}, {640, 480}}) {
        const std::string size = std::to_string(width) + ":" + std::to_string(height);
        const auto theirs = ffmpegPicture(
            frame, "bgra", "scale=" + size + ":flags=bicubic+accurate_rnd+full_chroma_int+full_chroma_inp", "bgra");
        auto out = resize(*source, width, height, ResizeMode::fill);
        ASSERT_TRUE(out);
        EXPECT_GT(psnr(*out, theirs), 30.0) << size;
    }
    // A translucent source goes over black, or keeps its alpha.
    auto translucent = solid(16, 16, Bgra{200, 100, 50, 128});
    auto over = resize(*translucent, 8, 8, ResizeMode::fit);
    EXPECT_TRUE(near(at(*over, 4, 4), Bgra{100, 50, 25, 255}, 1)) << at(*over, 4, 4);
    auto kept = resize(*translucent, 8, 8, ResizeMode::fit, nullptr, {}, false, true);
    EXPECT_TRUE(near(at(*kept, 4, 4), Bgra{200, 100, 50, 128}, 2)) << at(*kept, 4, 4);
    // Transparent pixels' colour must not bleed into an opaque neighbour when scaling.
    auto edge = makeImage(64, 64, [](int x, int) { return x < 32 ? Bgra{0, 255, 0, 0} : Bgra{0, 0, 255, 255}; });
    auto scaled = resize(*edge, 16, 16, ResizeMode::fit, nullptr, {}, false, true);
    Bgra inside = at(*scaled, 9, 8);
    EXPECT_EQ(inside.g, 0) << inside;
}

CubeLUT cubeFrom(int n, const std::function<std::array<float, 3>(float, float, float)>& f) {
    CubeLUT lut;
    lut.dimension = n;
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                auto c = f(r / float(n - 1), g / float(n - 1), b / float(n - 1));
                lut.data.insert(lut.data.end(), {c[0], c[1], c[2], 1.0f});
            }
    return lut;
}

TEST(FrameResizer, CubesMapColoursBeforeOrAfterScaling) {
    auto source = makeImage(120, 80, unique);
    PreparedFilters filters;
    filters.cube = cubeFrom(17, [](float r, float g, float b) { return std::array<float, 3>{r, g, b}; });
    // 1:1, upscaling (LUT before scaling) and downscaling (LUT after scaling).
    for (auto [w, h] : {std::pair{120, 80}, std::pair{300, 200}, std::pair{50, 34}}) {
        auto plain = resize(*source, w, h, ResizeMode::fit);
        auto looked = resize(*source, w, h, ResizeMode::fit, &filters);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_TRUE(near(at(*looked, x, y), at(*plain, x, y), 1)) << w << " " << x << "," << y;
    }
    auto halves = makeImage(40, 20, [](int x, int) {
        return x < 20 ? Bgra{50, 200, 10, 255} : Bgra{255, 0, 128, 255};
    });
    // Invert red, swap green and blue: linear, so trilinear lookup is exact.
    filters.cube = cubeFrom(2, [](float r, float g, float b) { return std::array<float, 3>{1 - r, b, g}; });
    auto out = resize(*halves, 40, 20, ResizeMode::fit, &filters);
    EXPECT_TRUE(near(at(*out, 5, 5), Bgra{200, 50, 245, 255}, 1)) << at(*out, 5, 5);
    EXPECT_TRUE(near(at(*out, 35, 5), Bgra{0, 255, 127, 255}, 1)) << at(*out, 35, 5);
    // A cube that brightens along a curve, read at a cell's centre.
    filters.cube = cubeFrom(33, [](float r, float g, float b) { return std::array<float, 3>{std::sqrt(r), g * g, b}; });
    auto curved = resize(*solid(8, 8, Bgra{32, 128, 64, 255}), 8, 8, ResizeMode::fit, &filters);
    Bgra c = at(*curved, 4, 4);
    EXPECT_NEAR(c.r, 255 * std::sqrt(64 / 255.0), 2);
    EXPECT_NEAR(c.g, 255 * std::pow(128 / 255.0, 2), 2);
    EXPECT_NEAR(c.b, 32, 1);
    // The domain scales the input.
    filters.cube = cubeFrom(2, [](float r, float g, float b) { return std::array<float, 3>{r, g, b}; });
    filters.cube->domainMax = {0.5f, 0.5f, 0.5f};
    auto scaled = resize(*solid(8, 8, Bgra{200, 64, 32, 255}), 8, 8, ResizeMode::fit, &filters);
    EXPECT_TRUE(near(at(*scaled, 1, 1), Bgra{255, 128, 64, 255}, 1)) << at(*scaled, 1, 1);
}

TEST(FrameResizer, WatermarkCornerSizeOpacityAndAlphaFromPng) {
    const Bgra grey{100, 100, 100, 255}, red{0, 0, 255, 255};
    auto source = solid(400, 200, grey);
    PreparedFilters filters;
    filters.watermark = ImageBox{solid(50, 20, red)};
    // A 50-pixel mark on a 400-wide output keeps its size (a quarter is 100); 8-pixel margins.
    struct Expected {
        FilterCorner corner;
        int x, y;
    };
    for (Expected e : {Expected{FilterCorner::bottomRight, 342, 172}, Expected{FilterCorner::bottomLeft, 8, 172},
                       Expected{FilterCorner::topLeft, 8, 8}, Expected{FilterCorner::topRight, 342, 8},
                       Expected{FilterCorner::center, 175, 90}}) {
        SCOPED_TRACE(rawValue(e.corner));
        filters.watermarkPosition = e.corner;
        auto out = resize(*source, 400, 200, ResizeMode::fit, &filters);
        expectPixels(*out, {{e.x, e.y, red},
                            {e.x + 49, e.y + 19, red},
                            {e.x - 1, e.y, grey},
                            {e.x + 50, e.y + 19, grey},
                            {e.x, e.y + 20, grey}});
    }
    // A 200-pixel mark is scaled to a quarter of the width.
    filters.watermark = ImageBox{solid(200, 80, red)};
    filters.watermarkPosition = FilterCorner::topLeft;
    expectPixels(*resize(*source, 400, 200, ResizeMode::fit, &filters),
                 {{8, 8, red}, {107, 47, red}, {108, 20, grey}, {20, 48, grey}});
    // Half opacity blends; zero hides; one is opaque.
    filters.watermarkOpacity = 0.5;
    auto half = resize(*source, 400, 200, ResizeMode::fit, &filters);
    EXPECT_TRUE(near(at(*half, 20, 20), Bgra{50, 50, 178, 255}, 1)) << at(*half, 20, 20);
    filters.watermarkOpacity = 0;
    EXPECT_EQ(at(*resize(*source, 400, 200, ResizeMode::fit, &filters), 20, 20), grey);
    filters.watermarkOpacity = std::nan("");
    EXPECT_EQ(at(*resize(*source, 400, 200, ResizeMode::fit, &filters), 20, 20), red);
    test::TempDir dir;
    // Half-transparent green from an independent PNG encoder.
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "color=c=black:size=40x20", "-frames:v", "1", "-vf",
                              "format=rgba,geq=r=0:g=255:b=0:a=128", (dir / "mark.png").string()}));
    ImageRef mark = loadWatermarkImage(dir / "mark.png");
    ASSERT_TRUE(mark);
    EXPECT_EQ(std::pair(mark->width(), mark->height()), std::pair(40, 20));
    EXPECT_NEAR(at(*mark, 3, 3).a, 128, 1);
    // Other still formats come through the image decoder alike.
    ASSERT_TRUE(test::ffmpeg(
        {"-i", (dir / "mark.png").string(), "-c:v", "libwebp", "-lossless", "1", (dir / "mark.webp").string()}));
    ImageRef webp = loadWatermarkImage(dir / "mark.webp");
    ASSERT_TRUE(webp);
    EXPECT_TRUE(near(at(*webp, 39, 19), at(*mark, 39, 19), 1)) << at(*webp, 39, 19);
    // 16 bits a channel without colour tags: the values as written, not taken for linear light.
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "color=c=0x406080:size=8x8", "-frames:v", "1", "-pix_fmt",
                              "rgba64be", (dir / "deep.png").string()}));
    ImageRef deep = loadWatermarkImage(dir / "deep.png");
    ASSERT_TRUE(deep);
    EXPECT_TRUE(near(at(*deep, 3, 3), Bgra{0x80, 0x60, 0x40, 255}, 1)) << at(*deep, 3, 3);
    EXPECT_FALSE(loadWatermarkImage(dir / "missing.png"));
    std::ofstream(dir / "bad.png") << "\x89PNG\r\n\x1a\nnot really";
    EXPECT_FALSE(loadWatermarkImage(dir / "bad.png"));
    PreparedFilters pngFilters;
    pngFilters.watermark = ImageBox{mark};
    pngFilters.watermarkPosition = FilterCorner::topLeft;
    auto marked = resize(*solid(400, 200, Bgra{0, 0, 200, 255}), 400, 200, ResizeMode::fit, &pngFilters);
    EXPECT_TRUE(near(at(*marked, 20, 15), Bgra{0, 128, 100, 255}, 2)) << at(*marked, 20, 15);
}

struct TimecodeFrame {
    PixelBufferRef image;
    int boxX, boxY, boxWidth, boxHeight, padding, advance;
};

// A 640 × 360 grey frame with the timecode in the given corner.
TimecodeFrame timecodeFrame(double seconds, double rate, FilterCorner corner = FilterCorner::bottomLeft) {
    PreparedFilters filters;
    filters.timecode = true;
    filters.timecodePosition = corner;
    TimecodeFrame frame;
    frame.image = resize(*solid(640, 360, Bgra{200, 200, 200, 255}), 640, 360, ResizeMode::fit, &filters, {}, false,
                         false, seconds, rate);
    // The font is 4.5 % of the height (16.2); the box geometry follows from it.
    raster::TimecodeOverlay overlay(360 * 0.045);
    EXPECT_TRUE(overlay.valid());
    const std::string text = Timecode::string(seconds, rate);
    frame.boxWidth = overlay.boxWidth(text);
    frame.boxHeight = overlay.boxHeight();
    frame.padding = static_cast<int>(std::lround(0.35 * 360 * 0.045));
    frame.advance = (frame.boxWidth - 2 * frame.padding) / static_cast<int>(text.size());
    const int margin = static_cast<int>(std::lround(640 * 0.02));
    frame.boxX =
        corner == FilterCorner::bottomLeft || corner == FilterCorner::topLeft ? margin : 640 - frame.boxWidth - margin;
    frame.boxY =
        corner == FilterCorner::topLeft || corner == FilterCorner::topRight ? margin : 360 - frame.boxHeight - margin;
    return frame;
}

// The pixels of character cell i of the text.
std::vector<Bgra> cell(const TimecodeFrame& f, int index) {
    std::vector<Bgra> pixels;
    for (int y = f.boxY; y < f.boxY + f.boxHeight; ++y)
        for (int x = 0; x < f.advance; ++x)
            pixels.push_back(at(*f.image, f.boxX + f.padding + index * f.advance + x, y));
    return pixels;
}

TEST(FrameResizer, TimecodeBoxSitsInItsCornerAndReadsTheFramesTime) {
    for (FilterCorner corner : {FilterCorner::bottomLeft, FilterCorner::topRight}) {
        TimecodeFrame f = timecodeFrame(0, 25, corner);
        const Bgra darkened{90, 90, 90, 255};  // 200 under 55 % black
        EXPECT_TRUE(near(at(*f.image, f.boxX + 1, f.boxY + 1), darkened, 1)) << at(*f.image, f.boxX + 1, f.boxY + 1);
        EXPECT_TRUE(near(at(*f.image, f.boxX + f.boxWidth - 1, f.boxY + f.boxHeight - 1), darkened, 1));
        EXPECT_EQ(at(*f.image, f.boxX - 1, f.boxY + 1), (Bgra{200, 200, 200, 255}));
        EXPECT_EQ(at(*f.image, f.boxX + 1, f.boxY + f.boxHeight), (Bgra{200, 200, 200, 255}));
        // White glyph pixels inside.
        int bright = 0;
        for (int y = f.boxY; y < f.boxY + f.boxHeight; ++y)
            for (int x = f.boxX; x < f.boxX + f.boxWidth; ++x) bright += at(*f.image, x, y).g > 240;
        EXPECT_GT(bright, 50);
    }
    // 3725.5 s at 25 fps is 01:02:05:12: equal characters draw equal cells.
    TimecodeFrame f = timecodeFrame(3725.5, 25);
    for (auto [one, other] : {std::pair{0, 3}, {0, 6}, {1, 9}, {4, 10}, {2, 5}})
        EXPECT_EQ(cell(f, one), cell(f, other)) << one << " " << other;
    for (auto [one, other] : {std::pair{0, 1}, {7, 0}, {9, 10}})
        EXPECT_NE(cell(f, one), cell(f, other)) << one << " " << other;
    // The same time draws the same box; another frame number changes only the last cell.
    TimecodeFrame again = timecodeFrame(3725.5, 25);
    TimecodeFrame later = timecodeFrame(3725.5 + 1.0 / 25, 25);  // 01:02:05:13
    for (int i = 0; i < 11; ++i) EXPECT_EQ(cell(f, i), cell(again, i)) << i;
    for (int i = 0; i < 10; ++i) EXPECT_EQ(cell(f, i), cell(later, i)) << i;
    EXPECT_NE(cell(f, 10), cell(later, 10));
    EXPECT_EQ(cell(later, 10), cell(timecodeFrame(3, 25), 7));  // both a 3
}

int largestLumaDifference(const PixelBuffer& a, const PixelBuffer& b) {
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            largest = std::max(largest, std::abs(lumaCode(a, x, y) - lumaCode(b, x, y)));
    return largest;
}

// Over both chroma components, in codes.
struct ChromaDifference {
    int largest = 0;
    double mean = 0;
};

ChromaDifference chromaDifference(const PixelBuffer& a, const PixelBuffer& b) {
    ChromaDifference result;
    for (int y = 0; y < a.planeHeight(1); ++y)
        for (int i = 0; i < 2 * a.planeWidth(1); ++i) {
            const int d = std::abs((a.row<std::uint16_t>(y, 1)[i] >> 6) - (b.row<std::uint16_t>(y, 1)[i] >> 6));
            result.largest = std::max(result.largest, d);
            result.mean += d / (2.0 * a.planeWidth(1) * a.planeHeight(1));
        }
    return result;
}

TEST(FrameResizer, TenBitPathKeepsTenBitsMovesLumaAndChromaAndKeepsChromaEdgesInPlace) {
    // Every luma code from 64 to 940 across the picture.
    auto ramp = makeX420(878, 4, [](int x, int) { return std::min(64 + x, 940); });
    auto out = resize(*ramp, 878, 4, ResizeMode::fit, nullptr, {}, true);
    ASSERT_TRUE(out);
    std::set<int> codes;
    for (int x = 0; x < 877; ++x) {
        ASSERT_NEAR(lumaCode(*out, x, 1), 64 + x, 1) << x;
        codes.insert(lumaCode(*out, x, 1));
        EXPECT_EQ(out->row<std::uint16_t>(1, 0)[x] & 63, 0);
    }
    EXPECT_GT(codes.size(), 850u);  // 8 bits could carry at most 256
    // Chroma off neutral survives too, and a flat colour stays flat through scaling.
    const auto flat = [](int, int) { return 513; };
    const auto tint = [](int, int) { return Chroma{301, 777}; };
    for (auto [width, height, w, h] : {std::tuple{64, 64, 32, 32}, {512, 256, 40, 20}}) {  // far down: long filters
        auto scaled = resize(*makeX420(width, height, flat, tint), w, h, ResizeMode::fit, nullptr, {}, true);
        EXPECT_NEAR(lumaCode(*scaled, w / 2, h / 2), 513, 1);
        EXPECT_NEAR(scaled->row<std::uint16_t>(h / 4, 1)[w / 2] >> 6, 301, 1);
        EXPECT_NEAR(scaled->row<std::uint16_t>(h / 4, 1)[w / 2 + 1] >> 6, 777, 1);
    }
    constexpr int kWidth = 38, kHeight = 22;
    // Mid-range codes and mild chroma: every pixel stays inside the RGB cube.
    auto lumaAt = [](int x, int y) { return 300 + (x * 37 + y * 11) % 400; };
    // Cb rises by 4 a chroma sample from left to right; Cr is neutral.
    auto source = makeX420(kWidth, kHeight, lumaAt, [](int j, int) { return Chroma{440 + 4 * j, 512}; });
    for (Rotation rotation : {Rotation::none, Rotation::r90, Rotation::r180, Rotation::r270}) {
        GeometrySettings g;
        g.rotation = rotation;
        g.flipVertical = true;
        const bool swaps = swapsDimensions(rotation);
        const int w = swaps ? kHeight : kWidth, h = swaps ? kWidth : kHeight;
        auto turned = resize(*source, w, h, ResizeMode::fit, nullptr, g, true);
        ASSERT_TRUE(turned);
        const auto grid = flippedAndTurned<int>(kWidth, kHeight, g, lumaAt);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_NEAR(lumaCode(*turned, x, y), grid[y][x], 1) << rawValue(rotation) << " at " << x << "," << y;
    }
    // Mirrored, the Cb ramp falls; output chroma j sits on mirrored luma column 37 − 2j: half a step up the ramp.
    GeometrySettings mirror;
    mirror.flipHorizontal = true;
    auto tenBitOut = resize(*source, kWidth, kHeight, ResizeMode::fit, nullptr, mirror, true);
    for (int j = 1; j < kWidth / 2 - 1; ++j)
        EXPECT_NEAR(tenBitOut->row<std::uint16_t>(5, 1)[2 * j] >> 6, 442 + 4 * (kWidth / 2 - 1 - j), 1) << j;
    PreparedFilters filters;
    filters.cube = cubeFrom(2, [](float r, float g, float b) { return std::array<float, 3>{1 - r, 1 - g, 1 - b}; });
    filters.timecode = true;
    GeometrySettings g;
    g.flipHorizontal = true;
    auto halves = makeX420(128, 64, [](int x, int) { return x < 64 ? 940 : 64; });
    auto flipped = resize(*halves, 128, 64, ResizeMode::fit, &filters, g, true);
    ASSERT_TRUE(flipped);
    // Flipped: white (940) now on the right, and the inverting cube turns it black.
    EXPECT_NEAR(lumaCode(*flipped, 120, 10), 64, 1);
    EXPECT_NEAR(lumaCode(*flipped, 10, 10), 940, 1);
    // Scaled down, the cube runs after scaling on the converted picture.
    auto down = resize(*halves, 64, 32, ResizeMode::fit, &filters, g, true);
    EXPECT_NEAR(lumaCode(*down, 60, 5), 64, 1);
    EXPECT_NEAR(lumaCode(*down, 5, 5), 940, 1);
    auto rgb = resize(*halves, 64, 32, ResizeMode::fit, &filters, g, false);
    EXPECT_EQ(at(*rgb, 60, 5), kBlack);
    EXPECT_EQ(at(*rgb, 5, 5), (Bgra{255, 255, 255, 255}));
    // A Cb step between chroma columns 7 and 8, a Cr step between rows 5 and 6: chroma sited where it is read
    // only softens each edge evenly, pass after pass; sited half a pixel off, it would walk the edge sideways.
    constexpr int kEdgeWidth = 32, kEdgeHeight = 24;
    auto picture = makeX420(
        kEdgeWidth, kEdgeHeight, [](int, int) { return 500; },
        [](int j, int k) {
            return Chroma{j < 8 ? 400 : 624, k < 6 ? 450 : 574};
        });
    auto cb = [](const PixelBuffer& image, int j) { return image.row<std::uint16_t>(3, 1)[2 * j] >> 6; };
    auto cr = [](const PixelBuffer& image, int k) { return image.row<std::uint16_t>(k, 1)[2 * 4 + 1] >> 6; };
    for (int pass = 1; pass <= 3; ++pass) {
        SCOPED_TRACE(pass);
        picture = resize(*picture, kEdgeWidth, kEdgeHeight, ResizeMode::pixelPerfect, nullptr, {}, true);
        ASSERT_TRUE(picture);
        for (int step = 0; step < 4; ++step) {
            EXPECT_NEAR(cb(*picture, 7 - step) - 400, 624 - cb(*picture, 8 + step), 1) << step;
            EXPECT_NEAR(cr(*picture, 5 - step) - 450, 574 - cr(*picture, 6 + step), 1) << step;
        }
        // One pass softens each step by less than a quarter of its height.
        if (pass == 1) {
            EXPECT_LT(cb(*picture, 7) - 400, 224 / 4);
            EXPECT_LT(cr(*picture, 5) - 450, 124 / 4);
        }
        EXPECT_NEAR(cb(*picture, 0), 400, 1);
        EXPECT_NEAR(cb(*picture, kEdgeWidth / 2 - 1), 624, 1);
    }
}

TEST(FrameResizer, ConvertsBetweenFormatsLikeFfmpeg) {
    // ffmpeg as the reference: BT.709 video range, chroma sited left and between rows.
    const std::string toYuv = "scale=out_color_matrix=bt709:out_range=tv:out_h_chr_pos=0:out_v_chr_pos=128";
    const std::string toRgb =
        "scale=in_color_matrix=bt709:in_range=tv:out_range=pc:in_h_chr_pos=0:in_v_chr_pos=128"
        ":flags=bilinear+accurate_rnd+full_chroma_int";
    // Smooth colour shading (computed, so the same every run) and a sharp test card.
    const std::string shading =
        "nullsrc=size=320x240,geq=r='128+100*sin(X/41+Y/67)':g='128+90*cos(X/53-Y/37)'"
        ":b='40+170*X/W'";
    for (std::string source : {shading, std::string("testsrc2=size=320x240")}) {
        SCOPED_TRACE(source);
        const bool smooth = source == shading;
        const auto yuvBytes = ffmpegPicture({"-f", "lavfi", "-i", source, "-frames:v", "1"}, toYuv, "p010le");
        const auto reference = ffmpegPicture(yuvBytes, "p010le", toRgb, "bgra");
        auto yuv = pictureFromRaw(yuvBytes, 320, 240, PixelFormat::x420);
        auto rgbSource = pictureFromRaw(reference, 320, 240, PixelFormat::bgra8);
        ASSERT_TRUE(yuv && rgbSource);
        // x420 in, bgra8 out: sharp colour edges differ by the chroma interpolation.
        EXPECT_GT(psnr(*resize(*yuv, 320, 240, ResizeMode::fit), reference), smooth ? 50.0 : 30.0);
        // bgra8 in, x420 out: luma against ffmpeg's conversion of the same pixels.
        auto back = pictureFromRaw(ffmpegPicture(reference, "bgra", toYuv + ":flags=accurate_rnd", "p010le"), 320, 240,
                                   PixelFormat::x420);
        auto ours = resize(*rgbSource, 320, 240, ResizeMode::fit, nullptr, {}, true);
        ASSERT_TRUE(back && ours);
        EXPECT_LE(largestLumaDifference(*ours, *back), 2);
        // Chroma sited like ffmpeg's left-sited output: the mean difference stays well under the 0.31 and 5.7
        // codes that half a pixel's offset gives.
        const ChromaDifference chroma = chromaDifference(*ours, *back);
        EXPECT_LT(chroma.mean, smooth ? 0.15 : 2.5);
        EXPECT_LE(chroma.largest, smooth ? 2 : 1023);
        if (!smooth) continue;
        // x420 scaled down, against ffmpeg's scaler on the same planes.
        auto theirs = pictureFromRaw(ffmpegPicture(yuvBytes, "p010le", "scale=160:120:flags=bicubic", "p010le"), 160,
                                     120, PixelFormat::x420);
        auto small = resize(*yuv, 160, 120, ResizeMode::fit, nullptr, {}, true);
        ASSERT_TRUE(theirs && small);
        EXPECT_LE(largestLumaDifference(*small, *theirs), 6);
        // x420 in and out at the same size: a near-lossless round trip.
        auto same = resize(*yuv, 320, 240, ResizeMode::fit, nullptr, {}, true);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x) ASSERT_NEAR(lumaCode(*same, x, y), lumaCode(*yuv, x, y), 1);
        EXPECT_LE(chromaDifference(*same, *yuv).largest, 1);
    }
}

TEST(FrameResizer, NothingForUnusableInputOrSize) {
    auto half = PixelBuffer::create(8, 8, PixelFormat::rgbaHalf);
    FrameResizer resizer(8, 8, ResizeMode::fit, nullptr, 25, std::nullopt, false, false);
    EXPECT_FALSE(resizer.resized(*half, 0));
    auto source = solid(8, 8, kBlack);
    for (int width : {0, 40000})
        EXPECT_FALSE(
            FrameResizer(width, 8, ResizeMode::fit, nullptr, 25, std::nullopt, false, false).resized(*source, 0));
    // A resizer serves frames of changing sizes, each from its own pool buffer.
    auto a = resizer.resized(*source, 0);
    auto b = resizer.resized(*solid(30, 10, Bgra{1, 2, 3, 255}), 0);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(at(*b, 4, 4), (Bgra{1, 2, 3, 255}));
    EXPECT_EQ(at(*b, 4, 0), kBlack);
}

// An 8-bit 4:2:0 picture whose chroma leaves the RGB cube: dark luma under Cb and Cr near their ends.
PixelBufferRef outOfCubeI420(int width, int height) {
    auto picture = PixelBuffer::create(width, height, PixelFormat::i420);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture->row(y, 0)[x] = static_cast<std::uint8_t>(16 + (x * 7 + y * 3) % 220);
    for (int y = 0; y < picture->planeHeight(1); ++y)
        for (int x = 0; x < picture->planeWidth(1); ++x) {
            picture->row(y, 1)[x] = static_cast<std::uint8_t>(x % 2 ? 18 + y % 5 : 238 - x % 7);
            picture->row(y, 2)[x] = static_cast<std::uint8_t>(y % 2 ? 236 : 20 + x % 9);
        }
    return picture;
}

TEST(FrameResizer, EightBitPlanesPassOnlyWhenNothingChangesElseTakeTheRgbPath) {
    constexpr int kWidth = 96, kHeight = 54;
    auto source = outOfCubeI420(kWidth, kHeight);
    // What the decoder hands the RGB path for the same picture.
    auto bgra = PixelBuffer::create(kWidth, kHeight, PixelFormat::bgra8);
    media::convertToBgra(media::planesOf(*source), source->yCbCrMatrix(), *bgra);

    GeometrySettings crop, turn, mirror;
    crop.cropEnabled = true, crop.cropX = 0.25, crop.cropWidth = 0.5;
    turn.rotation = Rotation::r180;
    mirror.flipHorizontal = true;
    PreparedFilters lut, watermark, timecode;
    lut.cube = cubeFrom(2, [](float r, float g, float b) { return std::array<float, 3>{r, g, b}; });
    watermark.watermark = ImageBox{test::solidPicture(20, 10, 0, 0, 255)};
    timecode.timecode = true;
    struct Case {
        const char* name;
        int width, height;
        const PreparedFilters* filters;
        std::optional<GeometrySettings> geometry;
        std::optional<FrameOrientation> display;
        bool kept;
    };
    const Case cases[] = {
        {"untouched", kWidth, kHeight, nullptr, {}, {}, true},
        {"resized", kWidth / 2, kHeight / 2, nullptr, {}, {}, false},
        {"cropped", kWidth / 2, kHeight, nullptr, crop, {}, false},
        {"turned", kWidth, kHeight, nullptr, turn, {}, false},
        {"mirrored", kWidth, kHeight, nullptr, mirror, {}, false},
        {"turned upright",
         kWidth,
         kHeight,
         nullptr,
         {},
         FrameOrientation::make(media::AffineTransform::rotation(180, kWidth, kHeight)),
         false},
        {"LUT", kWidth, kHeight, &lut, {}, {}, false},
        {"watermark", kWidth, kHeight, &watermark, {}, {}, false},
        {"timecode", kWidth, kHeight, &timecode, {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameResizer planes(c.width, c.height, ResizeMode::fit, c.filters, 25, c.geometry, false, false, c.display);
        FrameResizer rgb(c.width, c.height, ResizeMode::fit, c.filters, 25, c.geometry, false, false, c.display);
        EXPECT_EQ(planes.keepsPicture(kWidth, kHeight), c.kept);
        auto out = planes.resized(*source, 1.5);
        ASSERT_TRUE(out);
        if (c.kept) {
            ASSERT_EQ(out->format(), PixelFormat::i420);
            for (int plane = 0; plane < 3; ++plane)
                for (int y = 0; y < out->planeHeight(plane); ++y)
                    ASSERT_EQ(std::memcmp(out->row(y, plane), source->row(y, plane), out->planeWidth(plane)), 0)
                        << "plane " << plane << " row " << y;
            continue;
        }
        // Byte for byte what the RGB path makes of the decoder's own BGRA picture.
        auto expected = rgb.resized(*bgra, 1.5);
        ASSERT_EQ(out->format(), PixelFormat::bgra8);
        ASSERT_TRUE(expected);
        for (int y = 0; y < c.height; ++y)
            ASSERT_EQ(std::memcmp(out->row(y), expected->row(y), static_cast<std::size_t>(c.width) * 4), 0) << y;
    }

    // Full-range planes, as a full-range source's come, pass marked so, and are read in their range when changed.
    source->setFullRange(true);
    media::convertToBgra(media::planesOf(*source), source->yCbCrMatrix(), *bgra);
    auto kept = FrameResizer(kWidth, kHeight, ResizeMode::fit, nullptr, 25, {}, false, false).resized(*source, 0);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->isFullRange());
    auto changed =
        FrameResizer(kWidth, kHeight, ResizeMode::fit, nullptr, 25, mirror, false, false).resized(*source, 0);
    auto expected = FrameResizer(kWidth, kHeight, ResizeMode::fit, nullptr, 25, mirror, false, false).resized(*bgra, 0);
    ASSERT_TRUE(changed && expected);
    for (int y = 0; y < kHeight; ++y)
        ASSERT_EQ(std::memcmp(changed->row(y), expected->row(y), std::size_t{kWidth} * 4), 0) << y;
}

// A 10-bit 4:2:2 picture whose chroma alternates from row to row.
PixelBufferRef alternatingRowsX422(int width, int height) {
    auto picture = PixelBuffer::create(width, height, PixelFormat::x422);
    auto sample = [&](int plane, int x, int y) { return reinterpret_cast<std::uint16_t*>(picture->row(y, plane)) + x; };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) *sample(0, x, y) = static_cast<std::uint16_t>(64 + (x * 29 + y * 11) % 876);
        for (int x = 0; x < picture->planeWidth(1); ++x) {
            *sample(1, x, y) = static_cast<std::uint16_t>(y % 2 ? 300 + x % 13 : 720);
            *sample(2, x, y) = static_cast<std::uint16_t>(y % 2 ? 700 : 330 + x % 11);
        }
    }
    return picture;
}

TEST(FrameResizer, TenBit422PlanesPassOnlyWhenNothingChangesElseTakeTheDecodersPath) {
    constexpr int kWidth = 96, kHeight = 54;
    auto source = alternatingRowsX422(kWidth, kHeight);
    GeometrySettings mirror;
    mirror.flipHorizontal = true;
    struct Case {
        const char* name;
        int width, height;
        std::optional<GeometrySettings> geometry;
        bool tenBit;
    };
    const Case cases[] = {
        {"untouched", kWidth, kHeight, {}, false},           {"untouched, 10-bit", kWidth, kHeight, {}, true},
        {"resized", kWidth / 2, kHeight / 2, {}, false},     {"resized, 10-bit", kWidth / 2, kHeight / 2, {}, true},
        {"mirrored, 10-bit", kWidth, kHeight, mirror, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameResizer planes(c.width, c.height, ResizeMode::fit, nullptr, 25, c.geometry, c.tenBit, false, {});
        auto out = planes.resized(*source, 0);
        ASSERT_TRUE(out);
        if (planes.keepsPicture(kWidth, kHeight)) {
            ASSERT_EQ(out->format(), PixelFormat::x422);
            for (int plane = 0; plane < 3; ++plane)
                for (int y = 0; y < out->planeHeight(plane); ++y)
                    ASSERT_EQ(std::memcmp(out->row(y, plane), source->row(y, plane), out->planeWidth(plane) * 2u), 0)
                        << "plane " << plane << " row " << y;
            continue;
        }
        // Byte for byte what the resizer makes of the picture the decoder would have handed it.
        auto decoded = PixelBuffer::create(kWidth, kHeight, c.tenBit ? PixelFormat::x420 : PixelFormat::bgra8);
        if (c.tenBit)
            media::convertPlanes(media::planesOf(*source), media::planesOf(*decoded));
        else
            media::convertToBgra(media::planesOf(*source), source->yCbCrMatrix(), *decoded);
        FrameResizer fromDecoded(c.width, c.height, ResizeMode::fit, nullptr, 25, c.geometry, c.tenBit, false, {});
        auto expected = fromDecoded.resized(*decoded, 0);
        ASSERT_TRUE(expected);
        ASSERT_EQ(out->format(), expected->format());
        for (int plane = 0; plane < out->planeCount(); ++plane) {
            // bgra8: 4 bytes a pixel; x420: 2 a luma sample, 4 a CbCr pair.
            const std::size_t pixelBytes = c.tenBit && plane == 0 ? 2 : 4;
            for (int y = 0; y < out->planeHeight(plane); ++y)
                ASSERT_EQ(std::memcmp(out->row(y, plane), expected->row(y, plane), out->planeWidth(plane) * pixelBytes),
                          0)
                    << "plane " << plane << " row " << y;
        }
    }
}

// A filter changes a picture of the output's size in 10 bits as in 8: such pictures are never passed on as stored.
TEST(FrameResizer, FilteredPicturesOfTheOutputsSizeAreNeverPassedOn) {
    constexpr int kWidth = 96, kHeight = 54;
    auto source = alternatingRowsX422(kWidth, kHeight);
    PreparedFilters lut, watermark, timecode;
    lut.cube = cubeFrom(2, [](float r, float g, float b) { return std::array<float, 3>{r, g, b}; });
    watermark.watermark = ImageBox{test::solidPicture(20, 10, 0, 0, 255)};
    timecode.timecode = true;
    struct Case {
        const char* name;
        const PreparedFilters* filters;
        bool kept;
    };
    const Case cases[] = {{"none", nullptr, true},
                          {"LUT", &lut, false},
                          {"watermark", &watermark, false},
                          {"timecode", &timecode, false}};
    for (const bool tenBit : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (tenBit ? ", 10-bit" : ""));
            FrameResizer resizer(kWidth, kHeight, ResizeMode::fit, c.filters, 25, {}, tenBit, false, {});
            EXPECT_EQ(resizer.keepsPicture(kWidth, kHeight), c.kept);
            auto out = resizer.resized(*source, 0);
            ASSERT_TRUE(out);
            EXPECT_EQ(out->format() == PixelFormat::x422, c.kept);
        }
}

}  // namespace
}  // namespace fw
