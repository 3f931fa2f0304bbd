// Untouched 8-bit 4:2:0 pictures reach H.264 and ProRes as their own planes: a source whose chroma lies outside
// the RGB cube keeps it, as the ffmpeg tool's own encode at equal settings does; a changed picture still goes
// through RGB. Untouched 10-bit 4:2:2 pictures reach ProRes 422 as they are, their chroma rows kept; untouched
// 4:2:2 and full-range pictures reach every YCbCr writer without RGB too.

#include "PipelineTestSupport.h"
#include "pipeline/Filters.h"
#include "support/Pictures.h"

#include <array>
#include <cstdlib>

namespace fw {
namespace {

using namespace pipelinetest;

constexpr int kWidth = 320, kHeight = 180;

// Lossless 8-bit 4:2:0, 10 frames: a moving luma ramp over 16…235 under Cb and Cr waving between 20 and 236, so
// that most pixels lie outside the RGB cube. The chroma is smooth: a ProRes writer upsamples it down the rows,
// and how a hard edge is interpolated is no part of what is compared.
fs::path outOfCubeSource() {
    return generated("outofcube.mkv", {"-f", "lavfi", "-i",
                                       "color=c=black:s=320x180:r=25:d=0.4,format=yuv420p,"
                                       "geq=lum='16+mod(X*2+Y+N*9\\,220)':cb='128+108*sin(X/9)':cr='128+108*cos(Y/6)'",
                                       "-c:v", "libx264", "-qp", "0", "-pix_fmt", "yuv420p"});
}

// Lossless 10-bit 4:2:2, 10 frames: a moving luma ramp under Cb and Cr that alternate from row to row (detail a
// 4:2:0 working layout averages away) over a smooth wave.
fs::path alternatingChromaRowsSource() {
    return generated("rows422.mkv", {"-f", "lavfi", "-i",
                                     "color=c=black:s=320x180:r=25:d=0.4,format=yuv422p10le,"
                                     "geq=lum='64+mod(X*8+Y*4+N*36\\,876)':cb='512+200*sin(X/7)+120*(2*mod(Y\\,2)-1)'"
                                     ":cr='512+180*cos(Y/5)-120*(2*mod(Y\\,2)-1)'",
                                     "-c:v", "ffv1", "-pix_fmt", "yuv422p10le"});
}

// `encoder` asked to mirror its pictures, a change that sends them through RGB.
MovieEncoder mirroring(MovieEncoder encoder, bool tenBit = false) {
    FrameScaling request = frameRequest(kWidth, kHeight);
    request.tenBit = tenBit;
    GeometrySettings mirror;
    mirror.flipHorizontal = true;
    request.geometry = mirror;
    encoder.scaling = request;
    return encoder;
}

// PSNR (dB) of each plane (Y, Cb, Cr) of the file's pictures against the reference's, both read as 4:4:4 (in
// `pixelFormat`) with chroma left-sited, frames paired by index; `filter` is applied to the file's pictures first.
std::array<double, 3> planePsnr(const fs::path& reference, const fs::path& file, const std::string& filter = "",
                                const std::string& pixelFormat = "yuv444p") {
    const std::string format = "scale=in_h_chr_pos=0,format=" + pixelFormat + ",settb=AVTB,setpts=N/TB";
    const std::string graph =
        "[0:v]" + (filter.empty() ? "" : filter + ",") + format + "[a];[1:v]" + format + "[b];[a][b]psnr";
    auto result = test::runCommand({test::ffmpegTool(), "-nostdin", "-i", file.string(), "-i", reference.string(),
                                    "-lavfi", graph, "-f", "null", "-"});
    std::array<double, 3> planes{};
    const std::string& text = result.standardError;
    const auto line = text.find("PSNR y:");
    if (line == std::string::npos) {
        ADD_FAILURE() << text;
        return planes;
    }
    const char* names[] = {"y:", "u:", "v:"};
    for (int p = 0; p < 3; ++p) {
        const auto at = text.find(names[p], line) + 2;
        if (text.compare(at, 3, "inf") == 0) {
            planes[p] = 99;
            continue;
        }
        std::from_chars(text.data() + at, text.data() + text.size(), planes[p]);
    }
    return planes;
}

H264Settings h264At(double mbps) {
    H264Settings h264;
    h264.useExplicitBitrate = true;
    h264.bitrateMbps = mbps;
    return h264;
}

TEST(MovieEncoderYCbCr, UntouchedEightBitPicturesKeepChromaOutsideRgbAsTheToolDoes) {
    test::TempDir dir;
    const fs::path source = outOfCubeSource();
    ASSERT_FALSE(source.empty());
    struct Case {
        const char* name;
        OutputCodec codec;
        const char* extension;
        std::vector<std::string> tool;  // the tool's encoder at our settings
        // dB below the tool's own fidelity: H.264 gets the very planes, ProRes its chroma upsampled down the rows.
        double tolerance;
    };
    const Case cases[] = {
        {"h264",
         OutputCodec::h264,
         ".mp4",
         {"-c:v", "libx264", "-b:v", "1M", "-g", "60", "-pix_fmt", "yuv420p", "-threads", "1"},
         0.1},
        {"prores",
         OutputCodec::proRes,
         ".mov",
         {"-c:v", "prores_ks", "-profile:v", "hq", "-qscale:v", "7", "-vendor", "apl0", "-pix_fmt", "yuv422p10le"},
         0.3},
    };
    for (const Case& c : cases) {
        const fs::path tool = dir / (std::string(c.name) + "-tool" + c.extension);
        std::vector<std::string> arguments = {"-i", source.string()};
        arguments.insert(arguments.end(), c.tool.begin(), c.tool.end());
        arguments.push_back(tool.string());
        ASSERT_TRUE(test::ffmpeg(arguments));
        const auto theirs = planePsnr(source, tool);
        // As decoded, and through a frame request that leaves the picture as it is.
        for (bool request : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (request ? " with an unchanged frame request" : " as decoded"));
            MovieEncoder encoder = encoderFor(c.codec, kWidth, kHeight, ProResVariant::hq, h264At(1));
            encoder.threads = 1;
            if (request) encoder.scaling = frameRequest(kWidth, kHeight);
            const fs::path out = dir / (std::string(c.name) + (request ? "-request" : "") + c.extension);
            encode(encoder, source, out);
            const auto ours = planePsnr(source, out);
            const auto againstTool = planePsnr(tool, out);
            for (int p = 0; p < 3; ++p) {
                EXPECT_GT(ours[p], theirs[p] - c.tolerance) << "plane " << p;
                EXPECT_GT(againstTool[p], 45) << "plane " << p;
            }
        }
    }
}

TEST(MovieEncoderYCbCr, ChangedOrTranslucentPicturesStillGoThroughRgb) {
    test::TempDir dir;
    const fs::path source = outOfCubeSource();
    ASSERT_FALSE(source.empty());
    MovieEncoder untouched = encoderFor(OutputCodec::h264, kWidth, kHeight, ProResVariant::hq, h264At(1));
    encode(untouched, source, dir / "untouched.mp4");
    const auto kept = planePsnr(source, dir / "untouched.mp4");
    // Mirrored: the RGB path clips the chroma outside the cube, which mirroring back does not restore.
    MovieEncoder mirrored = mirroring(untouched);
    encode(mirrored, source, dir / "mirrored.mp4");
    const auto clipped = planePsnr(source, dir / "mirrored.mp4", "hflip");
    EXPECT_LT(clipped[1], kept[1] - 6);
    EXPECT_LT(clipped[2], kept[2] - 6);
    // Chroma sited between columns is resited through RGB as before, not relabelled.
    const fs::path centred = generated(
        "centred.mkv", {"-i", source.string(), "-c:v", "libx264", "-qp", "0", "-chroma_sample_location", "center"});
    ASSERT_EQ(fieldsOf(streamOf(probe(centred), "video"), {"chroma_location"}), "center");
    encode(untouched, centred, dir / "centred.mp4");
    const auto resited = planePsnr(source, dir / "centred.mp4");
    EXPECT_LT(resited[1], kept[1] - 6);

    // A source with alpha, kept: its translucency reaches ProRes 4444.
    const fs::path translucent = generated(
        "translucent.mov", {"-f", "lavfi", "-i",
                            "testsrc2=s=160x90:r=25:d=0.2,format=rgba,geq=r='r(X\\,Y)':g='g(X\\,Y)':b='b(X\\,Y)'"
                            ":a='X*255/W'",
                            "-c:v", "qtrle", "-pix_fmt", "argb"});
    ASSERT_FALSE(translucent.empty());
    MovieEncoder withAlpha = encoderFor(OutputCodec::proRes, 160, 90, ProResVariant::fourByFour);
    FrameScaling keepAlpha = frameRequest(160, 90);
    keepAlpha.preservesAlpha = true;
    withAlpha.scaling = keepAlpha;
    encode(withAlpha, translucent, dir / "alpha.mov");
    const auto rgba = test::ffmpegRaw(dir / "alpha.mov", "rgba", 1);
    ASSERT_EQ(rgba.size(), std::size_t{160} * 90 * 4);
    EXPECT_LT(rgba[4 * 2 + 3], 16);
    EXPECT_GT(rgba[4 * 157 + 3], 240);
}

// Mean step (10-bit codes) between neighbouring rows of the first picture's Cb plane, read as 4:2:2.
double cbRowStep(const fs::path& file) {
    const auto raw = test::ffmpegRaw(file, "yuv422p10le", 1);
    constexpr int chromaWidth = kWidth / 2;
    if (raw.size() != std::size_t{kWidth} * kHeight * 4) {
        ADD_FAILURE() << "undecodable " << file;
        return 0;
    }
    auto cb = [&](int x, int y) {
        const std::size_t at = std::size_t{kWidth} * kHeight * 2 + (std::size_t(y) * chromaWidth + std::size_t(x)) * 2;
        return raw[at] | raw[at + 1] << 8;
    };
    double sum = 0;
    for (int y = 0; y + 1 < kHeight; ++y)
        for (int x = 0; x < chromaWidth; ++x) sum += std::abs(cb(x, y) - cb(x, y + 1));
    return sum / (double(kHeight - 1) * chromaWidth);
}

TEST(MovieEncoderYCbCr, UntouchedTenBit422PicturesReachProRes422WithTheirChromaRows) {
    test::TempDir dir;
    const fs::path source = alternatingChromaRowsSource();
    ASSERT_FALSE(source.empty());
    const double sourceStep = cbRowStep(source);
    ASSERT_GT(sourceStep, 200);
    const fs::path tool = dir / "tool.mov";
    ASSERT_TRUE(test::ffmpeg({"-i", source.string(), "-c:v", "prores_ks", "-profile:v", "hq", "-qscale:v", "7",
                              "-vendor", "apl0", "-pix_fmt", "yuv422p10le", tool.string()}));
    const auto theirs = planePsnr(source, tool, "", "yuv444p10le");
    struct Case {
        const char* name;
        bool request;
        bool tenBit;
    };
    for (const Case& c : {Case{"as decoded", false, false}, Case{"through an unchanged 8-bit request", true, false},
                          Case{"through an unchanged 10-bit request", true, true}}) {
        SCOPED_TRACE(c.name);
        MovieEncoder encoder = encoderFor(OutputCodec::proRes, kWidth, kHeight, ProResVariant::hq);
        encoder.threads = 1;
        if (c.request) {
            encoder.scaling = frameRequest(kWidth, kHeight);
            encoder.scaling->tenBit = c.tenBit;
        }
        const fs::path out = dir / (std::string(c.name) + ".mov");
        encode(encoder, source, out);
        const auto ours = planePsnr(source, out, "", "yuv444p10le");
        for (int p = 0; p < 3; ++p) EXPECT_GT(ours[p], theirs[p] - 0.3) << "plane " << p;
        EXPECT_GT(cbRowStep(out), 0.9 * sourceStep);
    }

    // A picture that changes still goes through the 10-bit path's 4:2:0, which averages the rows' chroma.
    MovieEncoder mirrored = mirroring(encoderFor(OutputCodec::proRes, kWidth, kHeight, ProResVariant::hq), true);
    encode(mirrored, source, dir / "mirrored.mov");
    EXPECT_LT(cbRowStep(dir / "mirrored.mov"), 0.25 * sourceStep);
}

// Lossless out-of-cube sources in other layouts: 10 frames of a moving luma ramp under smooth Cb and Cr waving near
// their ends, in `pixelFormat` at its own range.
fs::path outOfCubeSource(const std::string& name, const std::string& pixelFormat, const std::string& planes) {
    const bool x264 = pixelFormat == "yuvj420p";
    std::vector<std::string> arguments = {
        "-f",   "lavfi",
        "-i",   "color=c=black:s=320x180:r=25:d=0.4,format=" + pixelFormat + ",geq=" + planes,
        "-c:v", x264 ? "libx264" : "ffv1"};
    if (x264) arguments.insert(arguments.end(), {"-qp", "0"});
    arguments.insert(arguments.end(), {"-pix_fmt", pixelFormat});
    return generated(name, arguments);
}

TEST(MovieEncoderYCbCr, UntouchedFullRangeAnd422PicturesKeepChromaOutsideRgbAsTheToolDoes) {
    test::TempDir dir;
    const fs::path tenBit422 =
        outOfCubeSource("outofcube422p10.mkv", "yuv422p10le",
                        "lum='64+mod(X*8+Y*4+N*36\\,876)':cb='512+420*sin(X/9)':cr='512+420*cos(Y/6)'");
    const fs::path fullRange = outOfCubeSource(
        "outofcubefull.mp4", "yuvj420p", "lum='mod(X*2+Y+N*9\\,256)':cb='128+120*sin(X/9)':cr='128+120*cos(Y/6)'");
    const fs::path eightBit422 = outOfCubeSource(
        "outofcube422p.mkv", "yuv422p", "lum='16+mod(X*2+Y+N*9\\,220)':cb='128+108*sin(X/9)':cr='128+108*cos(Y/6)'");
    for (const fs::path& source : {tenBit422, fullRange, eightBit422}) ASSERT_FALSE(source.empty());
    ASSERT_EQ(fieldsOf(streamOf(probe(fullRange), "video"), {"color_range"}), "pc");
    const std::vector<std::string> h264 = {"-c:v", "libx264",  "-b:v",    "1M",       "-g",
                                           "60",   "-pix_fmt", "yuv420p", "-threads", "1"};
    const std::vector<std::string> main10 = {"-c:v",       "libx265", "-b:v",         "1M",
                                             "-g",         "60",      "-pix_fmt",     "yuv420p10le",
                                             "-profile:v", "main10",  "-x265-params", "log-level=error"};
    const std::vector<std::string> proRes = {"-c:v", "prores_ks", "-profile:v", "hq",       "-qscale:v",
                                             "7",    "-vendor",   "apl0",       "-pix_fmt", "yuv422p10le"};
    struct Case {
        const char* name;
        const fs::path& source;
        OutputCodec codec;
        VideoProfile profile;
        const std::vector<std::string>& tool;  // the tool's encoder at our settings
        const char* measuredIn;
    };
    const Case cases[] = {
        {"10-bit 4:2:2 to H.264", tenBit422, OutputCodec::h264, VideoProfile::automatic, h264, "yuv444p10le"},
        {"10-bit 4:2:2 to HEVC Main 10", tenBit422, OutputCodec::hevc, VideoProfile::main10, main10, "yuv444p10le"},
        {"full range to H.264", fullRange, OutputCodec::h264, VideoProfile::automatic, h264, "yuv444p"},
        {"full range to ProRes", fullRange, OutputCodec::proRes, VideoProfile::automatic, proRes, "yuv444p"},
        {"8-bit 4:2:2 to H.264", eightBit422, OutputCodec::h264, VideoProfile::automatic, h264, "yuv444p"},
        {"8-bit 4:2:2 to ProRes", eightBit422, OutputCodec::proRes, VideoProfile::automatic, proRes, "yuv444p"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string extension = c.codec == OutputCodec::proRes ? ".mov" : ".mp4";
        const fs::path tool = dir / (std::string(c.name) + " tool" + extension);
        std::vector<std::string> arguments = {"-i", c.source.string()};
        arguments.insert(arguments.end(), c.tool.begin(), c.tool.end());
        arguments.push_back(tool.string());
        ASSERT_TRUE(test::ffmpeg(arguments));
        const auto theirs = planePsnr(c.source, tool, "", c.measuredIn);
        H264Settings rate = h264At(1);
        rate.profile = c.profile;
        MovieEncoder untouched = encoderFor(c.codec, kWidth, kHeight, ProResVariant::hq, rate);
        untouched.threads = 1;
        // As decoded, and through a frame request that leaves the picture as it is.
        std::array<double, 3> kept{};
        for (bool request : {false, true}) {
            SCOPED_TRACE(request ? "through an unchanged frame request" : "as decoded");
            MovieEncoder encoder = untouched;
            if (request) encoder.scaling = frameRequest(kWidth, kHeight);
            const fs::path out = dir / (std::string(c.name) + (request ? " request" : "") + extension);
            encode(encoder, c.source, out);
            kept = planePsnr(c.source, out, "", c.measuredIn);
            const auto againstTool = planePsnr(tool, out, "", c.measuredIn);
            for (int p = 0; p < 3; ++p) {
                EXPECT_GT(kept[p], theirs[p] - 0.3) << "plane " << p;
                EXPECT_GT(againstTool[p], 45) << "plane " << p;
            }
        }
        // Mirrored, the picture goes through RGB, whose clipping mirroring back does not restore.
        MovieEncoder mirrored = mirroring(untouched);
        const fs::path out = dir / (std::string(c.name) + " mirrored" + extension);
        encode(mirrored, c.source, out);
        const auto clipped = planePsnr(c.source, out, "hflip", c.measuredIn);
        EXPECT_LT(clipped[1], kept[1] - 6);
        EXPECT_LT(clipped[2], kept[2] - 6);
    }
}

// A picture the size of its source with a filter on it is a changed picture: a watermark shows in every frame of
// ProRes and HEVC outputs, in 8 and in 10 bits, although the same pictures without it reach the writer as decoded.
TEST(MovieEncoderYCbCr, AWatermarkShowsOnPicturesThatWouldOtherwisePassAsDecoded) {
    test::TempDir dir;
    const fs::path source = generated("grey420.mkv", {"-f", "lavfi", "-i", "color=c=0x808080:s=320x180:r=25:d=0.4",
                                                      "-c:v", "libx264", "-qp", "0", "-pix_fmt", "yuv420p"});
    ASSERT_FALSE(source.empty());
    auto filters = std::make_shared<PreparedFilters>();
    filters->watermark = ImageBox{test::solidPicture(64, 32, 0, 0, 255)};  // opaque red
    filters->watermarkPosition = FilterCorner::center;
    struct Case {
        const char* name;
        OutputCodec codec;
        bool tenBit;
    };
    const Case cases[] = {{"prores", OutputCodec::proRes, false},
                          {"prores 10-bit", OutputCodec::proRes, true},
                          {"hevc 10-bit", OutputCodec::hevc, true},
                          {"h264", OutputCodec::h264, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        H264Settings rate;
        if (c.tenBit) rate.profile = VideoProfile::main10;
        MovieEncoder encoder = encoderFor(c.codec, kWidth, kHeight, ProResVariant::hq, rate);
        FrameScaling request = frameRequest(kWidth, kHeight);
        request.filters = filters;
        request.tenBit = c.tenBit;
        encoder.scaling = request;
        const fs::path out = dir / (std::string(c.name) + (c.codec == OutputCodec::proRes ? ".mov" : ".mp4"));
        encode(encoder, source, out);
        const auto rgb = test::ffmpegRaw(out, "rgb24");
        ASSERT_EQ(rgb.size(), std::size_t{kWidth} * kHeight * 3);
        const auto at = [&](int x, int y, int channel) {
            return int(rgb[(std::size_t(y) * kWidth + x) * 3 + channel]);
        };
        // The middle is the watermark's red; a corner is the source's grey.
        EXPECT_GT(at(kWidth / 2, kHeight / 2, 0), 200);
        EXPECT_LT(std::max(at(kWidth / 2, kHeight / 2, 1), at(kWidth / 2, kHeight / 2, 2)), 60);
        for (int channel = 0; channel < 3; ++channel) EXPECT_NEAR(at(8, 8, channel), 128, 12) << channel;
    }
}

}  // namespace
}  // namespace fw
