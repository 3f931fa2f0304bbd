// The DPX and OpenEXR writers read back by FFmpeg's own dpx and exr decoders
// (in-process) and checked by OpenEXR's exrheader; sizes from outside refused
// with a message.

#include "FFmpegOracle.h"
#include "codecs/imagefile/DPXWriter.h"
#include "codecs/imagefile/EXRWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

namespace fw {
namespace {

using imagefile::BGRARaster;

// 256 × 6: every 8-bit code along x in each channel (blue reversed, green
// shifted), opaque except the last two rows (alpha 128, then 0); rows padded.
struct Ramp {
    static constexpr int kWidth = 256, kHeight = 6, kRowBytes = 4 * kWidth + 12;
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(std::size_t(kRowBytes) * kHeight);
    Ramp() {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                std::uint8_t* p = &bytes[std::size_t(y) * kRowBytes + 4 * x];
                p[0] = std::uint8_t(255 - x), p[1] = std::uint8_t(x + 37 * y), p[2] = std::uint8_t(x);
                p[3] = y == kHeight - 2 ? 128 : y == kHeight - 1 ? 0 : 255;
            }
    }
    BGRARaster raster() const { return {bytes.data(), kWidth, kHeight, kRowBytes}; }
    // Channel c (0 B, 1 G, 2 R) and alpha of pixel (x, y).
    int at(int x, int y, int c) const { return bytes[std::size_t(y) * kRowBytes + 4 * x + c]; }
};

double srgbToLinear(int code) {
    const double v = code / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// What FFmpeg's decoder gave for channel c (0 B, 1 G, 2 R) of (x, y), as a
// fraction of full scale, from its planar G, B, R layout.
double decoded(const AVFrame& frame, int x, int y, int c) {
    const int plane = c == 1 ? 0 : c == 0 ? 1 : 2;
    const std::uint8_t* row = frame.data[plane] + std::size_t(y) * frame.linesize[plane];
    if (frame.format == AV_PIX_FMT_GBRP10LE) return reinterpret_cast<const std::uint16_t*>(row)[x] / 1023.0;
    if (frame.format == AV_PIX_FMT_GBRPF32LE) return reinterpret_cast<const float*>(row)[x];
    ADD_FAILURE() << "unexpected decoder format " << av_get_pix_fmt_name(AVPixelFormat(frame.format));
    return -1;
}

struct Format {
    const char* name;
    AVCodecID codec;
    std::function<std::vector<std::uint8_t>(const BGRARaster&)> write;
    std::size_t fileBytes;
    // The value expected back for an 8-bit code and alpha, and the allowed error.
    std::function<double(int code, int alpha)> expected;
    double tolerance;
};

const Format kFormats[] = {
    // Gamma-encoded codes, premultiplied, widened by bit replication: exact.
    {"DPX", AV_CODEC_ID_DPX, DPXWriter::data, 2048 + 4 * 256 * 6,
     [](int code, int alpha) {
         const int c = alpha == 255 ? code : (code * alpha + 127) / 255;
         return ((c << 2) | (c >> 6)) / 1023.0;
     },
     1e-9},
    // Linear light: a gamma ramp reads back as the sRGB curve, to half precision.
    {"OpenEXR", AV_CODEC_ID_EXR, EXRWriter::data, 313 + 8 * 6 + 6 * (8 + 6 * 256),
     [](int code, int alpha) { return srgbToLinear(code) * alpha / 255.0; }, 1.0 / 2048}};

TEST(ImageFileWriters, DecodeInFFmpegToTheExpectedPixels) {
    const Ramp ramp;
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.name);
        const std::vector<std::uint8_t> file = format.write(ramp.raster());
        EXPECT_EQ(file.size(), format.fileBytes);
        const auto frame = test::ffmpegDecodePacket(format.codec, 0, file, 0, 0);
        ASSERT_TRUE(frame);
        ASSERT_EQ(frame->width, Ramp::kWidth);
        ASSERT_EQ(frame->height, Ramp::kHeight);
        double worst = 0;
        for (int y = 0; y < Ramp::kHeight; ++y)
            for (int x = 0; x < Ramp::kWidth; ++x)
                for (int c = 0; c < 3; ++c) {
                    const double want = format.expected(ramp.at(x, y, c), ramp.at(x, y, 3));
                    worst = std::max(worst, std::abs(decoded(*frame, x, y, c) - want) / std::max(want, 1.0 / 64));
                }
        EXPECT_LE(worst, format.tolerance);
    }
}

TEST(ImageFileWriters, OpenEXRFilePassesExrheader) {
    const Ramp ramp;
    test::TempDir dir;
    const auto path = dir / "ramp.exr";
    const auto bytes = EXRWriter::data(ramp.raster());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const auto result = test::runCommand({"exrheader", path.string()});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    for (const char* line : {"compression (type compression): none", "(0 0) - (255 5)", "B, 16-bit floating-point",
                             "G, 16-bit floating-point", "R, 16-bit floating-point"})
        EXPECT_NE(result.standardOutput.find(line), std::string::npos) << line << "\n" << result.standardOutput;
}

// Sizes and rows from outside that no file can be made of fail with a message
// naming the size, before any pixel memory is taken.
TEST(ImageFileWriters, MalformedRastersFailWithAMessage) {
    const std::vector<std::uint8_t> row(4 * 64);
    struct Case {
        BGRARaster raster;
        const char* size;
    };
    const Case cases[] = {{{row.data(), 0, 5, 256}, "0 \u00d7 5"},
                          {{row.data(), 5, -3, 256}, "5 \u00d7 -3"},
                          {{row.data(), 40000, 1, 160000}, "40000 \u00d7 1"},
                          {{row.data(), 32768, 32768, 131072}, "32768 \u00d7 32768"},
                          {{row.data(), INT64_MAX, INT64_MAX, INT64_MAX}, "9223372036854775807"},
                          {{nullptr, 4, 4, 16}, "4 \u00d7 4"},
                          {{row.data(), 64, 1, 255}, "64 \u00d7 1"}};
    for (const Format& format : kFormats)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(format.name) + " " + c.size);
            try {
                format.write(c.raster);
                ADD_FAILURE() << "written";
            } catch (const std::invalid_argument& error) {
                EXPECT_NE(std::string(error.what()).find(c.size), std::string::npos) << error.what();
                EXPECT_NE(std::string(error.what()).find(format.name), std::string::npos) << error.what();
            }
        }
}

}  // namespace
}  // namespace fw
