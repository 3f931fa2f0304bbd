// Sources whose pictures and sound do not start together, or whose pictures pause while the sound goes on, encoded
// to the end on each movie route that carries sound beside its pictures, with every picture and both tracks where
// they were. A pacing of the tracks that deadlocks hangs here until ctest's time-out.

#include "jobs/PlanExecutor.h"
#include "support/Probe.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

// 320×180 pictures at 25 fps beside a 1 kHz tone, H.264 and AAC in MPEG-4, the pictures' times kept as made.
fs::path source(const std::string& name, const std::vector<std::string>& pictures,
                const std::vector<std::string>& sound, const std::vector<std::string>& filter = {}) {
    std::vector<std::string> arguments = pictures;
    arguments.insert(arguments.end(), sound.begin(), sound.end());
    arguments.insert(arguments.end(), filter.begin(), filter.end());
    arguments.insert(arguments.end(),
                     {"-fps_mode", "passthrough", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    return test::generated(name, arguments);
}

struct Tracks {
    std::string videoPackets;
    double videoStart = 0, videoEnd = 0, audioStart = 0, audioEnd = 0;
};

Tracks tracksOf(const fs::path& file) {
    const test::Json probed = test::probe(file, {"-count_packets"});
    const test::Json video = test::streamOf(probed, "video"), audio = test::streamOf(probed, "audio");
    const auto end = [](const test::Json& stream) {
        return test::number(stream["start_time"]) + test::number(stream["duration"]);
    };
    return {video.value("nb_read_packets", ""), test::number(video["start_time"]), end(video),
            test::number(audio["start_time"]), end(audio)};
}

TEST(StaggeredTracks, PicturesStartingLateOrPausingAndSoundStartingLateEncodeWhole) {
    const std::vector<std::string> tone = {"-f", "lavfi", "-i", "sine=frequency=1000:duration=5"};
    const std::vector<std::string> pictures = {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=5"};
    struct Row {
        const char* name;
        fs::path file;
    };
    const Row rows[] = {
        {"pictures from 3 s, sound from 0",
         source("late-pictures.mp4", {"-itsoffset", "3", "-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=2"}, tone)},
        {"sound from 3 s, pictures from 0",
         source("late-sound.mp4", pictures,
                {"-itsoffset", "3", "-f", "lavfi", "-i", "sine=frequency=1000:duration=2"})},
        {"pictures pausing from 2 s to 5 s",
         source("paused-pictures.mp4", pictures, tone, {"-vf", "select='not(between(t,2,5))'"})},
    };
    const OutputCodec codecs[] = {OutputCodec::h264, OutputCodec::proRes, OutputCodec::hap};
    test::TempDir dir;
    for (const Row& row : rows) {
        const Tracks made = tracksOf(row.file);
        for (OutputCodec codec : codecs) {
            SCOPED_TRACE(std::string(row.name) + ", " + std::string(rawValue(codec)));
            ExportConfiguration configuration;
            configuration.codec = codec;
            const fs::path output = dir / (codec == OutputCodec::h264 ? "out.mp4" : "out.mov");
            encodeSource(row.file, output, configuration, {}, {}, {});
            const Tracks written = tracksOf(output);
            EXPECT_EQ(written.videoPackets, made.videoPackets);
            EXPECT_NEAR(written.videoStart, made.videoStart, 0.01);
            EXPECT_NEAR(written.videoEnd, made.videoEnd, 0.01);
            // AAC written again starts its priming a frame (21 ms) early.
            EXPECT_NEAR(written.audioStart, made.audioStart, 0.03);
            EXPECT_NEAR(written.audioEnd, made.audioEnd, 0.03);
        }
    }
}

}  // namespace
}  // namespace fw
