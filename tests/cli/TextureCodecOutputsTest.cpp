// Hap and DXV outputs of the built program, read back by ffprobe and decoded by FFmpeg's own hap and dxv decoders.

#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::Json;

// 1 s at 25 fps, 250 × 142 (neither side a multiple of 4 or 16, so the edge blocks repeat pixels), losslessly stored
// 8-bit RGBA with a 44.1 kHz stereo tone. Smooth but busy colour, as in a photograph; alpha ramps across the
// picture and moves. Crisp synthetic edges would measure the block coder's limits rather than the packaging.
fs::path source(bool withAlpha) {
    const std::string picture =
        "nullsrc=s=250x142:r=25:d=1,format=rgba,geq=r='128+100*sin(X/13+T*3)*cos(Y/29)':"
        "g='128+90*sin(Y/11)*cos(X/37+T)':b='128+80*cos((X+Y)/17)':a='" +
        std::string(withAlpha ? "clip(255*X/W+60*sin(Y/9+T*5),0,255)" : "255") + "'";
    return test::generated(
        withAlpha ? "translucent.mov" : "opaque.mov",
        {"-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=1", "-ac",
         "2", "-c:v", "png", "-c:a", "pcm_s16le", "-shortest"});
}

// High-quality DXV frames decode to their planes Y, Cg, Co, A (FFmpeg calls them yuva420p); back to RGBA by the inverse of
// Y = (R + 2G + B) / 4, Co = (R − B) / 2 + 128, Cg = (2G − R − B) / 4 + 128, chroma shared by each 2 × 2 cell.
std::vector<std::uint8_t> rgbaFromYCoCg(const std::vector<std::uint8_t>& planes, int width, int height) {
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    const std::size_t luma = std::size_t(width) * height, chroma = std::size_t(chromaWidth) * chromaHeight;
    const std::size_t frameBytes = 2 * luma + 2 * chroma;
    std::vector<std::uint8_t> rgba;
    for (std::size_t frame = 0; (frame + 1) * frameBytes <= planes.size(); ++frame) {
        const std::uint8_t *y = planes.data() + frame * frameBytes, *cg = y + luma, *co = cg + chroma, *a = co + chroma;
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column) {
                const int l = y[row * width + column];
                const int c = co[(row / 2) * chromaWidth + column / 2] - 128;
                const int g = cg[(row / 2) * chromaWidth + column / 2] - 128;
                for (int value : {l + c - g, l + g, l - c - g, int(a[row * width + column])})
                    rgba.push_back(static_cast<std::uint8_t>(std::clamp(value, 0, 255)));
            }
    }
    return rgba;
}

// PSNR (dB) over `channels` bytes of each RGBA pixel starting at `first`, all frames; 0 when the sizes differ.
double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int first, int channels) {
    if (a.size() != b.size() || a.empty()) return 0;
    return test::psnr(a.data() + first, 0, b.data() + first, 0, int(a.size() / 4), 1, channels);
}

enum class Source { opaque, translucent, turned };

// The turned source is the opaque picture stored with a quarter-turn display matrix: shown as 142 × 250.
fs::path sourceFile(Source kind) {
    if (kind != Source::turned) return source(kind == Source::translucent);
    return test::generated("turned.mov", {"-i", source(false).string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"});
}

// Each kind through `framewright --encode`, read back by ffprobe (codec tag, size, frames, no display matrix,
// 'sowt' 48 kHz stereo) and decoded by FFmpeg over the whole clip. Floors sit 2–3 dB below what this content
// measures: colour 35.9 dB for the DXT1 kinds, 38.8 for Hap Q, 40.9 for high-quality DXV3 and 37.6 for the fitted
// clip (against FFmpeg's own bilinear scaling); DXT5's alpha 51.1. Frames out of order, a swapped channel, a block
// grid read at another width or an alpha copy read at another distance all land below 20 dB.
TEST(TextureCodecOutputs, EachKindIsReadBackAndDecodedByFFmpeg) {
    struct Row {
        std::vector<std::string> options;
        Source source;
        const char* output;
        const char* video;  // codec, tag, width, height, frames
        double colourFloor;
        double alphaFloor = 0;   // 0: alpha not compared
        bool overBlack = false;  // a kind without alpha: the source as shown over black
    };
    const Row rows[] = {
        {{"--codec", "hap"}, Source::opaque, "clip_Hap.mov", "hap Hap1 250 142 25", 33},
        {{"--codec", "hapq"}, Source::opaque, "clip_HapQ.mov", "hap HapY 250 142 25", 36},
        {{"--codec", "dxv2"}, Source::opaque, "clip_DXV2.mov", "dxv DXDI 250 142 25", 33},
        {{"--codec", "dxv3"}, Source::opaque, "clip_DXV3.mov", "dxv DXD3 250 142 25", 33},
        {{"--codec", "dxv3", "--dxv-hq"}, Source::opaque, "clip_DXV3.mov", "dxv DXD3 250 142 25", 38},
        {{"--codec", "dxv3", "--alpha"}, Source::translucent, "clip_DXV3.mov", "dxv DXD3 250 142 25", 33, 48},
        // Hap has no alpha route on the command line: "--alpha" keeps it plain Hap, which shows the picture over black.
        {{"--codec", "hap", "--alpha"}, Source::translucent, "clip_Hap.mov", "hap Hap1 250 142 25", 33, 0, true},
        // Turned upright, then fitted: never fitted as stored and turned by a display matrix afterwards.
        {{"--codec", "hap", "--size", "320x320"}, Source::turned, "clip_Hap.mov", "hap Hap1 182 320 25", 35},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        std::vector<std::string> argv{FW_PROGRAM, "--encode"};
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        SCOPED_TRACE(argv.back() + " " + row.options[1]);
        fs::copy_file(sourceFile(row.source), dir / "clip.mov", fs::copy_options::overwrite_existing);
        argv.push_back((dir / "clip.mov").string());
        const auto result = test::runCommand(argv);
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path output = dir / row.output;
        const Json probed = test::probe(output, {"-count_frames"}), video = test::streamOf(probed, "video");
        EXPECT_EQ(test::fieldsOf(video, {"codec_name", "codec_tag_string", "width", "height", "nb_read_frames"}),
                  row.video);
        EXPECT_FALSE(video.contains("side_data_list")) << "no display matrix";
        EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "audio"),
                                 {"codec_name", "codec_tag_string", "sample_rate", "channels"}),
                  "pcm_s16le sowt 48000 2");
        EXPECT_EQ(probed["streams"].size(), 2u);

        const int width = video.value("width", 0), height = video.value("height", 0);
        auto original = test::decodedFrames(dir / "clip.mov", "rgba", 25,
                                            row.source == Source::turned ? "scale=182:320:flags=bilinear" : "");
        if (row.overBlack)
            for (std::size_t i = 0; i + 4 <= original.size(); i += 4) {
                for (int c = 0; c < 3; ++c)
                    original[i + c] = static_cast<std::uint8_t>(std::lround(original[i + c] * original[i + 3] / 255.0));
                original[i + 3] = 255;
            }
        const auto written = row.options.back() == "--dxv-hq"
                                 ? rgbaFromYCoCg(test::decodedFrames(output, "yuva420p", 25), width, height)
                                 : test::decodedFrames(output, "rgba", 25);
        ASSERT_EQ(written.size(), std::size_t(width) * height * 4 * 25);
        EXPECT_GT(psnr(original, written, 0, 3), row.colourFloor);
        if (row.alphaFloor > 0) {
            EXPECT_GT(psnr(original, written, 3, 1), row.alphaFloor);
        }
        fs::remove(output);
    }
}

