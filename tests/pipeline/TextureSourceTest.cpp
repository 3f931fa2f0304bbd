// Hap and DXV sources through the texture source: stored samples unpacked into pictures, re-encoded by the movie
// encoder and compared with FFmpeg's own hap and dxv decoders' reading of the source; malformed samples give nothing
// and pooled pictures never show an earlier frame.

#include "PipelineTestSupport.h"

#include "codecs/dxt/DXTEncoder.h"
#include "codecs/dxv/DXVFrame.h"
#include "codecs/dxv/DXVHighQuality.h"
#include "codecs/dxv/DXVTextureSource.h"
#include "codecs/hap/Hap.h"
#include "codecs/hap/TextureSource.h"
#include "pipeline/TextureSource.h"
#include "platform/media/AssetWriter.h"

namespace fw {
namespace {

using namespace pipelinetest;
using Bytes = std::vector<std::uint8_t>;

constexpr int kFrames = 25;

// A 1 s, 25 fps testsrc2 clip with a moving alpha ramp, stored losslessly (PNG).
fs::path picturesClip(int width, int height) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return generated("pictures-" + size + ".mov", {"-f", "lavfi", "-i",
                                                   "testsrc2=s=" + size +
                                                       ":r=25:d=1,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)'"
                                                       ":a='clip(96+X+4*N,0,255)'",
                                                   "-c:v", "png"});
}

// The clip's pictures as packed BGRA.
std::vector<Bytes> pictures(const fs::path& clip, int width, int height) {
    const Bytes raw = test::ffmpegRaw(clip, "bgra", kFrames);
    const std::size_t pictureBytes = std::size_t{4} * width * height;
    std::vector<Bytes> split;
    for (std::size_t at = 0; at + pictureBytes <= raw.size(); at += pictureBytes)
        split.emplace_back(raw.begin() + at, raw.begin() + at + pictureBytes);
    return split;
}

// A QuickTime movie of ready-made frames at 25 fps, written through the passthrough input.
void writeFrames(const fs::path& file, media::FourCharCode codecType, int width, int height,
                 const std::vector<Bytes>& frames) {
    media::AssetWriter writer(file, media::FileType::quickTimeMovie);
    const auto input = writer.addPassthroughVideoInput({codecType, width, height, 25});
    ASSERT_TRUE(input);
    ASSERT_TRUE(writer.startWriting());
    for (std::size_t i = 0; i < frames.size(); ++i)
        ASSERT_TRUE(input->appendSampleBuffer(*media::SampleBuffer::makeData(
            frames[i], media::MediaTime(static_cast<std::int64_t>(i), 25), media::MediaTime(1, 25), nullptr)));
    input->markAsFinished();
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
}

using FrameWriter = std::function<Bytes(const std::uint8_t* bgra, std::size_t stride, int width, int height)>;

Bytes dxtFrame(const std::uint8_t* bgra, std::size_t stride, int width, int height, DXV::Version version,
               DXV::TextureFormat format) {
    const auto kind = format == DXV::TextureFormat::dxt1 ? DXTEncoder::Kind::dxt1 : DXTEncoder::Kind::dxt5;
    return DXV::frame(DXTEncoder::encode(bgra, stride, width, height, kind, 16), version, format);
}

struct Source {
    const char* name;
    media::FourCharCode subtype;
    fs::path file;
    // The same pictures stored losslessly: as FFmpeg decodes the source, or as they were made for the DXV
    // high-quality frames (FFmpeg hands those out as YCoCg planes, which its scaler converts with another matrix; its
    // planes are held against ours in the codec tests).
    fs::path reference;
    // dB, of our re-encode against the reference's: H.264 decides afresh on slightly different input, ProRes does not.
    double h264Floor, proResFloor;
    bool alsoHEVC = false;  // at the H.264 floor
};

// The source and its reference re-encoded alike to H.264 and ProRes (and HEVC): every frame arrives at the source's
// size, and the two encodes differ only by what our unpacked pixels and the reference's differ by, plus the codec's
// rounding.
void expectReencodes(const Source& source, int width, int height) {
    SCOPED_TRACE(source.name);
    const auto asset = open(source.file);
    const auto tracks = asset->tracks(media::MediaType::video);
    ASSERT_EQ(tracks.size(), 1u);
    ASSERT_EQ(media::fourCharCodeString(tracks[0].formatDescriptions.at(0)->mediaSubtype),
              media::fourCharCodeString(source.subtype));
    test::TempDir dir;
    for (const auto& [codec, name, floor] : {std::tuple{OutputCodec::h264, "h264", source.h264Floor},
                                             std::tuple{OutputCodec::hevc, "hevc", source.h264Floor},
                                             std::tuple{OutputCodec::proRes, "prores", source.proResFloor}}) {
        if (codec == OutputCodec::hevc && !source.alsoHEVC) continue;  // the slowest encoder, once per test
        const std::string extension = codec == OutputCodec::proRes ? ".mov" : ".mp4";
        const fs::path out = dir / (name + extension), reference = dir / (name + ("-reference" + extension));
        encode(encoderFor(codec, width, height), source.file, out);
        encode(encoderFor(codec, width, height), source.reference, reference);
        const Json video = streamOf(probe(out, {"-count_packets"}), "video");
        EXPECT_EQ(fieldsOf(video, {"codec_name", "width", "height", "nb_read_packets"}),
                  std::string(name) + " " + std::to_string(width) + " " + std::to_string(height) + " " +
                      std::to_string(kFrames));
        EXPECT_GT(psnr(reference, out, width, height), floor) << name;
    }
}

// FFmpeg's hap encoder (snappy-compressed, chunked frames); it writes 'Hap1' unless told the tag.
TEST(TextureSource, HapSourcesReencodeToEveryMovieCodec) {
    auto hap = [](const std::string& format, const char* tag) {
        const fs::path file = generated(format + ".mov", {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=1", "-c:v",
                                                          "hap", "-format", format, "-tag:v", tag});
        return std::pair{file, generated(format + "-decoded.mov", {"-i", file.string(), "-c:v", "png"})};
    };
    // Measured: H.264 41.1, 41.1, 40.2 dB; ProRes 60.6, 60.6, 54.7 dB; turned: H.264 40.2, HEVC 40.8, ProRes 54.9 dB.
    // A frame out of place costs 10 dB or more.
    struct Kind {
        const char* name;
        media::FourCharCode subtype;
        const char* format;
        const char* tag;
        double h264Floor, proResFloor;
    };
    for (const Kind& kind : {Kind{"hap", media::subtype::hap1, "hap", "Hap1", 38, 56},
                             Kind{"hap alpha", media::subtype::hap5, "hap_alpha", "Hap5", 38, 56},
                             Kind{"hap q", media::subtype::hapY, "hap_q", "HapY", 37, 51}}) {
        const auto [file, decoded] = hap(kind.format, kind.tag);
        expectReencodes({kind.name, kind.subtype, file, decoded, kind.h264Floor, kind.proResFloor}, 320, 180);
    }
    // Stored with a quarter-turn display matrix: the unpacked pictures are turned upright as decoded ones are.
    const fs::path turned = generated("hap_q-turned.mov", {"-i", hap("hap_q", "HapY").first.string(), "-c", "copy",
                                                           "-tag:v", "HapY", "-metadata:s:v:0", "rotate=90"});
    ASSERT_EQ(displayedSize(streamOf(probe(turned), "video")), std::pair(180, 320));
    const fs::path turnedDecoded = generated("hap_q-turned-decoded.mov", {"-i", turned.string(), "-c:v", "png"});
    expectReencodes({"hap q turned", media::subtype::hapY, turned, turnedDecoded, 37, 51, true}, 180, 320);
}

// Our own DXV writers, at a size that is no multiple of 4 (textures padded, high-quality planes 16-aligned).
TEST(TextureSource, DXVSourcesReencodeToEveryMovieCodec) {
    constexpr int kWidth = 318, kHeight = 178;
    const fs::path clip = picturesClip(kWidth, kHeight);
    const std::vector<Bytes> source = pictures(clip, kWidth, kHeight);
    ASSERT_EQ(source.size(), std::size_t{kFrames});
    struct Kind {
        const char* name;
        media::FourCharCode subtype;
        FrameWriter write;
        bool highQuality;
        double h264Floor, proResFloor;
    };
    using DXV::TextureFormat, DXV::Version, DXV::HQFormat;
    // Measured: H.264 39.0, 38.9, 35.0, 35.0 dB; ProRes 61.1, 60.5, 32.3, 32.3 dB (high quality against the pictures
    // themselves: its own loss on testsrc2's saturated edges); HEVC (dxv2) 38.4 dB.
    const Kind kinds[] = {
        {"dxv3 dxt1", media::subtype::dxd3,
         [](auto* p, auto s, int w, int h) { return dxtFrame(p, s, w, h, Version::dxv3, TextureFormat::dxt1); }, false,
         36, 56},
        {"dxv2 dxt5", media::subtype::dxdi,
         [](auto* p, auto s, int w, int h) { return dxtFrame(p, s, w, h, Version::dxv2, TextureFormat::dxt5); }, false,
         36, 56},
        {"dxv3 ycg6", media::subtype::dxd3,
         [](auto* p, auto s, int w, int h) { return DXV::hqCompressFrame(p, s, w, h, HQFormat::ycg6); }, true, 32, 29},
        {"dxv3 yg10", media::subtype::dxd3,
         [](auto* p, auto s, int w, int h) { return DXV::hqCompressFrame(p, s, w, h, HQFormat::yg10); }, true, 32, 29},
    };
    test::TempDir dir;
    for (const Kind& kind : kinds) {
        std::vector<Bytes> frames;
        for (const Bytes& picture : source)
            frames.push_back(kind.write(picture.data(), std::size_t{4} * kWidth, kWidth, kHeight));
        const fs::path file = dir / (std::string(kind.name) + ".mov");
        writeFrames(file, kind.subtype, kWidth, kHeight, frames);
        fs::path reference = clip;
        if (!kind.highQuality) {
            reference = dir / (std::string(kind.name) + "-decoded.mov");
            ASSERT_TRUE(test::ffmpeg({"-i", file.string(), "-c:v", "png", reference.string()}));
        }
        expectReencodes({kind.name, kind.subtype, file, reference, kind.h264Floor, kind.proResFloor,
                         kind.subtype == media::subtype::dxdi},
                        kWidth, kHeight);
    }
}

media::SampleBufferRef sampleOf(Bytes frame, const media::FormatDescriptionRef& format = nullptr) {
    return media::SampleBuffer::makeData(std::move(frame), media::MediaTime::zero(), media::MediaTime(1, 25), format);
}

media::FormatDescriptionRef trackFormat(media::FourCharCode subtype, int width, int height) {
    auto format = std::make_shared<media::FormatDescription>();
    format->mediaType = media::MediaType::video;
    format->mediaSubtype = subtype;
    format->width = width;
    format->height = height;
    return format;
}

// Malformed and short samples give no picture, and a good frame after them is wholly its own: no pixel of the
// earlier frame that its pooled buffer held, nor of a frame that failed half way.
TEST(TextureSourceCorruption, MalformedSamplesGiveNothingAndPooledPicturesHoldNoStalePixels) {
    constexpr int kWidth = 40, kHeight = 24;
    const auto white = solid(kWidth, kHeight, {255, 255, 255, 255});
    const auto pattern = makeImage(kWidth, kHeight, unique);
    auto hapTexture = [](const media::PixelBuffer& picture, DXTEncoder::Kind kind) {
        return DXTEncoder::encode(picture.data(), picture.stride(), kWidth, kHeight, kind, 4);
    };
    const Bytes whiteDXT1 = hapTexture(*white, DXTEncoder::Kind::dxt1);
    Bytes halfTexture(whiteDXT1.begin(), whiteDXT1.begin() + static_cast<std::ptrdiff_t>(whiteDXT1.size() / 2));
    Bytes unknownFormat = Hap::frame(whiteDXT1, Hap::kFormatDXT1);
    unknownFormat[3] = 0xA1;
    const Bytes hq = DXV::hqCompressFrame(white->data(), white->stride(), kWidth, kHeight, DXV::HQFormat::yg10);
    const Bytes hqTruncated(hq.begin(), hq.end() - 9);
    Bytes rawDXT1(12 + halfTexture.size());
    std::memcpy(rawDXT1.data(), "1TXD\x04\x00\x01\x00\x00\x00\x00\x00", 12);
    std::memcpy(rawDXT1.data() + 12, halfTexture.data(), halfTexture.size());

    struct Case {
        const char* name;
        media::FourCharCode track;  // 'Hap1' or 'DXD3'
        Bytes frame;
    };
    const Case cases[] = {
        {"empty sample", media::subtype::hap1, {}},
        {"Hap header alone", media::subtype::hap1, {0, 0, 0, 0xAB}},
        {"Hap texture shorter than its grid", media::subtype::hap1, Hap::frame(halfTexture, Hap::kFormatDXT1)},
        {"Hap of an unknown format", media::subtype::hap1, unknownFormat},
        {"DXV of 3 bytes", media::subtype::dxd3, {1, 2, 3}},
        {"YCG6 of 8 bytes", media::subtype::dxd3, {'6', 'G', 'C', 'Y', 4, 0, 0, 0}},
        {"raw DXT1 shorter than its grid", media::subtype::dxd3, rawDXT1},
        {"truncated high-quality frame", media::subtype::dxd3, hqTruncated},
        {"LZF stream short of the texture", media::subtype::dxd3, {3, 0, 0, 0x23, 0x01, 7, 7}},
    };
    for (const auto subtype : {media::subtype::hap1, media::subtype::dxd3}) {
        const auto unpacker = TextureSource::FrameUnpacker::make(*trackFormat(subtype, kWidth, kHeight));
        ASSERT_TRUE(unpacker);
        const Bytes good =
            subtype == media::subtype::dxd3
                ? DXV::frame(hapTexture(*pattern, DXTEncoder::Kind::dxt5), DXV::Version::dxv3, DXV::TextureFormat::dxt5)
                : Hap::frame(hapTexture(*pattern, DXTEncoder::Kind::dxt5), Hap::kFormatDXT5);
        // What the frame alone decodes to, over a marker that any unwritten pixel would show.
        std::vector<std::uint8_t> expected(std::size_t{4} * kWidth * kHeight, 0xA7);
        const bool direct = subtype == media::subtype::dxd3
                                ? TextureSource::decodeDXVFrame(good, kWidth, kHeight, expected.data(), 4 * kWidth)
                                : TextureSource::decodeHapFrame(good, kWidth, kHeight, expected.data(), 4 * kWidth);
        ASSERT_TRUE(direct);
        // The pool's buffers first hold a white frame each.
        {
            const Bytes whiteFrame = subtype == media::subtype::dxd3
                                         ? DXV::frame(whiteDXT1, DXV::Version::dxv2, DXV::TextureFormat::dxt1)
                                         : Hap::frame(whiteDXT1, Hap::kFormatDXT1);
            std::vector<media::PixelBufferRef> held;
            for (int i = 0; i < 4; ++i) held.push_back(unpacker->pixelBuffer(*sampleOf(whiteFrame)));
            for (const auto& picture : held) ASSERT_TRUE(picture && at(*picture, kWidth - 1, kHeight - 1).r == 255);
        }
        for (const Case& c : cases) {
            if (c.track != subtype) continue;
            EXPECT_FALSE(unpacker->pixelBuffer(*sampleOf(c.frame))) << c.name;
        }
        const auto picture = unpacker->pixelBuffer(*sampleOf(good));
        ASSERT_TRUE(picture);
        ASSERT_EQ(picture->format(), media::PixelFormat::bgra8);
        for (int y = 0; y < kHeight; ++y)
            EXPECT_EQ(std::memcmp(picture->row(y), expected.data() + std::size_t{4} * kWidth * y, 4 * kWidth), 0)
                << "row " << y;
    }
}

// A sample described at another size than its track fails the encode, naming both sizes; other tracks get no
// unpacker; texture tracks get the movie encoder's hook.
TEST(TextureSourceCorruption, SampleOfAnotherSizeFailsAndOtherTracksAreNotUnpacked) {
    const auto track = trackFormat(media::subtype::hapY, 64, 32);
    const auto unpacker = frameUnpacker(*track);
    ASSERT_TRUE(unpacker);
    const auto texture = DXTEncoder::encode(solid(64, 32, kBlack)->data(), solid(64, 32, kBlack)->stride(), 64, 32,
                                            DXTEncoder::Kind::ycocg, 4);
    EXPECT_TRUE((*unpacker)(*sampleOf(Hap::frame(texture, Hap::kFormatScaledYCoCgDXT5), track)));
    const auto error = encodingErrorOf(
        [&] { (*unpacker)(*sampleOf(Hap::frame(texture, Hap::kFormatScaledYCoCgDXT5), trackFormat(0, 128, 64))); });
    EXPECT_EQ(error,
              EncodingError::readerFailed("a HapY frame of 128\u00D764 cannot be read in a track of 64\u00D732"));
    EXPECT_FALSE(frameUnpacker(*trackFormat(media::fourCharCode("avc1"), 64, 32)));
    EXPECT_FALSE(TextureSource::FrameUnpacker::make(*trackFormat(media::fourCharCode("apch"), 64, 32)));
}

}  // namespace
}  // namespace fw
