// Pictures that cannot be read, and folders, pipes and devices, given to the built program on each route: the image routes (GIF, PNG),
// a movie route (H.264, which makes a clip of a still) and the texture clips, named as what they are or as a movie.
// Each fails its input with one clear message, writes nothing and, however large the picture its header claims,
// costs little memory.

#include "support/Outputs.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

// Far above what a program that never decodes the claimed picture needs, far below the 768 MiB a 16000 x 16000 RGB
// decode takes.
constexpr long kMostKilobytes = 100 * 1024;

test::CommandResult encode(const std::string& codec, const fs::path& input, const fs::path& output) {
    return test::runCommand({FW_PROGRAM, "--encode", "--codec", codec, "--output", output.string(), input.string()});
}

TEST(ImageInputs, PicturesThatCannotBeDecodedFailInLittleMemoryOnEveryRoute) {
    struct Row {
        const char* seed;
        const char* name;  // what the input is called
        const char* codec;
        const char* reason;  // after "Could not read the image “<name>”: "
    } rows[] = {
        // 69 bytes claiming 16000 x 16000: within the limits, so the decoder finds out that no pixels follow.
        {"declares_16000x16000.png", "huge.png", "gif", "the PNG data is damaged"},
        {"declares_16000x16000.png", "huge.png", "png", "the PNG data is damaged"},
        {"declares_16000x16000.png", "huge.png", "h264", "the PNG data is damaged"},
        {"declares_16000x16000.png", "huge.mov", "gif", "the PNG data is damaged"},
        {"declares_16000x16000.png", "huge.mov", "png", "the PNG data is damaged"},
        {"declares_16000x16000.png", "huge.mov", "h264", "the PNG data is damaged"},
        {"declares_16000x16000.png", "huge", "hap", "the PNG data is damaged"},
        // Beyond the limits: refused from the header.
        {"declares_40000x40000.png", "huge.mp4", "h264", "the picture is too large (40000 \u00D7 40000 pixels"},
        {"declares_60000x60000.jpg", "huge.mov", "gif", "the picture is too large (60000 \u00D7 60000 pixels"},
        {"declares_65535x65535.gif", "huge.mov", "png", "the picture is too large (65535 \u00D7 65535 pixels"},
        {"declares_50000x50000.webp", "huge.mkv", "h264", "the picture is too large (50000 \u00D7 50000 pixels"},
        {"declares_100000x100000.tiff", "huge.tif", "gif", "the picture is too large (100000 \u00D7 100000 pixels"},
        {"declares_100000x100000.heic", "huge.mov", "dxv3", "the picture is too large (100000 \u00D7 100000 pixels"},
        {"declares_100000x100000.heic", "huge.heic", "jpeg", "the picture is too large (100000 \u00D7 100000 pixels"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.name << " to " << row.codec);
        test::TempDir dir;
        fs::create_directory(dir / "out");
        fs::copy_file(fs::path(FW_IMAGE_SEEDS) / row.seed, dir / row.name);
        const auto result = encode(row.codec, dir / row.name, dir / "out");
        EXPECT_EQ(result.exitStatus, 1);
        // A GIF is a movie: named as one, its open failure is the movie routes' own.
        const std::string heading = fs::path(row.seed).extension() == ".gif" ? "" : "The image could not be decoded. ";
        EXPECT_TRUE(result.standardError.starts_with("\u2717 " + std::string(row.name) + ": " + heading +
                                                     "Could not read the image \u201c" + row.name +
                                                     "\u201d: " + row.reason))
            << result.standardError;
        EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1);
        EXPECT_LT(result.peakResidentKilobytes, kMostKilobytes);
        EXPECT_EQ(test::entriesIn(dir / "out"), 0);
    }
}

// A damaged picture says so in the same words on every route.
TEST(ImageInputs, DamagedPicturesSayTheImageCouldNotBeDecoded) {
    test::TempDir dir;
    fs::create_directory(dir / "out");
    const auto whole = test::readFile(test::generated(
        "whole.png", {"-f", "lavfi", "-i", "testsrc2=size=96x64", "-frames:v", "1", "-pix_fmt", "rgb24"}));
    test::writeFile(dir / "cut.png", std::vector<std::uint8_t>(whole.begin(), whole.begin() + whole.size() / 2));
    for (const char* codec : {"gif", "png", "jpeg", "h264", "prores", "hap", "dxv2"}) {
        SCOPED_TRACE(codec);
        const auto result = encode(codec, dir / "cut.png", dir / "out");
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_TRUE(result.standardError.starts_with(
            "\u2717 cut.png: The image could not be decoded. Could not read the image \u201ccut.png\u201d: the PNG "
            "data is damaged"))
            << result.standardError;
        EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1);
        EXPECT_EQ(test::entriesIn(dir / "out"), 0);
    }
}

