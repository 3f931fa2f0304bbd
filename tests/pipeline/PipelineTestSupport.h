#pragma once
// Shared rig of the pipeline tests: clips made once per program, read-backs, pictures, scratch folders.

#include "model/EncodingError.h"
#include "model/OutputFormat.h"
#include "pipeline/MovieEncoder.h"
#include "platform/media/Asset.h"
#include "support/Probe.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace fw::pipelinetest {

namespace fs = std::filesystem;
using Json = test::Json;

using test::generated;

// 1 s at 25 fps, 160×90 testsrc2 (lossless H.264) with a 440 Hz stereo sine at 44.1 kHz, QuickTime.
inline fs::path clipWithAudio() {
    return generated("clip.mov", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=1", "-f", "lavfi", "-i",
                                  "sine=frequency=440:sample_rate=44100:duration=1", "-ac", "2", "-c:v", "libx264",
                                  "-qp", "0", "-pix_fmt", "yuv444p", "-c:a", "pcm_s16le"});
}

// 1 s at 30000/1001 fps, 160×90, with audio, MPEG-4.
inline fs::path ntscClip() {
    return generated("ntsc.mp4", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=30000/1001:d=1", "-f", "lavfi", "-i",
                                  "sine=frequency=880:sample_rate=48000:duration=1", "-c:v", "libx264", "-qp", "0",
                                  "-c:a", "aac", "-shortest"});
}

// About 1 s of frames at jittered times (1/30 s apart plus up to 0.4 of a frame), 160×90.
inline fs::path variableRateClip() {
    return generated("vfr.mp4",
                     {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=30:d=1", "-vf", "setpts='(N+0.4*random(7))/30/TB'",
                      "-fps_mode", "passthrough", "-c:v", "libx264", "-qp", "0", "-video_track_timescale", "3000"});
}

// 8 s at 25 fps, 320×180, for encodes that are cancelled half way.
inline fs::path longerClip() {
    return generated("longer.mp4", {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=8", "-c:v", "libx264", "-preset",
                                    "ultrafast", "-pix_fmt", "yuv420p"});
}

using test::displayedSize;
using test::fieldsOf;
using test::number;
using test::probe;
using test::streamCount;
using test::streamOf;

// Presentation times of the first video stream's packets, sorted.
inline std::vector<double> videoTimes(const fs::path& file) {
    std::vector<double> times;
    for (const auto& packet :
         probe(file, {"-select_streams", "v:0", "-show_entries", "packet=pts_time"}).value("packets", Json::array()))
        times.push_back(number(packet["pts_time"]));
    std::sort(times.begin(), times.end());
    return times;
}

// Average PSNR (dB) of the file's pictures against the reference's, decoded by ffmpeg as displayed (stored:
// unrotated), scaled to width × height with chroma read left-sited as written, and paired in order. Compared in
// `compared` pixels: yuv444p, or gbrp for an RGB reference (each side then converted by its own matrix).
inline double psnr(const fs::path& reference, const fs::path& file, int width, int height, bool stored = false,
                   const std::string& compared = "yuv444p") {
    const std::string scale = "scale=" + std::to_string(width) + ":" + std::to_string(height) + ":in_h_chr_pos=0";
    const std::string format = ",format=" + compared + ",settb=AVTB,setpts=N/TB";
    const std::string graph = "[0:v]" + scale + format + "[a];[1:v]" + scale + format + "[b];[a][b]psnr";
    std::vector<std::string> arguments = {test::ffmpegTool(), "-nostdin"};
    for (const fs::path* input : {&file, &reference}) {
        if (stored) arguments.push_back("-noautorotate");
        arguments.insert(arguments.end(), {"-i", input->string()});
    }
    arguments.insert(arguments.end(), {"-lavfi", graph, "-f", "null", "-"});
    auto result = test::runCommand(arguments);
    const auto at = result.standardError.find("average:");
    if (at == std::string::npos) return 0;
    const char* begin = result.standardError.c_str() + at + 8;
    if (std::string_view(begin, 3) == "inf") return 99;
    double value = 0;
    std::from_chars(begin, result.standardError.c_str() + result.standardError.size(), value);
    return value;
}

// An encoder for a producible movie codec at width × height.
inline MovieEncoder encoderFor(OutputCodec codec, std::int64_t width, std::int64_t height,
                               ProResVariant variant = ProResVariant::hq,
                               const std::optional<H264Settings>& h264 = H264Settings{},
                               const std::optional<ColorProperties>& color = std::nullopt) {
    MovieEncoder encoder;
    auto settings = videoSettings(codec, width, height, variant, h264, color);
    EXPECT_TRUE(settings) << "no writer settings";
    if (settings) encoder.videoSettings = *settings;
    encoder.fileType = fileType(codec);
    return encoder;
}

inline media::AssetRef open(const fs::path& file) { return media::Asset::open(file); }

// Encodes and returns the progress fractions reported.
inline std::vector<double> encode(const MovieEncoder& encoder, const fs::path& source, const fs::path& destination) {
    std::mutex mutex;
    std::vector<double> fractions;
    encoder.encode(open(source), destination,
                   [&](double f) {
                       std::lock_guard lock(mutex);
                       fractions.push_back(f);
                   },
                   {});
    return fractions;
}

