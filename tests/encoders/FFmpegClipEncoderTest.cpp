// The decode helper end to end: our fwdecode probed and streamed into movies
// checked by ffprobe and FFmpeg's own decoders, and helpers that misbehave
// (small shell scripts behind FW_DECODE_HELPER), each of which must fail the
// encode with a message, leave no output and leave no process behind.

#include "encoders/FFmpegClipEncoder.h"
#include "pipeline/FFmpegSource.h"
#include "platform/core/DecodeHelperStream.h"
#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Points FW_DECODE_HELPER at `program` for the scope.
class HelperOverride {
public:
    explicit HelperOverride(const fs::path& program) { ::setenv("FW_DECODE_HELPER", program.c_str(), 1); }
    ~HelperOverride() { ::unsetenv("FW_DECODE_HELPER"); }
};

const fs::path& source() {
    static const fs::path path = test::generated(
        "helper_source.mp4", {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=2", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=48000:duration=2", "-ac", "2", "-c:v", "libx264",
                              "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"});
    return path;
}

FFmpegClipRequest proResRequest() {
    FFmpegClipRequest request;
    request.videoSettings =
        *videoSettings(OutputCodec::proRes, 320, 180, ProResVariant::hq, std::nullopt, std::nullopt);
    request.fileType = ContainerFileType::quickTimeMovie;
    return request;
}

TEST(FFmpegSource, ProbeReadsTheGeneratedMovie) {
    HelperOverride helper(FW_DECODE_HELPER_PROGRAM);
    const auto info = FFmpegSource::probe(source());
    ASSERT_TRUE(info);
    EXPECT_EQ(std::tuple(info->width, info->height, info->fps), std::tuple(320, 180, 25.0));
    EXPECT_NEAR(info->duration, 2, 0.05);
    EXPECT_FALSE(FFmpegSource::probe(fs::path(FW_DECODE_HELPER_PROGRAM))) << "not a media file";
}

TEST(FFmpegSource, ProbeLines) {
    struct Row {
        const char* line;
        bool parses;
    } rows[] = {
        {"1920x1080 25 12.48 0 0", true},     {"  1920x1080  25 12.48 0 0\n", true}, {"1920x1080\t25 12.48 0 0", false},
        {"1920x1080 25 12.48 0 0 7", false},  {"1x2x3 25 12.48 0 0", false},         {"0x1080 25 12.48 0 0", false},
        {"1920x1080 25 12.48 0 zero", false}, {"1920x1080 2.5e1 1 -3 +4", true},     {"", false},
    };
    for (const auto& row : rows) EXPECT_EQ(FFmpegSource::parseProbeLine(row.line).has_value(), row.parses) << row.line;
}

TEST(FFmpegClipEncoder, StreamsAGeneratedMovieIntoProResWithItsSound) {
    HelperOverride helper(FW_DECODE_HELPER_PROGRAM);
    TempDir dir;
    const fs::path output = dir / "out.mov";
    double lastProgress = 0;
    FFmpegClipEncoder(proResRequest()).encode(source(), output, [&](double p) { lastProgress = p; }, {});
    EXPECT_EQ(lastProgress, 1.0);

    const auto probed = test::probe(output, {"-count_frames"});
    EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "video"),
                             {"codec_name", "width", "height", "nb_read_frames", "avg_frame_rate"}),
              "prores 320 180 50 25/1");
    const auto audio = test::streamOf(probed, "audio");
    EXPECT_EQ(test::fieldsOf(audio, {"codec_name", "sample_rate", "channels"}), "pcm_s16le 48000 2");
    EXPECT_NEAR(test::number(audio["duration"]), 2.0, 0.05);

    // The pictures are the source's as well as the direct path writes them (luma: the chroma of the test pattern's
    // sharp edges is what any 4:2:2 store loses).
    MovieEncoder direct;
    direct.videoSettings = proResRequest().videoSettings;
    direct.encode(media::Asset::open(source()), dir / "direct.mov", {}, {});
    const auto original = test::ffmpegRaw(source(), "gray", 50);
    const auto viaDirect = test::ffmpegRaw(dir / "direct.mov", "gray", 50),
               viaHelper = test::ffmpegRaw(output, "gray", 50);
    ASSERT_EQ(viaHelper.size(), original.size());
    ASSERT_EQ(viaDirect.size(), original.size());
    auto psnr = [&](const std::vector<std::uint8_t>& a) {
        double sum = 0;
        for (std::size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - original[i]) * (double(a[i]) - original[i]);
        return test::psnrFromSquaredError(sum, a.size());
    };
    EXPECT_GT(psnr(viaHelper), 40);
    // The helper hands over BGRA pictures; the direct path passes the source's 4:2:0 planes on without RGB, which
    // keeps luma a few dB closer still.
    EXPECT_GT(psnr(viaHelper), psnr(viaDirect) - 8) << "about as close to the source as the direct path";
}

