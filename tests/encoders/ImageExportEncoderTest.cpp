// The image export encoder on small generated movies: sequences numbered in source order and upright in every writer's
// format (read back by FFmpeg), each frame with its own burned-in time, folders replaced only by complete sequences,
// and targets no picture can have.

#include "encoders/ImageExportEncoder.h"
#include "model/EncodingError.h"
#include "support/Outputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// testsrc2 at 320 × 180, 10 fps, 0.5 s (five frames that all differ), stored with a quarter-turn display matrix:
// shown as 180 × 320.
fs::path portraitClip() {
    const fs::path upright =
        test::generated("upright.mov", {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=10:duration=0.5", "-c:v",
                                        "libx264", "-pix_fmt", "yuv444p", "-qp", "0"});
    if (upright.empty()) return {};
    return test::generated("clip.mov", {"-i", upright.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"});
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

ImageExportEncoder sequenceOf(OutputCodec codec, std::shared_ptr<const PreparedFilters> filters = nullptr) {
    ImageExportEncoder encoder;
    encoder.request.codec = codec;
    encoder.request.target.filters = std::move(filters);
    encoder.asSequence = true;
    return encoder;
}

TEST(ImageExportEncoder, SequenceFramesAreNumberedInSourceOrderAndUpright) {
    const fs::path clip = portraitClip();
    ASSERT_FALSE(clip.empty());
    const auto source = test::decodedFrames(clip, "rgb24", 5, "scale=180:320");
    ASSERT_EQ(source.size(), 5u * 180 * 320 * 3);
    struct Row {
        OutputCodec codec;
        std::vector<std::string> readOptions;
        double tolerance;  // mean difference from the source's frame, in 8-bit steps
    };
    const Row rows[] = {{OutputCodec::png, {}, 3},
                        {OutputCodec::jpeg, {}, 4},
                        {OutputCodec::dpx, {}, 3},
                        // Linear light, brought back to sRGB by the reader.
                        {OutputCodec::exr, {"-apply_trc", "iec61966_2_1"}, 3}};
    for (const Row& row : rows) {
        const std::string extension(fileExtension(row.codec));
        SCOPED_TRACE(extension);
        TempDir dir;
        const fs::path folder = dir / "made/frames";  // neither folder exists yet
        std::vector<double> reports;
        sequenceOf(row.codec).encode(clip, folder, [&](double fraction) { reports.push_back(fraction); }, {});

        std::set<std::string> expected;
        for (int i = 1; i <= 5; ++i) expected.insert("clip_0000" + std::to_string(i) + "." + extension);
        ASSERT_EQ(namesIn(folder), expected);
        ASSERT_FALSE(reports.empty());
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
        EXPECT_EQ(reports.back(), 1.0);
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE(i + 1);
            const auto frame = test::decodedFrames(folder / ("clip_0000" + std::to_string(i + 1) + "." + extension),
                                                   "rgb24", 1, "scale=180:320", row.readOptions);
            ASSERT_EQ(frame.size(), 180u * 320 * 3);
            double sum = 0;
            for (std::size_t j = 0; j < frame.size(); ++j) sum += std::abs(frame[j] - source[i * frame.size() + j]);
            EXPECT_LT(sum / double(frame.size()), row.tolerance);
        }
    }
}

// A still source with the timecode burned in: the frames differ only by the
// time each one shows.
TEST(ImageExportEncoder, BurnedInTimecodeShowsEachFramesOwnTime) {
    const fs::path flat = test::generated(
        "flat.mov", {"-f", "lavfi", "-i", "color=c=0x808080:size=320x180:rate=10:duration=0.3", "-c:v", "libx264"});
    ASSERT_FALSE(flat.empty());
    auto filters = std::make_shared<PreparedFilters>();
    filters->timecode = true;
    TempDir dir;
    sequenceOf(OutputCodec::png, filters).encode(flat, dir / "tc", {}, {});
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 1; i <= 3; ++i)
        frames.push_back(test::decodedFrames(dir / ("tc/flat_0000" + std::to_string(i) + ".png"), "rgb24"));
    EXPECT_NE(frames[0], frames[1]);
    EXPECT_NE(frames[1], frames[2]);
}

// The files of a folder with a digest of their bytes.
std::map<std::string, std::size_t> contentsOf(const fs::path& folder) {
    std::map<std::string, std::size_t> contents;
    for (const auto& entry : fs::directory_iterator(folder))
        contents[entry.path().filename().string()] = std::hash<std::string>()(test::readText(entry.path()));
    return contents;
}

std::set<std::string> frameNames(int count) {
    std::set<std::string> names;
    for (int i = 1; i <= count; ++i) {
        const std::string number = std::to_string(i);
        names.insert("clip_" + std::string(5 - number.size(), '0') + number + ".png");
    }
    return names;
}

// A sequence takes its folder's place only once complete: a shorter run
// leaves none of a longer earlier run's frames, and the user's own files in
// the folder stay; a run that fails or is cancelled leaves an earlier folder
// exactly as it was, and without one, nothing at all.
TEST(ImageExportEncoder, SequenceReplacesItsFolderOnlyWhenComplete) {
    const fs::path fiveFrames = portraitClip();
    const fs::path tenFrames =
        test::generated("ten.mov", {"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=10:duration=1", "-c:v", "libx264"});
    ASSERT_FALSE(fiveFrames.empty());
    ASSERT_FALSE(tenFrames.empty());
    TempDir dir;
    const fs::path longer = dir / "long/clip.mov";  // the same name as the five frames
    fs::create_directories(longer.parent_path());
    fs::copy_file(tenFrames, longer);
    const fs::path folder = dir / "out/clip_PNG";
    const ImageExportEncoder encoder = sequenceOf(OutputCodec::png);
    encoder.encode(longer, folder, {}, {});
    ASSERT_EQ(namesIn(folder), frameNames(10));
    std::ofstream(folder / "notes.txt") << "keep";
    encoder.encode(fiveFrames, folder, {}, {});
    std::set<std::string> expected = frameNames(5);
    expected.insert("notes.txt");
    EXPECT_EQ(namesIn(folder), expected);
    EXPECT_EQ(namesIn(dir / "out"), std::set<std::string>{"clip_PNG"}) << "a staging was left";
    const auto before = contentsOf(folder);

    struct Row {
        const char* name;
        bool earlierFolder;
        EncodingError::Kind failure;  // at the first frame's progress
    };
    const Row rows[] = {{"fails over an earlier folder", true, EncodingError::Kind::writerFailed},
                        {"cancelled over an earlier folder", true, EncodingError::Kind::cancelled},
                        {"fails in new folders", false, EncodingError::Kind::writerFailed},
                        {"cancelled in new folders", false, EncodingError::Kind::cancelled}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path destination = row.earlierFolder ? folder : dir / "new/deeper/clip_PNG";
        std::stop_source stop;
        const auto failure = test::failureOf([&] {
            encoder.encode(
                longer, destination,
                [&](double) {
                    if (row.failure == EncodingError::Kind::cancelled)
                        stop.request_stop();
                    else
                        throw EncodingError::writerFailed("disk full");
                },
                {}, stop.get_token());
        });
        EXPECT_EQ(failure.kind, row.failure) << failure.message;
        if (row.earlierFolder) {
            EXPECT_EQ(contentsOf(folder), before);
            EXPECT_EQ(namesIn(dir / "out"), std::set<std::string>{"clip_PNG"});
        } else {
            EXPECT_FALSE(fs::exists(dir / "new"));
        }
    }
}

// Targets no picture can have fail the export with a message and write
// nothing; sides below the least a picture has are raised to it.
TEST(ImageExportEncoder, TargetsBeyondAnyPictureFailCleanly) {
    const fs::path clip = portraitClip();
    ASSERT_FALSE(clip.empty());
    struct Row {
        IntSize size;
        ResizeMode mode;
        bool fails;
    };
    const Row rows[] = {{{40000, 40000}, ResizeMode::aspect, true},
                        {{INT64_MAX, 1}, ResizeMode::fill, true},
                        {{-INT64_MAX, 0}, ResizeMode::fit, false}};
    for (const Row& row : rows) {
        for (const bool sequence : {false, true}) {
            SCOPED_TRACE(std::to_string(row.size.width) + (sequence ? " sequence" : " poster"));
            TempDir dir;
            ImageExportEncoder encoder = sequenceOf(OutputCodec::exr);
            encoder.asSequence = sequence;
            encoder.request.target.size = row.size;
            encoder.request.target.mode = row.mode;
            if (row.fails) {
                EXPECT_EQ(test::failureOf([&] { encoder.encode(clip, dir / "out.exr", {}, {}); }).kind,
                          EncodingError::Kind::writerFailed);
                EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{});
            } else {
                EXPECT_NO_THROW(encoder.encode(clip, dir / "out.exr", {}, {}));
            }
        }
    }
}

}  // namespace
}  // namespace fw