// The frame request of a resizing encode at width × height.
inline FrameScaling frameRequest(int width, int height) {
    FrameScaling scaling;
    scaling.width = width, scaling.height = height;
    return scaling;
}

// Names in the folder, sorted.
inline std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The EncodingError the body throws; a test failure when it throws none.
template <class Body>
EncodingError encodingErrorOf(Body body) {
    try {
        body();
    } catch (const EncodingError& error) {
        return error;
    }
    ADD_FAILURE() << "no EncodingError";
    return EncodingError::cancelled();
}

// A bgra8 or x420 picture from tightly packed raw bytes (bgra / p010le); null on a size mismatch.
inline media::PixelBufferRef pictureFromRaw(const std::vector<std::uint8_t>& bytes, int width, int height,
                                            media::PixelFormat format) {
    auto picture = media::PixelBuffer::create(width, height, format);
    std::size_t at = 0;
    for (int plane = 0; plane < picture->planeCount(); ++plane) {
        // Bytes a sample of the plane (x420's CbCr pairs count once).
        const std::size_t sampleBytes = format == media::PixelFormat::i420   ? 1
                                        : format == media::PixelFormat::x422 ? 2
                                        : format == media::PixelFormat::x420 ? (plane == 0 ? 2 : 4)
                                                                             : 4;
        const std::size_t rowBytes = static_cast<std::size_t>(picture->planeWidth(plane)) * sampleBytes;
        for (int y = 0; y < picture->planeHeight(plane); ++y, at += rowBytes) {
            if (at + rowBytes > bytes.size()) return nullptr;
            std::memcpy(picture->row(y, plane), bytes.data() + at, rowBytes);
        }
    }
    return at == bytes.size() ? picture : nullptr;
}

// Pictures made and read pixel by pixel (bgra8 and x420).
struct Bgra {
    int b = 0, g = 0, r = 0, a = 255;
    bool operator==(const Bgra&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Bgra& p) {
    return out << "(b " << p.b << ", g " << p.g << ", r " << p.r << ", a " << p.a << ")";
}

inline bool near(const Bgra& x, const Bgra& y, int tolerance) {
    return std::max({std::abs(x.b - y.b), std::abs(x.g - y.g), std::abs(x.r - y.r), std::abs(x.a - y.a)}) <= tolerance;
}

inline media::PixelBufferRef makeImage(int width, int height, const std::function<Bgra(int, int)>& colour) {
    auto image = media::PixelBuffer::create(width, height, media::PixelFormat::bgra8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Bgra c = colour(x, y);
            std::uint8_t* p = image->row(y) + 4 * x;
            p[0] = std::uint8_t(c.b), p[1] = std::uint8_t(c.g), p[2] = std::uint8_t(c.r), p[3] = std::uint8_t(c.a);
        }
    return image;
}

inline media::PixelBufferRef solid(int width, int height, Bgra colour) {
    return makeImage(width, height, [&](int, int) { return colour; });
}

// Every pixel different: position coded into the colour.
inline Bgra unique(int x, int y) {
    return {(x * 37 + y * 11) % 256, (y * 53 + x * 3) % 256, (x * 7 + y * 29) % 256, 255};
}

inline Bgra at(const media::PixelBuffer& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

inline const Bgra kBlack{0, 0, 0, 255};

struct PixelAt {
    int x, y;
    Bgra colour;
};

inline void expectPixels(const media::PixelBuffer& image, std::initializer_list<PixelAt> pixels) {
    for (const PixelAt& p : pixels) EXPECT_EQ(at(image, p.x, p.y), p.colour) << "at " << p.x << "," << p.y;
}

using Chroma = std::pair<int, int>;  // Cb, Cr codes

// A 10-bit picture of luma codes by pixel and chroma codes by chroma sample.
inline media::PixelBufferRef makeX420(
    int width, int height, const std::function<int(int, int)>& luma,
    const std::function<Chroma(int, int)>& chroma = [](int, int) {
        return Chroma{512, 512};
    }) {
    auto image = media::PixelBuffer::create(width, height, media::PixelFormat::x420);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image->row<std::uint16_t>(y, 0)[x] = std::uint16_t(luma(x, y) << 6);
    for (int y = 0; y < image->planeHeight(1); ++y)
        for (int x = 0; x < image->planeWidth(1); ++x) {
            const auto [cb, cr] = chroma(x, y);
            image->row<std::uint16_t>(y, 1)[2 * x] = std::uint16_t(cb << 6);
            image->row<std::uint16_t>(y, 1)[2 * x + 1] = std::uint16_t(cr << 6);
        }
    return image;
}

inline int lumaCode(const media::PixelBuffer& image, int x, int y) { return image.row<std::uint16_t>(y, 0)[x] >> 6; }

// A scratch folder and files generated in it from one lavfi source.
class ScratchFolder : public ::testing::Test {
protected:
    test::TempDir dir_;
    fs::path make(const std::string& name, const std::string& source, const std::vector<std::string>& extra = {}) {
        const fs::path file = dir_ / name;
        std::vector<std::string> arguments{"-f", "lavfi", "-i", source};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(file.string());
        EXPECT_TRUE(test::ffmpeg(arguments));
        return file;
    }
};

}  // namespace fw::pipelinetest
