// Movie encoder outputs read back with ffprobe and ffmpeg: codecs, profiles, sound, metadata, timecode track,
// colour tags, frame sizes, display orientation and picture fidelity.

#include "LoudnessOracle.h"
#include "PipelineTestSupport.h"

#include "pipeline/Filters.h"
#include "pipeline/WriterSettings.h"

#include <array>
#include <set>

namespace fw {
namespace {

using namespace pipelinetest;

TEST(MovieEncoder, ProResVariantsCarryTheirProfileAndQuickTimePCM) {
    struct Case {
        ProResVariant variant;
        const char* tag;
        const char* profile;
        double psnrFloor;
        double nominalMbps;  // at 1920×1080, 29.97 fps
    };
    // Measured at 160×90 on testsrc2 (through 8-bit BGRA, left-sited chroma): 30.1, 33.7, 34.1, 34.3, 38.2 dB.
    const Case cases[] = {{ProResVariant::proxy, "apco", "Proxy", 28, 45},
                          {ProResVariant::lt, "apcs", "LT", 32, 102},
                          {ProResVariant::standard, "apcn", "Standard", 33, 147},
                          {ProResVariant::hq, "apch", "HQ", 33, 220},
                          {ProResVariant::fourByFour, "ap4h", "4444", 35, 330}};
    // Smooth shading under seeded grain, so ProRes data rates land near each profile's nominal rate.
    const fs::path grainyClip = generated(
        "grainy.mov", {"-f", "lavfi", "-i",
                       "nullsrc=s=320x180:r=30000/1001:d=0.5,geq=lum='128+60*sin(X/23)*cos(Y/17)':cb='128+30*sin(X/40)'"
                       ":cr='128+30*cos(Y/30)',noise=alls=8:allf=t+u:all_seed=5",
                       "-c:v", "libx264", "-qp", "0", "-pix_fmt", "yuv444p"});
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        const fs::path out = dir / (std::string(c.tag) + ".mov");
        encode(encoderFor(OutputCodec::proRes, 160, 90, c.variant), clipWithAudio(), out);
        const Json probed = probe(out, {"-count_packets"});
        EXPECT_EQ(fieldsOf(streamOf(probed, "video"),
                           {"codec_name", "codec_tag_string", "profile", "width", "height", "nb_read_packets"}),
                  "prores " + std::string(c.tag) + " " + c.profile + " 160 90 25");
        EXPECT_EQ(fieldsOf(streamOf(probed, "audio"), {"codec_name", "sample_rate", "channels"}), "pcm_s16le 48000 2");
        EXPECT_GT(psnr(clipWithAudio(), out, 160, 90), c.psnrFloor);
        // The data rate stays within a quarter of nominal, scaled by pixels × frames a second.
        const fs::path grainy = dir / (std::string(c.tag) + "-grainy.mov");
        encode(encoderFor(OutputCodec::proRes, 320, 180, c.variant), grainyClip, grainy);
        const double nominal = c.nominalMbps * 1e6 * (320.0 * 180) / (1920.0 * 1080);
        EXPECT_NEAR(number(streamOf(probe(grainy), "video")["bit_rate"]) / nominal, 1.0, 0.25);
    }
    // ProRes 4444 keeps alpha only when asked.
    auto encoder = encoderFor(OutputCodec::proRes, 160, 90, ProResVariant::fourByFour);
    encoder.scaling = frameRequest(160, 90);
    encode(encoder, clipWithAudio(), dir / "opaque.mov");
    EXPECT_EQ(streamOf(probe(dir / "opaque.mov"), "video")["pix_fmt"], "yuv444p12le");
    encoder.scaling->preservesAlpha = true;
    encode(encoder, clipWithAudio(), dir / "alpha.mov");
    EXPECT_EQ(streamOf(probe(dir / "alpha.mov"), "video")["pix_fmt"], "yuva444p12le");
}

TEST(MovieEncoder, H264AndHEVCWithTheirProfilesRatesKeyFramesAndTenBits) {
    test::TempDir dir;
    H264Settings h264;
    h264.profile = VideoProfile::main;
    h264.useExplicitBitrate = true;
    h264.bitrateMbps = 0.4;
    h264.keyFrameAuto = false;
    h264.maxKeyFrameInterval = 10;
    auto encoder = encoderFor(OutputCodec::h264, 160, 90, ProResVariant::hq, h264);
    encode(encoder, clipWithAudio(), dir / "main.mp4");
    Json probed = probe(dir / "main.mp4", {"-count_packets"});
    const Json video = streamOf(probed, "video");
    EXPECT_EQ(fieldsOf(video, {"codec_name", "codec_tag_string", "profile", "chroma_location", "nb_read_packets"}),
              "h264 avc1 Main left 25");
    EXPECT_NEAR(number(video["bit_rate"]), 400000, 200000);
    Json audio = streamOf(probed, "audio");
    EXPECT_EQ(fieldsOf(audio, {"codec_name", "channels", "sample_rate"}), "aac 2 48000");
    EXPECT_NEAR(number(audio["bit_rate"]), 256000, 40000);
    EXPECT_GT(psnr(clipWithAudio(), dir / "main.mp4", 160, 90), 28);
    // Key frames at most 10 frames apart.
    const Json packets =
        probe(dir / "main.mp4", {"-select_streams", "v:0", "-show_entries", "packet=flags"}).value("packets", Json());
    std::vector<int> keys;
    for (std::size_t i = 0; i < packets.size(); ++i)
        if (packets[i].value("flags", "").starts_with('K')) keys.push_back(static_cast<int>(i));
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(keys.front(), 0);
    for (std::size_t i = 1; i < keys.size(); ++i) EXPECT_LE(keys[i] - keys[i - 1], 10);
    // Mono: 160 kbit/s; High and Baseline profiles as asked.
    h264.profile = VideoProfile::baseline;
    encoder = encoderFor(OutputCodec::h264, 160, 90, ProResVariant::hq, h264);
    encoder.downmixMono = true;
    encode(encoder, clipWithAudio(), dir / "mono.mp4");
    probed = probe(dir / "mono.mp4");
    EXPECT_EQ(streamOf(probed, "video")["profile"], "Constrained Baseline");
    audio = streamOf(probed, "audio");
    EXPECT_EQ(audio["channels"], 1);
    EXPECT_NEAR(number(audio["bit_rate"]), 160000, 30000);
    encode(encoderFor(OutputCodec::h264, 160, 90), clipWithAudio(), dir / "auto.mp4");
    EXPECT_EQ(streamOf(probe(dir / "auto.mp4"), "video")["profile"], "High");
    // HEVC Main and Main 10.
    H264Settings main;
    main.profile = VideoProfile::main;
    encode(encoderFor(OutputCodec::hevc, 160, 90, ProResVariant::hq, main), clipWithAudio(), dir / "hevc.mp4");
    EXPECT_EQ(fieldsOf(streamOf(probe(dir / "hevc.mp4"), "video"),
                       {"codec_name", "codec_tag_string", "profile", "pix_fmt", "chroma_location"}),
              "hevc hvc1 Main yuv420p left");
    EXPECT_GT(psnr(clipWithAudio(), dir / "hevc.mp4", 160, 90), 28);
    // The 10-bit path, x420 from reader to Main 10: a ramp keeps more levels than 8 bits hold.
    H264Settings ten;
    ten.profile = VideoProfile::main10;
    auto tenBitEncoder = encoderFor(OutputCodec::hevc, 320, 180, ProResVariant::hq, ten);
    tenBitEncoder.scaling = frameRequest(320, 180);
    tenBitEncoder.scaling->tenBit = true;
    // A horizontal 10-bit luma ramp in ProRes 422 HQ.
    encode(tenBitEncoder,
           generated("ramp.mov",
                     {"-f", "lavfi", "-i", "nullsrc=s=320x180:r=25:d=0.4", "-vf",
                      "format=yuv422p10le,geq=lum='64+X*876/W':cb=512:cr=512", "-c:v", "prores_ks", "-profile:v", "3"}),
           dir / "ten.mp4");
    EXPECT_EQ(fieldsOf(streamOf(probe(dir / "ten.mp4"), "video"), {"profile", "pix_fmt", "chroma_location"}),
              "Main 10 yuv420p10le left");
    const auto raw = test::ffmpegRaw(dir / "ten.mp4", "gray16le");
    ASSERT_EQ(raw.size(), 320u * 180 * 2);
    std::set<int> levels;
    const auto* words = reinterpret_cast<const std::uint16_t*>(raw.data());
    for (int x = 0; x < 320; ++x) levels.insert(words[90 * 320 + x] >> 6);
    EXPECT_GT(levels.size(), 280u) << "a 10-bit ramp 320 wide over 876 levels";
}

TEST(MovieEncoder, ColourTagsMetadataItemsAndTimecodeTrack) {
    test::TempDir dir;
    const ColorProperties pq{ColorPrimaries::itu2020, TransferFunction::smpteST2084PQ, YCbCrMatrix::itu2020};
    const ColorProperties hlg{ColorPrimaries::itu2020, TransferFunction::itu2100HLG, YCbCrMatrix::itu2020};
    encode(encoderFor(OutputCodec::h264, 160, 90, ProResVariant::hq, H264Settings{}, pq), clipWithAudio(),
           dir / "pq.mp4");
    encode(encoderFor(OutputCodec::proRes, 160, 90, ProResVariant::hq, std::nullopt, hlg), clipWithAudio(),
           dir / "hlg.mov");
    for (const auto& [file, transfer] :
         {std::pair{dir / "pq.mp4", "smpte2084"}, std::pair{dir / "hlg.mov", "arib-std-b67"}}) {
        SCOPED_TRACE(file.filename().string());
        EXPECT_EQ(fieldsOf(streamOf(probe(file), "video"), {"color_primaries", "color_transfer", "color_space"}),
                  "bt2020 " + std::string(transfer) + " bt2020nc");
        const Json frames = probe(file, {"-select_streams", "v:0", "-show_frames"});
        ASSERT_EQ(frames.value("frames", Json::array()).size(), 25u);
        for (const auto& frame : frames["frames"])
            EXPECT_EQ(fieldsOf(frame, {"color_primaries", "color_transfer"}), "bt2020 " + std::string(transfer));
    }
    MovieMetadata metadata;
    metadata.title = "Harbour at dawn";
    metadata.artist = "K. Ito";
    metadata.comment = "take 3";
    metadata.copyright = "\u00a9 2026";
    metadata.descriptionText = "Boats leaving";
    metadata.startTimecode = "01:02:03:04";
    metadata.timecodeFrameRate = 25;
    auto encoder = encoderFor(OutputCodec::proRes, 160, 90);
    encoder.metadata = metadata;
    encode(encoder, clipWithAudio(), dir / "tagged.mov");
    const Json probed = probe(dir / "tagged.mov");
    const Json tags = probed["format"].value("tags", Json::object());
    EXPECT_EQ(fieldsOf(tags, {"com.apple.quicktime.title", "com.apple.quicktime.artist", "com.apple.quicktime.comment",
                              "com.apple.quicktime.copyright", "com.apple.quicktime.description"}),
              "Harbour at dawn K. Ito take 3 \u00a9 2026 Boats leaving");
    // MPEG-4 files carry them as iTunes tags, which read back under the plain names.
    auto mpeg4 = encoderFor(OutputCodec::h264, 160, 90);
    mpeg4.metadata = metadata;
    encode(mpeg4, clipWithAudio(), dir / "tagged.mp4");
    EXPECT_EQ(fieldsOf(probe(dir / "tagged.mp4")["format"].value("tags", Json::object()),
                       {"title", "artist", "comment", "copyright", "description"}),
              "Harbour at dawn K. Ito take 3 \u00a9 2026 Boats leaving");
    const Json timecode = streamOf(probed, "data");
    ASSERT_FALSE(timecode.is_null()) << "a timecode track";
    EXPECT_EQ(timecode["codec_tag_string"], "tmcd");
    EXPECT_EQ(timecode["tags"].value("timecode", ""), "01:02:03:04");
    // A start timecode that does not read adds no track; no texts, no items.
    metadata = MovieMetadata{};
    metadata.startTimecode = "one o'clock";
    encoder.metadata = metadata;
    encode(encoder, clipWithAudio(), dir / "plain.mov");
    const Json plain = probe(dir / "plain.mov");
    EXPECT_TRUE(streamOf(plain, "data").is_null());
    EXPECT_FALSE(plain["format"].value("tags", Json::object()).contains("com.apple.quicktime.title"));
}

// 75% colour bars 40 pixels wide at 320×180, coded exactly with the matrix of luma weights (red, blue) at 8-bit
// precision, stored losslessly in 4:2:0 with the given tag arguments.
fs::path colourBars(const std::string& name, int bitDepth, double red, double blue,
                    const std::vector<std::string>& tags) {
    std::string planes[3];
    for (int c = 0; c < 3; ++c) {
        std::string expression;
        for (int bar = 0; bar < 8; ++bar) {
            const double r = 0.75 * (bar < 2 || bar == 4 || bar == 5), g = 0.75 * (bar < 4);
            const double b = 0.75 * (bar % 2 == 0);
            const double y = red * r + (1 - red - blue) * g + blue * b;
            const double code =
                c == 0 ? 16 + 219 * y : 128 + 112 * (c == 1 ? (b - y) / (1 - blue) : (r - y) / (1 - red));
            const std::string value = std::to_string(std::lround(code) << (bitDepth - 8));
            expression = bar == 0
                             ? value
                             : "if(lt(X/SW," + std::to_string(40 * (8 - bar)) + ")," + expression + "," + value + ")";
        }
        planes[c] = expression;
    }
    std::vector<std::string> arguments{
        "-f",
        "lavfi",
        "-i",
        "nullsrc=s=320x180:r=25:d=0.2,format=" + std::string(bitDepth == 8 ? "yuv420p" : "yuv420p10le") + ",geq=lum='" +
            planes[0] + "':cb='" + planes[1] + "':cr='" + planes[2] + "'",
        "-c:v",
        "ffv1"};
    arguments.insert(arguments.end(), tags.begin(), tags.end());
    return generated(name, arguments);
}

// Mean Y, Cb and Cr of a file's first picture in 10-bit codes, read in its own layout.
std::array<double, 3> planeMeans(const fs::path& file) {
    const Json video = streamOf(probe(file), "video");
    const std::string format = video.value("pix_fmt", "");
    const int width = video.value("width", 0), height = video.value("height", 0);
    const bool deep = format.find("10") != std::string::npos;
    const int chromaWidth = format.find("444") != std::string::npos ? width : width / 2;
    const int chromaHeight = format.find("420") != std::string::npos ? height / 2 : height;
    const std::vector<std::uint8_t> bytes = test::ffmpegRaw(file, format);
    auto sample = [&](std::size_t i) { return deep ? bytes[2 * i] | bytes[2 * i + 1] << 8 : bytes[i] << 2; };
    std::array<double, 3> means{};
    std::size_t at = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const std::size_t count = static_cast<std::size_t>(plane == 0 ? width * height : chromaWidth * chromaHeight);
        if (bytes.size() < (at + count) * (deep ? 2 : 1)) return {};
        for (std::size_t i = 0; i < count; ++i) means[plane] += sample(at + i);
        means[plane] /= static_cast<double>(count);
        at += count;
    }
    return means;
}

