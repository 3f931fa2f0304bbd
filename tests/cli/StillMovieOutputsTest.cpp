// Still images through the built program on the platform codecs: movies of the default length and rate (5 s at
// 30 fps), upright, read back by ffprobe and decoded by FFmpeg's own ProRes, H.264 and HEVC decoders.

#include "support/Probe.h"
#include "support/StillImageFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// 320 × 180, smooth but busy colour as in a photograph, opaque.
fs::path picture(const std::string& name, const std::vector<std::string>& encoding = {}) {
    std::vector<std::string> arguments{
        "-f",
        "lavfi",
        "-i",
        "nullsrc=s=320x180,format=rgb24,geq=r='128+100*sin(X/13)*cos(Y/29)':g='128+90*sin(Y/11)*cos(X/37)':"
        "b='128+80*cos((X+Y)/17)'",
        "-frames:v",
        "1"};
    arguments.insert(arguments.end(), encoding.begin(), encoding.end());
    return test::generated(name, arguments);
}

// FFmpeg's picture `index` of a file as RGB, as it is shown (a JPEG turned by its EXIF orientation).
Bytes decoded(const fs::path& file, int index = 0) {
    const auto result = test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string(), "-vf",
                                          "select=eq(n\\," + std::to_string(index) + ")", "-frames:v", "1", "-f",
                                          "rawvideo", "-pix_fmt", "rgba", "-"});
    return {result.standardOutput.begin(), result.standardOutput.end()};
}

double psnr(const Bytes& a, const Bytes& b, int width, int height) {
    if (a.size() != b.size() || a.size() != static_cast<std::size_t>(width) * height * 4) return 0;
    return test::psnr(a.data(), width * 4, b.data(), width * 4, width, height, 3);
}

// Every platform codec, 8- and 10-bit, from a PNG and from a JPEG stored on its side: 150 frames lasting 5 s at the
// picture's shown size, no sound; the first and the last frame against the still as FFmpeg decodes it. This content's
// colour is busy enough that chroma subsampling alone costs it (FFmpeg's own round trip: 42.3 dB through 4:2:2, 40.6
// through 4:2:0); measured: ProRes 40.2-40.3 dB, H.264 36.4-39.5, HEVC 37.3-40.6. Floors sit about 3 dB under: a
// picture turned the wrong way, fitted as stored, missing from later frames, converted with another matrix than the
// file is tagged with (31 dB) or with swapped colour planes falls below.
TEST(StillMovieOutputs, StillsBecomeMoviesInEveryPlatformCodec) {
    struct Row {
        std::vector<std::string> options;
        bool jpeg;
        const char* output;
        const char* video;  // codec, profile, pixel format, width, height, frames, rate, duration
        double floor;       // dB
    };
    const Row rows[] = {
        {{"--codec", "prores"}, false, "still_ProRes.mov", "prores HQ yuv422p10le 320 180 150 30/1 5.000000", 37},
        {{"--codec", "prores", "--ten-bit"},
         false,
         "still_ProRes.mov",
         "prores HQ yuv422p10le 320 180 150 30/1 5.000000",
         37},
        {{"--codec", "h264"}, false, "still_H264.mp4", "h264 High yuv420p 320 180 150 30/1 5.000000", 33},
        {{"--codec", "hevc"}, false, "still_HEVC.mp4", "hevc Main yuv420p 320 180 150 30/1 5.000000", 33},
        {{"--codec", "hevc", "--ten-bit"},
         false,
         "still_HEVC.mp4",
         "hevc Main 10 yuv420p10le 320 180 150 30/1 5.000000",
         35},
        {{"--codec", "h264"}, true, "turned_H264.mp4", "h264 High yuv420p 180 320 150 30/1 5.000000", 33},
    };
    test::TempDir dir;
    const fs::path png = picture("still.png");
    const fs::path jpeg = dir / "turned.jpg";
    {
        const Bytes stored = test::readFile(picture("stored.jpg", {"-pix_fmt", "yuvj444p", "-q:v", "2"}));
        const Bytes turned = test::withExifOrientation(stored, 6, /*bigEndian=*/false);
        std::ofstream(jpeg, std::ios::binary).write(reinterpret_cast<const char*>(turned.data()), turned.size());
    }
    for (const Row& row : rows) {
        const fs::path still = row.jpeg ? jpeg : png;
        SCOPED_TRACE(std::string(row.output) + (row.options.size() > 2 ? " 10-bit" : ""));
        std::vector<std::string> argv{FW_PROGRAM, "--encode", "--output", dir.path().string()};
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        argv.push_back(still.string());
        const auto result = test::runCommand(argv);
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;

        const fs::path output = dir / row.output;
        const test::Json probed = test::probe(output, {"-count_frames"});
        const test::Json video = test::streamOf(probed, "video");
        EXPECT_EQ(test::fieldsOf(video, {"codec_name", "profile", "pix_fmt", "width", "height", "nb_read_frames",
                                         "r_frame_rate", "duration"}),
                  row.video);
        EXPECT_EQ(probed["streams"].size(), 1u) << "no sound";
        const int width = video.value("width", 0), height = video.value("height", 0);
        const Bytes shown = decoded(still);
        for (const int index : {0, 149}) {
            const double measured = psnr(decoded(output, index), shown, width, height);
            std::printf("%s frame %d: %.1f dB\n", row.output, index, measured);
            EXPECT_GT(measured, row.floor) << "frame " << index;
        }
        fs::remove(output);
    }
}

}  // namespace
}  // namespace fw
