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

enum class DXVKind { dxv3DXT1, dxv2DXT5, dxv3YG10 };

// The clip's pictures as DXV frames of one kind, by our own frame writers, in a QuickTime movie at 25 fps.
void writeDXV(const fs::path& clip, DXVKind kind, int width, int height, const fs::path& file) {
    const Bytes raw = test::ffmpegRaw(clip, "bgra", kFrames);
    const std::size_t stride = std::size_t{4} * width, pictureBytes = stride * height;
    ASSERT_EQ(raw.size(), pictureBytes * kFrames);
    media::AssetWriter writer(file, media::FileType::quickTimeMovie);
    const auto type = kind == DXVKind::dxv2DXT5 ? media::subtype::dxdi : media::subtype::dxd3;
    const auto input = writer.addPassthroughVideoInput({type, width, height, 25});
    ASSERT_TRUE(input && writer.startWriting());
    const bool dxt1 = kind == DXVKind::dxv3DXT1;
    for (int i = 0; i < kFrames; ++i) {
        const std::uint8_t* picture = raw.data() + pictureBytes * i;
        Bytes frame = kind == DXVKind::dxv3YG10
                          ? DXV::hqCompressFrame(picture, stride, width, height, DXV::HQFormat::yg10)
                          : DXV::frame(DXTEncoder::encode(picture, stride, width, height,
                                                          dxt1 ? DXTEncoder::Kind::dxt1 : DXTEncoder::Kind::dxt5, 16),
                                       dxt1 ? DXV::Version::dxv3 : DXV::Version::dxv2,
                                       dxt1 ? DXV::TextureFormat::dxt1 : DXV::TextureFormat::dxt5);
        ASSERT_TRUE(input->appendSampleBuffer(*media::SampleBuffer::makeData(std::move(frame), media::MediaTime(i, 25),
                                                                             media::MediaTime(1, 25), nullptr)));
    }
    input->markAsFinished();
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
}

struct Source {
    const char* name;
    media::FourCharCode subtype;
    fs::path file;
    // The same pictures stored losslessly: as FFmpeg decodes the source, or as they were made for DXV high-quality
    // frames (FFmpeg hands those out as YCoCg planes that its scaler converts with another matrix; the codec tests
    // hold its planes against ours).
    fs::path reference;
    // dB, of our re-encode against the reference's: H.264 decides afresh on slightly different input, ProRes does not.
    double h264Floor, proResFloor;
    bool alsoHEVC = false;  // the slowest encoder, at the H.264 floor
};

// The source and its reference re-encoded alike: every frame arrives at the source's displayed size, and the two
// encodes differ only by what our unpacked pixels and the reference's differ by, plus the codec's rounding.
void expectReencodes(const Source& source, int width, int height) {
    SCOPED_TRACE(source.name);
    const auto tracks = open(source.file)->tracks(media::MediaType::video);
    ASSERT_EQ(media::fourCharCodeString(tracks.at(0).formatDescriptions.at(0)->mediaSubtype),
              media::fourCharCodeString(source.subtype));
    test::TempDir dir;
    for (const auto& [codec, name, floor] : {std::tuple{OutputCodec::h264, "h264", source.h264Floor},
                                             std::tuple{OutputCodec::hevc, "hevc", source.h264Floor},
                                             std::tuple{OutputCodec::proRes, "prores", source.proResFloor}}) {
        if (codec == OutputCodec::hevc && !source.alsoHEVC) continue;
        const std::string extension = codec == OutputCodec::proRes ? ".mov" : ".mp4";
        const fs::path out = dir / (name + extension), reference = dir / (name + ("-reference" + extension));
        encode(encoderFor(codec, width, height), source.file, out);
        encode(encoderFor(codec, width, height), source.reference, reference);
        EXPECT_EQ(fieldsOf(streamOf(probe(out, {"-count_packets"}), "video"),
                           {"codec_name", "width", "height", "nb_read_packets"}),
                  std::string(name) + " " + std::to_string(width) + " " + std::to_string(height) + " 25");
        EXPECT_GT(psnr(reference, out, width, height), floor) << name;
    }
}

