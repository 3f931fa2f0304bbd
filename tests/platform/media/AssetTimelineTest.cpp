// Sources whose container clock does not start at zero (MPEG-TS, movies remuxed with their original times or offset,
// clocks that wrap) are read on a timeline that starts at zero, with sound and picture still in step.

#include "platform/media/Asset.h"
#include "platform/media/AssetReader.h"
#include "platform/media/MediaTestMedia.h"
#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>

namespace fw::media {
namespace {

using test::generated;

// 1 s, 30 fps, 160×120 testsrc2 with a 32×32 box at the top left that turns
// from black to white at 0.5 s, and a 1 kHz tone that starts at 0.5 s.
std::vector<std::string> markedSource() {
    return test::arguments(
        "-f lavfi -i testsrc2=s=160x120:r=30:d=1,"
        "drawbox=x=0:y=0:w=32:h=32:color=black:t=fill:enable='lt(t,0.5)',"
        "drawbox=x=0:y=0:w=32:h=32:color=white:t=fill:enable='gte(t,0.5)' "
        "-f lavfi -i aevalsrc='if(gte(t,0.5),0.5*sin(2*PI*1000*t),0)':s=48000:d=1 "
        "-c:v libx264 -preset ultrafast -bf 2 -pix_fmt yuv420p -c:a aac -shortest");
}

std::filesystem::path markedMP4() { return generated("marked.mp4", markedSource()); }
// The same encode in MPEG-TS: its clock starts at about 1.4 s.
std::filesystem::path markedTS() { return generated("marked.ts", markedSource()); }
// The MP4 shifted by 2 s (an edit list that starts late).
std::filesystem::path offsetMP4() {
    return generated("offset.mp4", {"-i", markedMP4().string(), "-c", "copy", "-output_ts_offset", "2"});
}
// The same encode in MPEG-TS with a clock that wraps 0.3 s in, where the 33-bit 90 kHz clock wraps: the library
// counts the times before the wrap from below zero.
std::filesystem::path wrappedTS() {
    auto arguments = markedSource();
    arguments.insert(arguments.end(), {"-muxdelay", "0", "-muxpreload", "0", "-output_ts_offset",
                                       std::to_string(8589934592.0 / 90000 - 0.3), "-f", "mpegts"});
    return generated("wrapped.ts", arguments);
}
// The MPEG-TS remuxed to Matroska keeping its times (the duration counts from zero).
std::filesystem::path copiedTimesMKV() {
    return generated("copyts.mkv", {"-copyts", "-i", markedTS().string(), "-c", "copy"});
}

// 3 s, 30 fps, 160×120 testsrc2 with a key frame every half second, and sound.
std::vector<std::string> shortGopSource() {
    return test::arguments(
        "-f lavfi -i testsrc2=s=160x120:r=30:d=3 -f lavfi -i sine=sample_rate=48000:d=3 -c:v libx264 "
        "-preset ultrafast -bf 2 -g 15 -pix_fmt yuv420p -c:a aac -shortest");
}

struct Read {
    std::vector<double> videoTimes;
    std::vector<std::vector<std::uint8_t>> pictures;
    double videoOnset = -1;  // first picture with the white box
    double audioFirst = -1;
    double audioOnset = -1;  // first loud sample
    std::int64_t audioFrames = 0;
    bool completed = false;
};

// `everyTrack`: the subtitle and data tracks are read too, as stored.
Read readAll(const AssetRef& asset, std::optional<TimeRange> range = std::nullopt, bool everyTrack = false) {
    Read read;
    AssetReader reader(asset);
    if (range) reader.setTimeRange(*range);
    auto video = reader.addVideoOutput(asset->tracks(MediaType::video).at(0));
    auto audio = reader.addAudioOutput(asset->tracks(MediaType::audio).at(0), {48000.0, 1, AudioSampleFormat::float32});
    std::vector<std::shared_ptr<AssetReaderOutput>> others;
    for (const auto& track : asset->tracks())
        if (everyTrack && track.mediaType != MediaType::video && track.mediaType != MediaType::audio)
            others.push_back(reader.addPassthroughOutput(track));
    if (!video || !audio || !reader.startReading()) return read;
    while (auto sample = video->copyNextSampleBuffer()) {
        const double t = sample->presentationTime().seconds();
        const auto& image = *sample->imageBuffer();
        const std::uint8_t* pixel = image.row(16) + 4 * 16;
        if (read.videoOnset < 0 && pixel[0] > 200 && pixel[1] > 200 && pixel[2] > 200) read.videoOnset = t;
        read.videoTimes.push_back(t);
        std::vector<std::uint8_t> bytes;
        for (int y = 0; y < image.height(); ++y)
            bytes.insert(bytes.end(), image.row(y), image.row(y) + 4 * image.width());
        read.pictures.push_back(std::move(bytes));
    }
    while (auto sample = audio->copyNextSampleBuffer()) {
        const double t = sample->presentationTime().seconds();
        if (read.audioFirst < 0) read.audioFirst = t;
        const auto* samples = reinterpret_cast<const float*>(sample->data().data());
        for (int i = 0; i < sample->sampleCount() && read.audioOnset < 0; ++i)
            if (std::fabs(samples[i]) > 0.25f) read.audioOnset = t + i / 48000.0;
        read.audioFrames += sample->sampleCount();
    }
    for (const auto& other : others)
        while (other && other->copyNextSampleBuffer()) {}
    read.completed = reader.status() == AssetReader::Status::completed;
    return read;
}

double meanDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return std::numeric_limits<double>::infinity();
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

TEST(AssetTimeline, ContainersThatStartLateAreReadFromZeroInStep) {
    ASSERT_FALSE(markedTS().empty());
    const Read reference = readAll(Asset::open(markedMP4()));
    ASSERT_TRUE(reference.completed);
    EXPECT_NEAR(reference.videoOnset, 0.5, 1e-3);
    EXPECT_NEAR(reference.audioOnset, 0.5, 0.01);

    for (const auto& path : {markedTS(), offsetMP4(), copiedTimesMKV(), wrappedTS()}) {
        SCOPED_TRACE(path.filename().string());
        const auto probed = fw::test::probe(path);
        const double storedVideo = fw::test::number(fw::test::streamOf(probed, "video")["start_time"]),
                     storedAudio = fw::test::number(fw::test::streamOf(probed, "audio")["start_time"]);
        ASSERT_GT(std::fabs(std::min(storedVideo, storedAudio)), 0.25) << "the clip should not start at zero";
        auto asset = Asset::open(path);
        EXPECT_NEAR(asset->duration().seconds(), 1.0, 0.05);
        const auto videoTrack = asset->tracks(MediaType::video).at(0);
        const auto audioTrack = asset->tracks(MediaType::audio).at(0);
        EXPECT_NEAR(videoTrack.timeRange.start.seconds(), std::max(storedVideo - storedAudio, 0.0), 2e-3);
        EXPECT_NEAR(audioTrack.timeRange.start.seconds(), std::max(storedAudio - storedVideo, 0.0), 2e-3);
        EXPECT_LT(videoTrack.timeRange.end().seconds(), 1.1);

        const Read read = readAll(asset);
        EXPECT_TRUE(read.completed);
        ASSERT_EQ(read.videoTimes.size(), 30u);
        EXPECT_GE(read.videoTimes.front(), 0.0);
        EXPECT_LT(read.videoTimes.front(), 1 / 30.0);
        EXPECT_GE(read.audioFirst, 0.0);
        EXPECT_LT(read.audioFirst, 0.03);
        // The streams keep the distance between them that the file gives.
        EXPECT_NEAR(read.videoTimes.front() - read.audioFirst, storedVideo - storedAudio, 2e-3);
        EXPECT_NEAR(read.videoOnset, 0.5, 0.03);
        EXPECT_NEAR(read.audioOnset, read.videoOnset, 0.01);
        for (std::size_t i = 0; i < read.pictures.size(); ++i)
            EXPECT_LT(meanDifference(read.pictures[i], reference.pictures[i]), 1.0) << "frame " << i;
    }
}

// Times below zero in a clock that does not wrap are the file's own, and what else is read beside the pictures and
// sound leaves where a joined recording begins to them: every picture at its place in the file's timeline.
TEST(AssetTimeline, PicturesKeepTheirPlaceWhateverElseTheFileHolds) {
    const fw::test::TempDir dir;
    const auto cues = (dir / "cues.srt").string();
    // A cue that begins after the pictures and sound end.
    std::ofstream(cues) << "1\n00:00:01,500 --> 00:00:02,500\nAfter\n";
    // Recorded with the clock at `clock` s (and 1.4 s more).
    const auto cued = [&](double clock) {
        auto arguments = markedSource();
        arguments.insert(arguments.begin() + 8, {"-i", cues, "-map", "0", "-map", "1", "-map", "2", "-c:s", "text"});
        arguments.insert(arguments.end(), {"-output_ts_offset", std::to_string(clock), "-f", "mpegts"});
        return fw::test::readFile(generated("cued.ts", arguments));
    };
    // The second one's clock started again.
    auto joined = cued(3);
    const auto second = cued(0);
    joined.insert(joined.end(), second.begin(), second.end());
    fw::test::writeFile(dir / "joined.ts", joined);
    const struct Row {
        const char* name;
        std::filesystem::path source;
        bool mpegClock;  // the timeline starts where the file's clock does
        std::size_t recordings;
    } rows[] = {
        // The sound's pre-roll, stored before zero.
        {"Matroska whose sound starts below zero",
         generated("preroll.mkv", {"-i", markedMP4().string(), "-c", "copy", "-avoid_negative_ts", "disabled"}), false,
         1},
        {"two MPEG-TS recordings joined, a cue read beside them", dir / "joined.ts", true, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto probed = fw::test::probe(row.source);
        const double firstPicture = fw::test::number(fw::test::streamOf(probed, "video")["start_time"]) -
                                    (row.mpegClock ? fw::test::number(probed["format"]["start_time"]) : 0.0);
        if (!row.mpegClock) {
            ASSERT_LT(fw::test::number(probed["format"]["start_time"]), -0.01);
        }
        const Read read = readAll(Asset::open(row.source), std::nullopt, true);
        EXPECT_TRUE(read.completed);
        ASSERT_EQ(read.videoTimes.size(), 30 * row.recordings);
        EXPECT_NEAR(read.videoTimes.front(), firstPicture, 2e-3);
        EXPECT_NEAR(read.videoOnset, firstPicture + 0.5, 2e-3);
        // A joined recording begins after the sound before it, which runs a little past its pictures.
        for (std::size_t i = 1; i < read.videoTimes.size(); ++i)
            EXPECT_NEAR(read.videoTimes[i] - read.videoTimes[i - 1], 1 / 30.0, 0.01) << "frame " << i;
    }
}

TEST(AssetTimeline, RangesReadWhatIsShownThere) {
    const Read reference = readAll(Asset::open(generated("gop.mp4", shortGopSource())));
    ASSERT_EQ(reference.pictures.size(), 90u);
    auto wrapped = shortGopSource();
    wrapped.insert(wrapped.end(), {"-muxdelay", "0", "-muxpreload", "0", "-output_ts_offset",
                                   std::to_string(8589934592.0 / 90000 - 1.5), "-f", "mpegts"});
    // Seeking in MPEG-TS lands on any picture, here within a group whose key frame lies after the range start;
    // across the wrap of its clock (1.5 s in) too.
    for (const auto& path : {generated("gop.ts", shortGopSource()), generated("wrapped-gop.ts", wrapped)}) {
        SCOPED_TRACE(path.filename().string());
        auto asset = Asset::open(path);
        const double videoStart = asset->tracks(MediaType::video).at(0).timeRange.start.seconds();
        const Read read = readAll(asset, TimeRange{MediaTime(126, 60), MediaTime(18, 60)});  // 2.1 – 2.4 s
        ASSERT_TRUE(read.completed);
        ASSERT_FALSE(read.videoTimes.empty());
        // Pictures whose display reaches into the range, and only those.
        EXPECT_LE(read.videoTimes.front(), 2.1);
        EXPECT_GT(read.videoTimes.front() + 1 / 30.0, 2.1);
        EXPECT_LT(read.videoTimes.back(), 2.4);
        EXPECT_GE(read.videoTimes.back() + 1 / 30.0, 2.4 - 1e-3);
        for (std::size_t i = 0; i < read.pictures.size(); ++i) {
            // The MP4 frame that looks the same is the one at the same place in the clip.
            std::size_t best = 0;
            for (std::size_t j = 1; j < reference.pictures.size(); ++j)
                if (meanDifference(read.pictures[i], reference.pictures[j]) <
                    meanDifference(read.pictures[i], reference.pictures[best]))
                    best = j;
            EXPECT_LT(meanDifference(read.pictures[i], reference.pictures[best]), 1.0);
            EXPECT_NEAR(read.videoTimes[i], videoStart + reference.videoTimes[best], 1e-3) << "frame " << i;
        }
        EXPECT_DOUBLE_EQ(read.audioFirst, 2.1);
        EXPECT_EQ(read.audioFrames, 14400);

        // Stored samples start from the key frame before the range.
        AssetReader passthrough(asset);
        passthrough.setTimeRange({MediaTime(126, 60), MediaTime(18, 60)});
        auto stored = passthrough.addPassthroughOutput(asset->tracks(MediaType::video).at(0));
        ASSERT_TRUE(stored && passthrough.startReading());
        auto first = stored->copyNextSampleBuffer();
        ASSERT_TRUE(first);
        EXPECT_TRUE(first->isKeyFrame());
        EXPECT_LE(first->presentationTime().seconds(), 2.1);
        EXPECT_GT(first->presentationTime().seconds(), 1.0);

        // A range past the end reads nothing, and says so without a failure.
        const Read beyond = readAll(asset, TimeRange{MediaTime(5, 1), MediaTime(1, 1)});
        EXPECT_TRUE(beyond.completed);
        EXPECT_TRUE(beyond.videoTimes.empty());
        EXPECT_EQ(beyond.audioFrames, 0);
    }
}

}  // namespace
}  // namespace fw::media