TEST(MovieEncoder, WithoutColourTaggingTheSourceColourIsCarriedAndKept) {
    const std::vector<std::string> pq{"-color_primaries", "bt2020",      "-color_trc",
                                      "smpte2084",        "-colorspace", "bt2020nc"};
    const fs::path hd = colourBars("bars709.mkv", 8, 0.2126, 0.0722,
                                   {"-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709"});
    const fs::path sd =
        colourBars("bars601.mkv", 8, 0.299, 0.114,
                   {"-color_primaries", "smpte170m", "-color_trc", "smpte170m", "-colorspace", "smpte170m"});
    const fs::path hdr = colourBars("bars2020.mkv", 10, 0.2627, 0.0593, pq);
    const fs::path untagged = colourBars("barsUntagged.mkv", 8, 0.299, 0.114, {});
    struct Case {
        const fs::path& source;
        OutputCodec codec;
        bool tenBit;
        const char* tags;  // primaries, transfer, matrix, range
    };
    const Case cases[] = {{hd, OutputCodec::h264, false, "bt709 bt709 bt709 tv"},
                          {sd, OutputCodec::hevc, false, "smpte170m smpte170m smpte170m tv"},
                          {hdr, OutputCodec::hevc, true, "bt2020 smpte2084 bt2020nc tv"},
                          {hdr, OutputCodec::proRes, false, "bt2020 smpte2084 bt2020nc tv"},
                          {untagged, OutputCodec::proRes, true, "- - smpte170m tv"}};
    test::TempDir dir;
    for (const Case& c : cases) {
        const std::string name = c.source.stem().string() + (c.tenBit ? "-10bit" : "-8bit") +
                                 (c.codec == OutputCodec::proRes ? ".mov" : ".mp4");
        SCOPED_TRACE(name);
        MovieEncoder encoder = encoderFor(c.codec, 320, 180);
        if (c.tenBit) {
            encoder.scaling = frameRequest(320, 180);
            encoder.scaling->tenBit = true;
        }
        encode(encoder, c.source, dir / name);
        const Json video = streamOf(probe(dir / name), "video");
        EXPECT_EQ(fieldsOf(video, {"color_primaries", "color_transfer", "color_space", "color_range"}), c.tags);
        // Bars hold saturated colours, so a matrix mix-up moves the means by codes; a conversion that rounds one way
        // moved them by a code. Left: what the codecs themselves move (ProRes up to 0.4 codes on bars).
        const auto expected = planeMeans(c.source), written = planeMeans(dir / name);
        for (int plane = 0; plane < 3; ++plane) EXPECT_NEAR(written[plane], expected[plane], 0.5) << "plane " << plane;
    }
}