// FFmpeg's hap encoder (snappy-compressed, chunked frames); it writes 'Hap1' unless told the tag. Measured: H.264
// 41.1, 41.1, 40.2 dB; ProRes 60.6, 60.6, 54.7 dB; turned: H.264 40.2, HEVC 40.8, ProRes 54.9 dB. A frame out of
// place costs 10 dB or more.
TEST(TextureSource, HapSourcesReencodeToEveryMovieCodec) {
    auto hap = [](const std::string& format, const char* tag) {
        return generated(format + ".mov", {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=1", "-c:v", "hap", "-format",
                                           format, "-tag:v", tag});
    };
    auto decoded = [](const fs::path& file) {
        return generated(file.stem().string() + "-decoded.mov", {"-i", file.string(), "-c:v", "png"});
    };
    for (const auto& [name, subtype, format, floors] :
         {std::tuple{"hap", media::subtype::hap1, "hap", std::pair{38, 56}},
          std::tuple{"hap alpha", media::subtype::hap5, "hap_alpha", std::pair{38, 56}},
          std::tuple{"hap q", media::subtype::hapY, "hap_q", std::pair{37, 51}}}) {
        const fs::path file = hap(format, media::fourCharCodeString(subtype).c_str());
        expectReencodes({name, subtype, file, decoded(file), double(floors.first), double(floors.second)}, 320, 180);
    }
    // Stored with a quarter-turn display matrix: the unpacked pictures are turned upright as decoded ones are.
    const fs::path turned = generated("hap_q-turned.mov", {"-i", hap("hap_q", "HapY").string(), "-c", "copy", "-tag:v",
                                                           "HapY", "-metadata:s:v:0", "rotate=90"});
    ASSERT_EQ(displayedSize(streamOf(probe(turned), "video")), std::pair(180, 320));
    expectReencodes({"hap q turned", media::subtype::hapY, turned, decoded(turned), 37, 51, true}, 180, 320);
}