// What our helper writes for a source, message by message.
struct HelperStream {
    DecodeHelperHeader header;
    std::string order;  // one letter a message: A, V, E
    std::int64_t soundFrames = 0;
    std::vector<std::string> pictures;
};

HelperStream streamOf(const fs::path& movie) {
    const auto run = test::runCommand({FW_DECODE_HELPER_PROGRAM, movie.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    const std::string& bytes = run.standardOutput;
    std::size_t at = 0;
    DecodeHelperStream reader([&](std::span<std::uint8_t> into) {
        const std::size_t count = std::min(into.size(), bytes.size() - at);
        std::memcpy(into.data(), bytes.data() + at, count);
        at += count;
        return count;
    });
    HelperStream stream;
    stream.header = reader.readHeader();
    // Read by hand: the stream reader drops late sound, which ours must not send.
    while (at + DecodeHelperStream::kMessageHeaderBytes <= bytes.size()) {
        const char type = bytes[at];
        std::uint64_t length = 0;
        for (int i = 0; i < 8; ++i) length |= std::uint64_t{static_cast<std::uint8_t>(bytes[at + 1 + i])} << (8 * i);
        at += DecodeHelperStream::kMessageHeaderBytes;
        stream.order += type;
        if (type == 'E') break;
        if (type == 'A') stream.soundFrames += static_cast<std::int64_t>(length / stream.header.audioFrameBytes());
        if (type == 'V') stream.pictures.push_back(bytes.substr(at, length));
        at += length;
    }
    EXPECT_EQ(at, bytes.size()) << "nothing after the end";
    return stream;
}

// Sound comes whole before the pictures, which are the source's as the ffmpeg tool converts them to BGRA, one a
// grid step, the picture that comes late after a gap repeated to fill it. Whether the pictures start decoding
// before the file's streams are searched (one stream of pictures, named in the container's header) or after
// (streams found only by reading, or more than one stream of pictures) changes nothing.
TEST(DecodeHelperProgram, SendsAllTheSoundThenEveryPictureOnTheGrid) {
    const std::vector<std::string> picture{"-f", "lavfi", "-i", "testsrc2=size=200x120:rate=25:duration=1"};
    const std::vector<std::string> sound{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=1"};
    auto join = [](std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const std::vector<std::string> h264{"-c:v", "libx264", "-pix_fmt", "yuv420p"};
    struct Row {
        const char* name;
        fs::path movie;
        std::int64_t soundFrames;    // 0: none
        std::vector<int> pictureOf;  // decoded picture of each grid step; empty: one each
    } rows[] = {
        {"constant rate with sound", source(), 96000, {}},
        {"pictures 10 to 14 missing",
         test::generated("gap.mkv",
                         join({picture, {"-vf", "select='not(between(n,10,14))'", "-fps_mode", "vfr"}, h264})),
         0,
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10, 10, 10, 10, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        {"streams found by reading",
         test::generated("found.ts", join({picture, sound, h264, {"-c:a", "aac"}})),
         44100,
         {}},
        {"two streams of pictures",
         test::generated("two.mkv", join({picture,
                                          sound,
                                          {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:duration=1", "-map", "0",
                                           "-map", "1", "-map", "2", "-c:a", "aac"},
                                          h264})),
         44100,
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const HelperStream stream = streamOf(row.movie);
        const std::size_t pictureBytes = stream.header.frameBytes();
        // The source's pictures as decoded, none repeated or dropped.
        const auto decoded =
            test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", row.movie.string(), "-map", "0:v:0",
                              "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", "-"});
        const std::string& expected = decoded.standardOutput;
        const std::size_t gridSteps = row.pictureOf.empty() ? expected.size() / pictureBytes : row.pictureOf.size();
        const std::size_t soundMessages = stream.order.size() - std::min(stream.order.size(), gridSteps + 1);
        EXPECT_EQ(stream.order, std::string(soundMessages, 'A') + std::string(gridSteps, 'V') + "E");
        EXPECT_EQ(soundMessages > 0, row.soundFrames > 0);
        EXPECT_NEAR(static_cast<double>(stream.soundFrames), static_cast<double>(row.soundFrames), 2048);
        ASSERT_EQ(stream.pictures.size(), gridSteps);
        for (std::size_t i = 0; i < gridSteps; ++i) {
            const std::size_t from = row.pictureOf.empty() ? i : static_cast<std::size_t>(row.pictureOf[i]);
            const auto* want = reinterpret_cast<const std::uint8_t*>(expected.data()) + from * pictureBytes;
            int largest = 0;
            for (std::size_t b = 0; b < pictureBytes; ++b)
                largest = std::max(largest, std::abs(static_cast<std::uint8_t>(stream.pictures[i][b]) - want[b]));
            EXPECT_LE(largest, 2) << "grid step " << i;
        }
    }
}

// A reader that goes away mid-stream, while pictures are still being decoded, ends the helper at once with its
// reason, whichever thread was waiting.
TEST(DecodeHelperProgram, StopsWhenItsReaderGoesAway) {
    TempDir dir;
    const auto run = test::runCommand(
        {"sh", "-c",
         "{ timeout 120 \"$0\" \"$1\" 2> \"$2/errors\"; echo $? > \"$2/status\"; } | head -c 300000 > /dev/null",
         FW_DECODE_HELPER_PROGRAM, source().string(), dir.path().string()});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(test::readText(dir / "status"), "1\n") << "not 124: it did not hang";
    EXPECT_EQ(test::readText(dir / "errors"), "fwdecode: the reader went away\n");
}

std::string le32(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string le64(std::uint64_t value) { return le32(static_cast<std::uint32_t>(value)) + le32(value >> 32); }

std::string header(std::uint32_t width = 16, std::uint32_t height = 8, std::uint32_t sampleRate = 8000,
                   std::uint32_t channels = 1) {
    return "FWDC" + le32(0) + le32(width) + le32(height) + le64(std::bit_cast<std::uint64_t>(25.0)) + le64(0) +
           le32(sampleRate) + le32(channels);
}

std::string message(char type, std::uint64_t length, std::size_t payloadBytes, char fill = '\x40') {
    return std::string(1, type) + le64(length) + std::string(payloadBytes, fill);
}

std::string frame() { return message('V', 16 * 8 * 4, 16 * 8 * 4); }

// A helper that answers the probe, writes `stream` and then runs `tail`.
fs::path writeHelper(const TempDir& dir, const std::string& stream, const std::string& tail) {
    std::ofstream(dir / "stream.bin", std::ios::binary) << stream;
    const fs::path script = dir / "helper.sh";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "if [ \"$1\" = --probe ]; then echo '16x8 25 1 0 0'; exit 0; fi\n"
                          << "echo $$ > '" << (dir / "helper.pid").string() << "'\n"
                          << "cat '" << (dir / "stream.bin").string() << "'\n"
                          << tail << "\n";
    ::chmod(script.c_str(), 0755);
    return script;
}

// The encode ended well within the 30 s time limit (so waited neither for it nor for the helper's own end), left
// nothing but the helper's files (no output, staged or final) and no helper process.
void expectCleanEnd(const TempDir& dir, std::chrono::steady_clock::time_point started) {
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_TRUE(std::set<std::string>({"stream.bin", "helper.sh", "helper.pid", "source.bin"})
                        .contains(entry.path().filename().string()))
            << entry.path();
    pid_t pid = -1;
    std::ifstream(dir / "helper.pid") >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::kill(pid, 0), -1) << "the helper is gone";
}

// Helpers that keep to the stream's rules in ways ours does not use: sound after the first picture (dropped) and
// pictures whose payload is shorter or longer than the frame (what is covered is shown, the rest is black, and bytes
// beyond the frame are passed over). Each writes two 16 x 8 pictures and 8 frames of sound before the first.
TEST(FFmpegClipEncoder, HelpersSendingLateSoundOrOddPictureLengthsMakeMovies) {
    const std::string white = message('V', 16 * 8 * 4, 16 * 8 * 4, '\xF0');
    const std::string sound = message('A', 16, 16);
    struct Row {
        const char* name;
        std::string messages;
        int whiteRows;  // rows of the first picture its payload covers
    } rows[] = {
        {"sound after the first picture", sound + white + message('A', 200000, 200000) + message('A', 6, 6) + frame(),
         8},
        {"picture half as long as its frame", sound + message('V', 16 * 4 * 4, 16 * 4 * 4, '\xF0') + frame(), 4},
        {"picture longer than its frame",
         sound + message('V', 16 * 8 * 4 + 99999, 16 * 8 * 4 + 99999, '\xF0') + frame(), 8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        HelperOverride helper(writeHelper(dir, header() + row.messages + message('E', 0, 0), ""));
        std::ofstream(dir / "source.bin") << "anything";
        FFmpegClipEncoder(proResRequest()).encode(dir / "source.bin", dir / "out.mov", {}, {});

        const auto probed = test::probe(dir / "out.mov", {"-count_frames"});
        EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "video"), {"width", "height", "nb_read_frames"}), "16 8 2");
        EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "audio"), {"sample_rate", "duration_ts"}), "8000 8");
        // The first picture: white where the payload reached, black below.
        const auto luma = test::ffmpegRaw(dir / "out.mov", "gray", 1);
        ASSERT_EQ(luma.size(), 16u * 8u);
        for (int y = 0; y < 8; ++y) {
            const int value = luma[y * 16 + 8];
            if (y < row.whiteRows)
                EXPECT_GT(value, 200) << "row " << y;
            else
                EXPECT_LT(value, 40) << "row " << y;
        }
    }
}