// On the 10-bit path pictures reach the writer in the matrix they were made in: from RGB (a Hap source) in the
// resizer's, from a decoder in the source's. The writer re-expresses them in the matrix it tags, so the colours shown
// stay the source's: an SD output tagged BT.601, or one tagged Rec. 2020 by colour tagging.
TEST(MovieEncoder, TenBitPicturesAreWrittenInTheMatrixTheOutputNames) {
    const fs::path smooth = "testsrc2=s=320x180:r=25:d=0.4,gblur=sigma=3";
    const fs::path hap =
        generated("smooth-hapq.mov", {"-f", "lavfi", "-i", smooth.string(), "-c:v", "hap", "-format", "hap_q"});
    const fs::path h264 = generated(
        "smooth.mp4", {"-f", "lavfi", "-i", smooth.string(), "-c:v", "libx264", "-crf", "12", "-pix_fmt", "yuv420p"});
    const ColorProperties rec2020{ColorPrimaries::itu709, TransferFunction::itu709, YCbCrMatrix::itu2020};
    struct Case {
        const fs::path& source;
        std::optional<ColorProperties> tagged;
        const char* matrix;
    };
    const Case cases[] = {{hap, std::nullopt, "smpte170m"}, {h264, rec2020, "bt2020nc"}};
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source.filename().string());
        MovieEncoder encoder = encoderFor(OutputCodec::proRes, 320, 180, ProResVariant::hq, std::nullopt, c.tagged);
        encoder.scaling = frameRequest(320, 180);
        encoder.scaling->tenBit = true;
        encode(encoder, c.source, dir / "out.mov");
        EXPECT_EQ(fieldsOf(streamOf(probe(dir / "out.mov"), "video"), {"color_space"}), c.matrix);
        EXPECT_GT(psnr(c.source, dir / "out.mov", 320, 180, false, "gbrp"), 34);
    }
}