// Our own DXV writers at a size that is no multiple of 4 (textures padded, high-quality planes 16-aligned). Measured:
// H.264 39.0, 38.9, 35.0 dB; ProRes 61.1, 60.5, 32.3 dB (high quality against the pictures themselves: its own loss
// on testsrc2's saturated edges); HEVC 38.4 dB.
TEST(TextureSource, DXVSourcesReencodeToEveryMovieCodec) {
    constexpr int kWidth = 318, kHeight = 178;
    const fs::path clip = picturesClip(kWidth, kHeight);
    test::TempDir dir;
    for (const auto& [name, kind, subtype, h264Floor, proResFloor] :
         {std::tuple{"dxv3 dxt1", DXVKind::dxv3DXT1, media::subtype::dxd3, 36, 56},
          std::tuple{"dxv2 dxt5", DXVKind::dxv2DXT5, media::subtype::dxdi, 36, 56},
          std::tuple{"dxv3 yg10", DXVKind::dxv3YG10, media::subtype::dxd3, 32, 29}}) {
        const fs::path file = dir / (std::string(name) + ".mov"), decoded = dir / (std::string(name) + "-decoded.mov");
        writeDXV(clip, kind, kWidth, kHeight, file);
        const bool highQuality = kind == DXVKind::dxv3YG10;
        if (!highQuality) {
            ASSERT_TRUE(test::ffmpeg({"-i", file.string(), "-c:v", "png", decoded.string()}));
        }
        expectReencodes({name, subtype, file, highQuality ? clip : decoded, double(h264Floor), double(proResFloor),
                         kind == DXVKind::dxv2DXT5},
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
    auto texture = [](const media::PixelBufferRef& picture, DXTEncoder::Kind kind) {
        return DXTEncoder::encode(picture->data(), picture->stride(), kWidth, kHeight, kind, 4);
    };
    const auto white = solid(kWidth, kHeight, {255, 255, 255, 255});
    const Bytes whiteTexture = texture(white, DXTEncoder::Kind::dxt1);
    const Bytes halfTexture(whiteTexture.begin(), whiteTexture.begin() + std::ptrdiff_t(whiteTexture.size() / 2));
    Bytes unknownFormat = Hap::frame(whiteTexture, Hap::kFormatDXT1),
          rawDXT1 = {'1', 'T', 'X', 'D', 4, 0, 1, 0, 0, 0, 0, 0};
    unknownFormat[3] = 0xA1;
    rawDXT1.insert(rawDXT1.end(), halfTexture.begin(), halfTexture.end());
    Bytes highQuality = DXV::hqCompressFrame(white->data(), white->stride(), kWidth, kHeight, DXV::HQFormat::yg10);
    highQuality.resize(highQuality.size() - 9);

    const std::vector<std::pair<const char*, Bytes>> hapCases = {
        {"empty sample", {}},
        {"header alone", {0, 0, 0, 0xAB}},
        {"texture shorter than its grid", Hap::frame(halfTexture, Hap::kFormatDXT1)},
        {"unknown format", unknownFormat}};
    const std::vector<std::pair<const char*, Bytes>> dxvCases = {{"3 bytes", {1, 2, 3}},
                                                                 {"raw DXT1 shorter than its grid", rawDXT1},
                                                                 {"truncated high-quality frame", highQuality}};
    const Bytes good = texture(makeImage(kWidth, kHeight, unique), DXTEncoder::Kind::dxt5);
    for (const bool dxv : {false, true}) {
        const auto unpacker = TextureSource::FrameUnpacker::make(
            *trackFormat(dxv ? media::subtype::dxd3 : media::subtype::hap1, kWidth, kHeight));
        ASSERT_TRUE(unpacker);
        auto frame = [dxv](const Bytes& blocks, bool dxt1) {
            return dxv ? DXV::frame(blocks, DXV::Version::dxv3,
                                    dxt1 ? DXV::TextureFormat::dxt1 : DXV::TextureFormat::dxt5)
                       : Hap::frame(blocks, dxt1 ? Hap::kFormatDXT1 : Hap::kFormatDXT5);
        };
        {  // The pool's buffers first hold white frames.
            std::vector<media::PixelBufferRef> held;
            for (int i = 0; i < 4; ++i) held.push_back(unpacker->pixelBuffer(*sampleOf(frame(whiteTexture, true))));
            for (const auto& picture : held) ASSERT_TRUE(picture && at(*picture, kWidth - 1, kHeight - 1).r == 255);
        }
        for (const auto& [name, bytes] : dxv ? dxvCases : hapCases)
            EXPECT_FALSE(unpacker->pixelBuffer(*sampleOf(bytes))) << name;
        // What the good frame alone decodes to, over a marker that any unwritten pixel would show.
        std::vector<std::uint8_t> expected(std::size_t{4} * kWidth * kHeight, 0xA7);
        const Bytes goodFrame = frame(good, false);
        ASSERT_TRUE(dxv ? TextureSource::decodeDXVFrame(goodFrame, kWidth, kHeight, expected.data(), 4 * kWidth)
                        : TextureSource::decodeHapFrame(goodFrame, kWidth, kHeight, expected.data(), 4 * kWidth));
        const auto picture = unpacker->pixelBuffer(*sampleOf(goodFrame));
        ASSERT_TRUE(picture);
        for (int y = 0; y < kHeight; ++y)
            EXPECT_EQ(std::memcmp(picture->row(y), expected.data() + std::size_t{4} * kWidth * y, 4 * kWidth), 0);
    }
}

// A sample described at another size than its track fails the encode, naming both sizes; only texture tracks get
// the movie encoder's hook.
TEST(TextureSourceCorruption, SampleOfAnotherSizeFailsAndOtherTracksAreNotUnpacked) {
    const auto track = trackFormat(media::subtype::hapY, 64, 32);
    const auto unpacker = frameUnpacker(*track);
    ASSERT_TRUE(unpacker);
    const auto black = solid(64, 32, kBlack);
    const Bytes frame =
        Hap::frame(DXTEncoder::encode(black->data(), black->stride(), 64, 32, DXTEncoder::Kind::ycocg, 4),
                   Hap::kFormatScaledYCoCgDXT5);
    EXPECT_TRUE((*unpacker)(*sampleOf(frame, track)));
    EXPECT_EQ(encodingErrorOf([&] { (*unpacker)(*sampleOf(frame, trackFormat(0, 128, 64))); }),
              EncodingError::readerFailed("a HapY frame of 128\u00D764 cannot be read in a track of 64\u00D732"));
    EXPECT_FALSE(frameUnpacker(*trackFormat(media::fourCharCode("avc1"), 64, 32)));
}

}  // namespace
}  // namespace fw