// Pictures keep the stream's size, each odd side rounded up for the 4:2:0 codecs as on every route; sound keeps its
// rate, mono as mono and wider sound as stereo.
TEST(FFmpegClipEncoder, StreamsKeepTheirShape) {
    struct Row {
        const char* name;
        OutputCodec codec;
        std::uint32_t width, height, channels;
        const char* video;  // width height frames
        const char* audio;  // channels sample_rate
    } rows[] = {
        {"ProRes keeps odd sides", OutputCodec::proRes, 17, 9, 1, "17 9 2", "1 8000"},
        {"H.264 rounds odd sides up", OutputCodec::h264, 17, 9, 1, "18 10 2", "1 8000"},
        {"six channels as stereo", OutputCodec::proRes, 16, 8, 6, "16 8 2", "2 8000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::uint64_t pictureBytes = std::uint64_t{row.width} * row.height * 4;
        const std::string stream = header(row.width, row.height, 8000, row.channels) +
                                   message('A', row.channels * 2 * 800, row.channels * 2 * 800, '\x10') +
                                   message('V', pictureBytes, pictureBytes) + message('V', pictureBytes, pictureBytes) +
                                   message('E', 0, 0);
        HelperOverride helper(writeHelper(dir, stream, ""));
        std::ofstream(dir / "source.bin") << "anything";
        FFmpegClipRequest request;
        request.videoSettings = *videoSettings(row.codec, 320, 180, ProResVariant::hq, std::nullopt, std::nullopt);
        request.fileType =
            row.codec == OutputCodec::proRes ? ContainerFileType::quickTimeMovie : ContainerFileType::mpeg4;
        const fs::path output = dir / (row.codec == OutputCodec::proRes ? "out.mov" : "out.mp4");
        FFmpegClipEncoder(request).encode(dir / "source.bin", output, {}, {});

        const auto probed = test::probe(output, {"-count_frames"});
        EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "video"), {"width", "height", "nb_read_frames"}), row.video);
        const auto audio = test::streamOf(probed, "audio");
        EXPECT_EQ(test::fieldsOf(audio, {"channels", "sample_rate"}), row.audio);
        EXPECT_NEAR(test::number(audio["duration"]), 0.1, 0.03);
    }
}