TEST(MovieEncoder, SoundTracksCarriedStrippedOrAllKeptAndOddSourcesReachEvenWriters) {
    test::TempDir dir;
    auto encoder = encoderFor(OutputCodec::proRes, 160, 90, ProResVariant::proxy);
    // Two sound tracks (440 Hz and 880 Hz) beside the picture.
    const fs::path tracks =
        generated("twoaudio.mov", {"-f",   "lavfi", "-i",   "testsrc2=s=160x90:r=25:d=1",
                                   "-f",   "lavfi", "-i",   "sine=frequency=440:sample_rate=48000:duration=1",
                                   "-f",   "lavfi", "-i",   "sine=frequency=880:sample_rate=48000:duration=1",
                                   "-map", "0",     "-map", "1",
                                   "-map", "2",     "-c:v", "libx264",
                                   "-qp",  "0",     "-c:a", "pcm_s16le"});
    encode(encoder, tracks, dir / "first.mov");
    EXPECT_EQ(streamCount(probe(dir / "first.mov"), "audio"), 1);
    encoder.preserveAllAudioTracks = true;
    encoder.sampleRate = 0;  // 48 kHz
    encode(encoder, tracks, dir / "all.mov");
    const Json all = probe(dir / "all.mov");
    ASSERT_EQ(streamCount(all, "audio"), 2);
    EXPECT_EQ(streamOf(all, "audio", 1)["sample_rate"], "48000");
    EXPECT_NEAR(number(streamOf(all, "audio", 1)["duration"]), 1.0, 0.05);
    encoder.stripAudio = true;
    encode(encoder, tracks, dir / "none.mov");
    EXPECT_EQ(streamCount(probe(dir / "none.mov"), "audio"), 0);
    // The gain reaches the written sound: half the amplitude is about −6 dB.
    const auto lufs = [](const fs::path& file) {
        return test::oracleMeasure(test::decodePcm(file)).integratedLUFS.value_or(0);
    };
    encoder.stripAudio = false;
    encoder.preserveAllAudioTracks = false;
    encoder.audioGain = 0.5f;
    encode(encoder, tracks, dir / "quiet.mov");
    EXPECT_NEAR(lufs(dir / "quiet.mov") - lufs(dir / "first.mov"), -6.02, 0.3);
    // 4:2:0 writers get even sides, odd pictures converted to them; ProRes keeps the odd size.
    const fs::path odd = dir / "odd.mp4";
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=161x91:r=25:d=0.4", "-c:v", "libx264", "-qp", "0",
                              "-pix_fmt", "yuv444p", odd.string()}));
    const auto size = [](const fs::path& f) { return fieldsOf(streamOf(probe(f), "video"), {"width", "height"}); };
    encode(encoderFor(OutputCodec::h264, 162, 92), odd, dir / "h264.mp4");
    EXPECT_EQ(size(dir / "h264.mp4"), "162 92");
    // The frame request and the writer agree on the size.
    auto resizing = encoderFor(OutputCodec::hevc, 162, 92);
    resizing.scaling = frameRequest(162, 92);
    encode(resizing, odd, dir / "hevc.mp4");
    EXPECT_EQ(size(dir / "hevc.mp4"), "162 92");
    EXPECT_GT(psnr(odd, dir / "hevc.mp4", 162, 92), 26);
    encode(encoderFor(OutputCodec::proRes, 161, 91), odd, dir / "prores.mov");
    EXPECT_EQ(size(dir / "prores.mov"), "161 91");
}