// A file that is neither a movie nor a picture, named as a movie, is one that could not be opened, in the same words
// on every route.
TEST(ImageInputs, AnUnreadableMovieSaysSoInOneLineOnEveryRoute) {
    test::TempDir dir;
    fs::create_directory(dir / "out");
    std::string noise(5000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    std::ofstream(dir / "garbled.mov", std::ios::binary) << noise;
    for (const char* codec : {"png", "jpeg", "heic", "gif", "h264", "prores", "hap", "dxv3"}) {
        SCOPED_TRACE(codec);
        const auto result = encode(codec, dir / "garbled.mov", dir / "out");
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardError,
                  "\u2717 garbled.mov: Could not open \u201cgarbled.mov\u201d: Invalid data found when processing "
                  "input\n");
        EXPECT_EQ(test::entriesIn(dir / "out"), 0);
    }
}

TEST(ImageInputs, AFolderIsRefusedAsAFolderOnEveryRoute) {
    test::TempDir dir;
    fs::create_directory(dir / "out");
    for (const char* name : {"holiday.png", "holiday.mov", "holiday"}) {
        fs::create_directory(dir / name);
        for (const char* codec : {"gif", "png", "jpeg", "h264", "prores", "hap", "dxv3"}) {
            SCOPED_TRACE(testing::Message() << name << " to " << codec);
            const auto result = encode(codec, dir / name, dir / "out");
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.standardError, "\u2717 " + std::string(name) + ": Reading failed: \u201c" + name +
                                                "\u201d is a folder, not a file\n");
            EXPECT_EQ(test::entriesIn(dir / "out"), 0);
        }
    }
}

// Named pipes and devices, among them a link named as a movie: refused for what they are before anything opens them
// (opening a pipe would wait for a writer, and a device would be read without end), on every route. A run that
// still hangs is ended after 30 s, and fails the test.
TEST(ImageInputs, PipesAndDevicesAreRefusedAsWhatTheyAreOnEveryRoute) {
    test::TempDir dir;
    fs::create_directory(dir / "out");
    ASSERT_EQ(::mkfifo((dir / "feed.mov").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "feed").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "tape.mov");
    struct Row {
        fs::path input;
        const char* line;
    } rows[] = {
        {dir / "feed.mov",
         "\u2717 feed.mov: Reading failed: \u201cfeed.mov\u201d is a named pipe (FIFO), not a file\n"},
        {dir / "feed", "\u2717 feed: Reading failed: \u201cfeed\u201d is a named pipe (FIFO), not a file\n"},
        {"/dev/zero", "\u2717 zero: Reading failed: \u201czero\u201d is a device, not a file\n"},
        {"/dev/null", "\u2717 null: Reading failed: \u201cnull\u201d is a device, not a file\n"},
        {dir / "tape.mov", "\u2717 tape.mov: Reading failed: \u201ctape.mov\u201d is a device, not a file\n"},
    };
    for (const Row& row : rows) {
        for (const char* codec : {"h264", "png", "gif", "hap"}) {
            SCOPED_TRACE(testing::Message() << row.input << " to " << codec);
            std::mutex mutex;
            std::condition_variable ended;
            bool done = false;
            std::thread watchdog;
            const auto result = test::runCommand(
                {FW_PROGRAM, "--encode", "--codec", codec, "--output", (dir / "out").string(), row.input.string()},
                [&](int pid) {
                    watchdog = std::thread([&, pid] {
                        std::unique_lock lock(mutex);
                        if (!ended.wait_for(lock, std::chrono::seconds(30), [&] { return done; })) ::kill(pid, SIGKILL);
                    });
                });
            {
                std::lock_guard lock(mutex);
                done = true;
            }
            ended.notify_all();
            if (watchdog.joinable()) watchdog.join();
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.standardOutput, "");
            EXPECT_EQ(result.standardError, row.line);
            EXPECT_EQ(test::entriesIn(dir / "out"), 0);
        }
    }
}

}  // namespace
}  // namespace fw