// A caller that has probed the source hands the result in: the helper then runs once, to stream.
TEST(FFmpegClipEncoder, AProbedSourceIsNotProbedAgain) {
    TempDir dir;
    const fs::path script = writeHelper(dir, header() + frame() + message('E', 0, 0), "");
    const fs::path counting = dir / "counting.sh";
    std::ofstream(counting) << "#!/bin/sh\n"
                            << "echo \"$1\" >> '" << (dir / "calls.txt").string() << "'\n"
                            << "exec '" << script.string() << "' \"$@\"\n";
    ::chmod(counting.c_str(), 0755);
    HelperOverride helper(counting);
    std::ofstream(dir / "source.bin") << "anything";
    const auto probe = FFmpegSource::probe(dir / "source.bin");
    ASSERT_TRUE(probe);
    fs::remove(dir / "calls.txt");

    FFmpegClipEncoder(proResRequest()).encode(dir / "source.bin", *probe, dir / "out.mov", {}, {});
    EXPECT_EQ(test::textOf(dir / "calls.txt"), (dir / "source.bin").string() + "\n");
    EXPECT_EQ(test::fieldsOf(test::streamOf(test::probe(dir / "out.mov", {"-count_frames"}), "video"),
                             {"width", "height", "nb_read_frames"}),
              "16 8 1");
}