// A Hap movie is read back through our own texture source: Hap to DXV3 and back to Hap, each generation against the
// one before it and against the source. Re-coding DXT1 pictures finds blocks already on the palette, so a
// generation loses little (35.9, 35.3, 35.1 dB from the source; 44.4 and 53.4 from the generation before); a frame
// unpacked at another grid, in another order or with stale pixels lands far below.
TEST(TextureCodecOutputs, HapReencodesToDXV3AndBack) {
    test::TempDir dir;
    fs::copy_file(source(false), dir / "clip.mov");
    const std::vector<std::pair<const char*, const char*>> generations = {
        {"hap", "clip_Hap.mov"}, {"dxv3", "clip_Hap_DXV3.mov"}, {"hap", "clip_Hap_DXV3_Hap.mov"}};
    const auto original = test::decodedFrames(dir / "clip.mov", "rgba", 25);
    fs::path input = dir / "clip.mov";
    std::vector<std::uint8_t> previous;
    for (const auto& [codec, name] : generations) {
        SCOPED_TRACE(name);
        const auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", codec, input.string()});
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        input = dir / name;
        const auto written = test::decodedFrames(input, "rgba", 25);
        ASSERT_EQ(written.size(), original.size());
        EXPECT_GT(psnr(original, written, 0, 3), 33);
        if (!previous.empty()) {
            EXPECT_GT(psnr(previous, written, 0, 3), 41);
        }
        previous = written;
    }
}

// A decoded frame of another size than the track's is never packed at some other size: the input fails with both
// sizes and an earlier output stays as it was. With "--size" the resizer fits every frame instead.
TEST(TextureCodecOutputs, AFrameOfAnotherSizeFailsTheEncodeUnlessFitted) {
    test::TempDir dir;
    // Ten 160 × 90 pictures, then ten 192 × 108: PNG frames copied as they are, so the decoder makes both sizes.
    const std::string frames = (dir / "f%02d.png").string();
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=0.4", "-start_number", "0", frames}));
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=192x108:r=25:d=0.4", "-start_number", "10", frames}));
    ASSERT_TRUE(test::ffmpeg({"-framerate", "25", "-i", frames, "-c:v", "copy", (dir / "sizes.mov").string()}));
    std::ofstream(dir / "sizes_DXV3.mov") << "earlier output";
    auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", "dxv3", (dir / "sizes.mov").string()});
    EXPECT_EQ(result.standardError,
              "\u2717 sizes.mov: Writing failed: a 192\u00D7108 frame reached the 160\u00D790 DXV track; frames are "
              "never packed at another size\n");
    EXPECT_EQ(test::readFile(dir / "sizes_DXV3.mov").size(), 14u) << "the earlier output is kept";
    EXPECT_EQ(test::entriesIn(dir.path()), 22) << "nothing staged";

    result = test::runCommand(
        {FW_PROGRAM, "--encode", "--codec", "dxv3", "--size", "320x320", (dir / "sizes.mov").string()});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(test::fieldsOf(test::streamOf(test::probe(dir / "sizes_DXV3.mov", {"-count_frames"}), "video"),
                             {"width", "height", "nb_read_frames"}),
              "320 180 20");
}

}  // namespace
}  // namespace fw