bool hasDisplayMatrix(const Json& video) {
    for (const auto& side : video.value("side_data_list", Json::array()))
        if (side.value("side_data_type", "") == "Display Matrix") return true;
    return false;
}

TEST(MovieEncoder, RotatedSourceIsShownAsItsSourceIsAndGeometryApplies) {
    test::TempDir dir;
    // Stored 160×90 with a quarter-turn display matrix: shown 90×160.
    const fs::path rotated = generated(
        "rotated.mp4",
        {"-i",
         generated("upright.mp4", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=1", "-c:v", "libx264", "-qp", "0"})
             .string(),
         "-c", "copy", "-metadata:s:v:0", "rotate=90"});
    ASSERT_EQ(displayedSize(streamOf(probe(rotated), "video")), std::pair(90, 160));
    // Untouched frames keep their stored orientation and the display matrix.
    encode(encoderFor(OutputCodec::proRes, 90, 160), rotated, dir / "plain.mov");
    Json video = streamOf(probe(dir / "plain.mov"), "video");
    EXPECT_EQ(video["width"], 160);
    EXPECT_TRUE(hasDisplayMatrix(video));
    EXPECT_EQ(displayedSize(video), std::pair(90, 160));
    EXPECT_GT(psnr(rotated, dir / "plain.mov", 160, 90, true), 33);
    // Transformed frames are turned upright first: no matrix, fitted as shown.
    auto encoder = encoderFor(OutputCodec::h264, 180, 320);
    encoder.scaling = frameRequest(180, 320);
    encode(encoder, rotated, dir / "upright.mp4");
    video = streamOf(probe(dir / "upright.mp4"), "video");
    EXPECT_EQ(fieldsOf(video, {"width", "height"}), "180 320");
    EXPECT_FALSE(hasDisplayMatrix(video));
    EXPECT_GT(psnr(rotated, dir / "upright.mp4", 180, 320), 28);
    // A crop to the left half, filled again (overflow cut above and below), not the whole picture.
    auto cropping = encoderFor(OutputCodec::proRes, 160, 90);
    cropping.scaling = frameRequest(160, 90);
    cropping.scaling->mode = ResizeMode::fill;
    GeometrySettings geometry;
    geometry.cropEnabled = true;
    geometry.cropWidth = 0.5;
    cropping.scaling->geometry = geometry;
    encode(cropping, clipWithAudio(), dir / "cropped.mov");
    const fs::path reference = dir / "reference.mov";
    ASSERT_TRUE(test::ffmpeg({"-i", clipWithAudio().string(), "-vf", "crop=80:90:0:0,scale=160:180,crop=160:90:0:45",
                              "-c:v", "prores_ks", reference.string()}));
    EXPECT_GT(psnr(reference, dir / "cropped.mov", 160, 90), 22);
    EXPECT_LT(psnr(clipWithAudio(), dir / "cropped.mov", 160, 90), 18);
}

}  // namespace
}  // namespace fw
