// Sources whose pictures and sound do not start together, or whose pictures pause while the sound goes on, encoded
// to the end on each movie route that carries sound beside its pictures, with every picture and both tracks where
// they were. A pacing of the tracks that deadlocks hangs here until ctest's time-out.

#include "jobs/PlanExecutor.h"
#include "support/Probe.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

// 320×180 pictures at 25 fps beside a 1 kHz tone, H.264 and AAC in MPEG-4, the pictures' times kept as made.
fs::path source(const std::string& name, const std::vector<std::vector<std::string>>& parts) {
    std::vector<std::string> arguments;
    for (const auto& part : parts) arguments.insert(arguments.end(), part.begin(), part.end());
    arguments.insert(arguments.end(),
                     {"-fps_mode", "passthrough", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    return test::generated(name, arguments);
}

// Each track's span (start and end, seconds) and the pictures' packet count.
struct Tracks {
    std::string videoPackets;
    std::vector<std::pair<double, double>> spans;  // the pictures', then each sound track's
};

Tracks tracksOf(const fs::path& file) {
    const test::Json probed = test::probe(file, {"-count_packets"});
    Tracks tracks{test::fieldsOf(test::streamOf(probed, "video"), {"nb_read_packets"}), {}};
    for (const char* type : {"video", "audio"})
        for (int index = 0; index < test::streamCount(probed, type); ++index) {
            const test::Json stream = test::streamOf(probed, type, index);
            const double start = test::number(stream["start_time"]);
            tracks.spans.emplace_back(start, start + test::number(stream["duration"]));
        }
    return tracks;
}

// How far, in the file's byte order, a packet lies ahead of a packet of another track that comes after it: 0 for a
// file in time order, however long one track pauses.
double mostLeadInFileOrder(const fs::path& file) {
    const test::Json probed = test::probe(file, {"-show_packets"});
    std::vector<std::tuple<double, int, double>> packets;  // (position, stream, time)
    int streams = 0;
    for (const auto& packet : probed.value("packets", test::Json::array())) {
        const int stream = packet.value("stream_index", 0);
        packets.emplace_back(test::number(packet["pos"]), stream, test::number(packet["pts_time"]));
        streams = std::max(streams, stream + 1);
    }
    std::sort(packets.begin(), packets.end());
    // From the end: the earliest time of each track still to come.
    std::vector<double> earliestAfter(static_cast<std::size_t>(streams), std::numeric_limits<double>::infinity());
    double most = 0;
    for (auto packet = packets.rbegin(); packet != packets.rend(); ++packet) {
        const auto& [position, stream, seconds] = *packet;
        for (int other = 0; other < streams; ++other)
            if (other != stream) most = std::max(most, seconds - earliestAfter[static_cast<std::size_t>(other)]);
        double& earliest = earliestAfter[static_cast<std::size_t>(stream)];
        earliest = std::min(earliest, seconds);
    }
    return most;
}

TEST(StaggeredTracks, PicturesStartingLateOrPausingAndSoundStartingLateEncodeWhole) {
    const std::vector<std::string> tone = {"-f", "lavfi", "-i", "sine=frequency=1000:duration=5"};
    const std::vector<std::string> lateTone = {"-itsoffset", "3", "-f", "lavfi", "-i", "sine=frequency=500:duration=2"};
    const std::vector<std::string> pictures = {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=5"};
    const struct Row {
        const char* name;
        fs::path file;
        bool allSoundTracks = false;
    } rows[] = {
        {"pictures from 3 s, sound from 0",
         source("late-pictures.mp4", {{"-itsoffset", "3", "-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=2"}, tone})},
        {"sound from 3 s, pictures from 0", source("late-sound.mp4", {pictures, lateTone})},
        {"pictures pausing from 2 s to 5 s",
         source("paused-pictures.mp4", {pictures, tone, {"-vf", "select='not(between(t,2,5))'"}})},
        {"every sound track kept, the second from 3 s",
         source("two-tones.mp4", {pictures, tone, lateTone, {"-map", "0:v", "-map", "1:a", "-map", "2:a"}}), true},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        const Tracks made = tracksOf(row.file);
        ASSERT_EQ(made.spans.size(), row.allSoundTracks ? 3u : 2u) << row.name;
        SourceEncodeOptions options;
        options.batch.audio.preserveAllTracks = row.allSoundTracks;
        for (OutputCodec codec : {OutputCodec::h264, OutputCodec::proRes, OutputCodec::hap}) {
            if (row.allSoundTracks && codec == OutputCodec::hap) continue;  // it carries the first sound track only
            SCOPED_TRACE(std::string(row.name) + ", " + std::string(rawValue(codec)));
            ExportConfiguration configuration;
            configuration.codec = codec;
            const fs::path output = dir / (codec == OutputCodec::h264 ? "out.mp4" : "out.mov");
            encodeSource(row.file, output, configuration, options, {}, {});
            const Tracks written = tracksOf(output);
            EXPECT_EQ(written.videoPackets, made.videoPackets);
            ASSERT_EQ(written.spans.size(), made.spans.size());
            for (std::size_t track = 0; track < made.spans.size(); ++track) {
                // AAC written again starts its priming a frame (21 ms) early.
                EXPECT_NEAR(written.spans[track].first, made.spans[track].first, track ? 0.03 : 0.01) << track;
                EXPECT_NEAR(written.spans[track].second, made.spans[track].second, track ? 0.03 : 0.01) << track;
            }
        }
    }
}

// The sound does not run ahead while the first pictures are decoded and compressed, nor while the encoder holds the
// last pictures before a pause in them: every movie route that writes the pictures on the way (texture codecs,
// ProRes, H.264) interleaves the two in the file, within the second the writer lets one track run ahead.
TEST(StaggeredTracks, PicturesAndSoundInterleaveFromTheStartOfTheFile) {
    // B-frames, so that the first pictures take a while to come out of the decoder, as a camera's do.
    const fs::path fromTheStart = test::generated(
        "interleaved.mp4", {"-f", "lavfi", "-i", "testsrc2=s=640x360:r=25:d=10", "-f", "lavfi", "-i",
                            "sine=frequency=1000:duration=10", "-c:v", "libx264", "-preset", "medium", "-c:a", "aac"});
    // 2 s of pictures, a pause of `pause` s while the sound goes on, 2 s more; moving, or the same picture throughout
    // (which an encoder does not take for a new scene after the pause).
    const auto paused = [](int pause, const std::string& pictures = "testsrc2") {
        const std::string length = std::to_string(pause + 4), resume = std::to_string(pause + 2);
        return source(pictures + "-pause-" + std::to_string(pause) + ".mp4",
                      {{"-f", "lavfi", "-i", pictures + "=s=320x180:r=25:d=" + length},
                       {"-f", "lavfi", "-i", "sine=frequency=1000:duration=" + length},
                       {"-vf", "select='not(between(t,2," + resume + "-0.001))'"}});
    };
    // 15 s of noisy pictures (2 MB a second) beside sound that ends after 1 s or pauses from 1 s to 13 s: more
    // than the reader queues while it reads for the sound.
    const auto beside = [](const std::string& name, const std::vector<std::string>& sound) {
        return source(name, {{"-f", "lavfi", "-i", "testsrc2=s=320x240:r=25:d=15,noise=alls=30:allf=t"},
                             {"-f", "lavfi", "-i", "sine=frequency=1000:duration=" + sound[0]},
                             {sound.begin() + 1, sound.end()},
                             {"-qp", "12"}});
    };
    const struct Row {
        const char* name;
        fs::path file;
        std::vector<OutputCodec> codecs;
    } rows[] = {
        {"from the start", fromTheStart, {OutputCodec::hap, OutputCodec::hapQ, OutputCodec::dxv3, OutputCodec::proRes}},
        {"sound ending after 1 s of large pictures",
         beside("large-ends.mp4", {"1"}),
         {OutputCodec::hap, OutputCodec::h264}},
        {"sound pausing from 1 s to 13 s beside large pictures, in Matroska",
         beside("large-pauses.mkv", {"15", "-af", "aselect='not(between(t,1,13))'"}),
         {OutputCodec::hap, OutputCodec::h264}},
        {"across a 10 s pause in the pictures", paused(10), {OutputCodec::proRes, OutputCodec::h264}},
        {"across a 30 s pause in the pictures", paused(30), {OutputCodec::proRes, OutputCodec::h264}},
        {"across a 10 s pause in a still picture", paused(10, "smptebars"), {OutputCodec::h264, OutputCodec::hevc}},
    };
    test::TempDir dir;
    for (const Row& row : rows)
        for (OutputCodec codec : row.codecs) {
            SCOPED_TRACE(std::string(row.name) + ", " + std::string(rawValue(codec)));
            ExportConfiguration configuration;
            configuration.codec = codec;
            const bool mpeg4 = codec == OutputCodec::h264 || codec == OutputCodec::hevc;
            const fs::path output = dir / (mpeg4 ? "out.mp4" : "out.mov");
            encodeSource(row.file, output, configuration, {}, {}, {});
            ASSERT_EQ(tracksOf(output).spans.size(), 2u);
            EXPECT_LE(mostLeadInFileOrder(output), 1.0);
        }
}

}  // namespace
}  // namespace fw