// A stream that came whole, end message included, is the helper's result: how the helper exits afterwards does not
// undo it.
TEST(FFmpegClipEncoder, AWholeStreamIsKeptHoweverTheHelperExits) {
    const char* tails[] = {"exit 3", "echo 'fwdecode: 2 packets could not be decoded' >&2; exit 1"};
    for (const char* tail : tails) {
        SCOPED_TRACE(tail);
        TempDir dir;
        HelperOverride helper(
            writeHelper(dir, header() + message('A', 16, 16) + frame() + frame() + message('E', 0, 0), tail));
        std::ofstream(dir / "source.bin") << "anything";
        FFmpegClipEncoder(proResRequest()).encode(dir / "source.bin", dir / "out.mov", {}, {});
        const auto probed = test::probe(dir / "out.mov", {"-count_frames"});
        EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "video"), {"width", "height", "nb_read_frames"}), "16 8 2");
        EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "audio"), {"sample_rate", "duration_ts"}), "8000 8");
    }
}

// Each fails the encode with its message well within the 30 s the time limit allows; the helper that never answers
// meets that limit by a clock of the test's own, ten seconds on at every look, and the silent one is cancelled once
// its picture has come.
TEST(FFmpegClipEncoder, BrokenHelpersAndCancellingFailCleanly) {
    struct Row {
        const char* name;
        std::string stream;
        std::string tail;
        std::string message;
        bool cancel = false;
    } rows[] = {
        {"bad magic", "FWDX" + header().substr(4) + frame() + message('E', 0, 0), "",
         "Reading failed: bad decoder handshake"},
        {"truncated mid-frame", header() + frame() + message('V', 16 * 8 * 4, 100), "",
         "Reading failed: decoder stream ended early"},
        {"no end message", header() + frame(), "", "Reading failed: decoder stream ended early"},
        {"unknown message type", header() + frame() + message('Q', 4, 4), "exec sleep 600",
         "Reading failed: unknown decoder message"},
        {"oversized picture, cut short", header() + message('V', 1ull << 40, 1000), "",
         "Reading failed: decoder stream ended early"},
        {"oversized sound", header() + message('A', 1ull << 62, 1000), "",
         "Reading failed: decoder stream ended early"},
        {"absurd frame size", header(0, 8) + message('E', 0, 0), "",
         "Reading failed: decoder announced an unusable frame size 0x8"},
        {"never answers", "", "exec sleep 600", "Reading failed: the decoder did not answer within 30000 ms"},
        {"exits 1", header() + frame(), "echo 'fwdecode: cannot decode clip' >&2; exit 1",
         "Reading failed: fwdecode: cannot decode clip"},
        {"sound and no pictures", header() + message('A', 16, 16) + message('E', 0, 0), "",
         "Reading failed: the decoder produced no frames"},
        {"nothing but the end", header() + message('E', 0, 0), "exit 3",
         "Reading failed: the decoder produced no frames"},
        {"silent, cancelled", header() + frame(), "exec sleep 600", "The job was cancelled.", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        HelperOverride helper(writeHelper(dir, row.stream, row.tail));
        std::ofstream(dir / "source.bin") << "anything";
        FFmpegClipRequest request = proResRequest();
        if (row.stream.empty())
            request.clock = [looks = std::make_shared<std::atomic<int>>(0)] {
                return std::chrono::steady_clock::time_point() + std::chrono::seconds(10 * ++*looks);
            };
        std::stop_source stop;
        std::atomic<bool> pictured{false};
        const auto picture = [&](double) {
            pictured = true;
            pictured.notify_all();
        };
        std::jthread canceller([&] {
            pictured.wait(false);
            if (row.cancel) stop.request_stop();
        });
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(test::failureOf([&] {
                      FFmpegClipEncoder(request).encode(dir / "source.bin", {16, 8, 25, 1}, dir / "out.mov", picture,
                                                        {}, stop.get_token());
                  }).message,
                  row.message);
        picture(1);  // releases the canceller of an encode that ended without a picture
        expectCleanEnd(dir, started);
    }
}

}  // namespace
}  // namespace fw
