// Subsampled chroma is sited as MPEG video is read: on the even luma columns. The coded planes are read back raw by the
// ffmpeg tool, with no conversion of its own in between.
#include "platform/media/Media.h"
#include "platform/media/MediaTestMedia.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace fw::media {
namespace {

constexpr int kWidth = 64, kHeight = 16;
// Colour A left of column 20 and from column 41 on, colour B between: one edge at an even column, one at an odd one.
constexpr int kEvenEdge = 20, kOddEdge = 41;

bool insideB(int x) { return x >= kEvenEdge && x < kOddEdge; }

// Checks each chroma sample near the edges against left siting, sample j being 1/4·c(2j−1) + 1/2·c(2j) + 1/4·c(2j+1),
// with c the plateau values read far from the edges. Centred siting is a quarter of the step off on the samples that
// straddle an edge. Besides the coding error (codes), the converter's bicubic filter overshoots by about 4% of the step
// next to one.
void expectLeftSited(const std::vector<int>& cb, double codes) {
    ASSERT_EQ(cb.size(), std::size_t(kWidth / 2));
    const double a = cb[3], b = cb[15];
    const double tolerance = codes + 0.05 * std::abs(a - b);
    ASSERT_GT(std::abs(a - b), 8 * tolerance) << "the two colours need distinct chroma";
    auto c = [&](int x) { return insideB(x) ? b : a; };
    for (int j :
         {kEvenEdge / 2 - 1, kEvenEdge / 2, kEvenEdge / 2 + 1, kOddEdge / 2 - 1, kOddEdge / 2, kOddEdge / 2 + 1}) {
        const double expected = c(2 * j - 1) / 4 + c(2 * j) / 2 + c(2 * j + 1) / 4;
        EXPECT_NEAR(cb[j], expected, tolerance) << "chroma sample " << j << " (A " << a << ", B " << b << ")";
    }
}

TEST(ChromaSiting, ProResAndH264ChromaSitsOnEvenColumns) {
    struct Row {
        const char* file;
        VideoCodec codec;
        FileType type;
        const char* pixelFormat;
        int sampleBytes, chromaHeight;
        double codes;
    };
    const auto picture = PixelBuffer::create(kWidth, kHeight, PixelFormat::bgra8);
    // BGRA: a dull blue and an orange, chroma about a hundred codes apart.
    const std::uint8_t a[] = {170, 90, 60, 255}, b[] = {60, 130, 190, 255};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) std::memcpy(picture->row(y) + 4 * x, insideB(x) ? b : a, 4);
    for (const Row row :
         {Row{"siting-prores.mov", VideoCodec::proRes, FileType::quickTimeMovie, "yuv422p10le", 2, kHeight, 8.0},
          Row{"siting-h264.mp4", VideoCodec::h264, FileType::mpeg4, "yuv420p", 1, kHeight / 2, 4.0}}) {
        SCOPED_TRACE(row.file);
        const auto path = test::mediaFolder() / row.file;
        VideoEncoderSettings settings;
        settings.codec = row.codec, settings.proResProfile = ProResProfile::hq;
        settings.width = kWidth, settings.height = kHeight;
        if (row.codec == VideoCodec::h264) settings.averageBitRate = 20'000'000;
        AssetWriter writer(path, row.type);
        auto input = writer.addVideoInput(settings);
        ASSERT_TRUE(input && writer.startWriting()) << writer.errorDescription().value_or("");
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(input->appendPixelBuffer(picture, MediaTime(i, 25)));
        input->markAsFinished();
        ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");

        // The middle Cb row of the first picture as the decoder gives it (little-endian words at 2 bytes).
        const auto raw = fw::test::ffmpegRaw(path, row.pixelFormat);
        const std::size_t lumaBytes = std::size_t(kWidth) * kHeight * row.sampleBytes,
                          chromaRowBytes = std::size_t(kWidth / 2) * row.sampleBytes;
        ASSERT_GE(raw.size(), lumaBytes + 2 * chromaRowBytes * row.chromaHeight) << "short picture";
        const std::uint8_t* bytes = raw.data() + lumaBytes + row.chromaHeight / 2 * chromaRowBytes;
        std::vector<int> cb;
        for (int j = 0; j < kWidth / 2; ++j)
            cb.push_back(row.sampleBytes == 2 ? bytes[2 * j] | bytes[2 * j + 1] << 8 : bytes[j]);
        expectLeftSited(cb, row.codes);
    }
}

// A 4:2:0 source with a Cb step between chroma columns 9 and 10, made from planes written here; Y and Cr are flat.
std::filesystem::path chromaStepMovie(const std::string& name, const std::vector<std::string>& extra) {
    auto raw = test::mediaFolder() / (name + ".yuv");
    {
        std::vector<std::uint8_t> planes(kWidth * kHeight, 128);
        for (int plane = 0; plane < 2; ++plane)
            for (int y = 0; y < kHeight / 2; ++y)
                for (int x = 0; x < kWidth / 2; ++x)
                    planes.push_back(plane == 0 && x >= 10 ? 176 : plane == 0 ? 80 : 128);
        std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(planes.data()), planes.size());
    }
    std::vector<std::string> arguments = {"-f", "rawvideo", "-pix_fmt", "yuv420p",    "-s",   "64x16",
                                          "-r", "25",       "-i",       raw.string(), "-c:v", "ffv1"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return test::generated(name + ".mkv", arguments);
}

// Blue of row 8 of the first picture read as BGRA.
std::vector<int> blueRow(const std::filesystem::path& file) {
    const auto pictures = test::readTrack(file, MediaType::video);
    std::vector<int> blue;
    for (int x = 0; !pictures.empty() && x < kWidth; ++x) blue.push_back(pictures[0]->imageBuffer()->row(8)[4 * x]);
    return blue;
}

// How far along the step from the left plateau to the right one column x is.
double stepFraction(const std::vector<int>& blue, int x) { return double(blue[x] - blue[8]) / (blue[28] - blue[8]); }

TEST(ChromaSiting, UntaggedFourTwoZeroReadsLeftSitedAndTaggedAsTagged) {
    struct Bound {
        int column;
        double low, high;  // of the step fraction there
    };
    struct Row {
        const char* name;
        std::vector<std::string> extra;
        std::vector<Bound> bounds;
    };
    // Untagged: chroma 9 sits on luma column 18, chroma 10 on 20, so column 19 lies halfway (centred siting would put
    // the step between 19 and 20). Tagged centred: chroma 9 between luma 18 and 19, chroma 10 between 20 and 21.
    const Row rows[] = {{"chroma-step", {}, {{17, -1, 0.1}, {19, 0.12, 0.6}, {21, 0.9, 2}}},
                        {"chroma-step-centred", {"-chroma_sample_location", "center"}, {{19, -1, 0.1}, {20, 0.9, 2}}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto file = chromaStepMovie(row.name, row.extra);
        ASSERT_FALSE(file.empty());
        const auto blue = blueRow(file);
        ASSERT_EQ(blue.size(), std::size_t(kWidth));
        ASSERT_GT(blue[28] - blue[8], 100);
        for (const auto& bound : row.bounds) {
            EXPECT_GT(stepFraction(blue, bound.column), bound.low) << "column " << bound.column;
            EXPECT_LT(stepFraction(blue, bound.column), bound.high) << "column " << bound.column;
        }
    }
}

}  // namespace
}  // namespace fw::media
