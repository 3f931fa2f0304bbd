// A signal to end the built program's window mid-batch ends it as an agreed
// Quit does: the run cancelled, no partial output left in the output folder,
// the queue saved, and the status 128 + the signal. The start before it
// clears what killed processes left staged in the stores' folders. A second
// signal ends it at once, its staged outputs removed.

#include "ProgramRun.h"
#include "platform/core/AtomicFile.h"
#include "platform/core/Json.h"

#include <signal.h>
#include <string.h>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

namespace fs = std::filesystem;

using test::stagings;

TEST(QuitSignals, EndTheWindowMidBatchAsAnAgreedQuitDoes) {
    const fs::path source = test::generated(
        "long.mov", {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=20", "-c:v", "mpeg4", "-q:v", "5"});
    ASSERT_FALSE(source.empty());
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        test::TempDir home;
        const fs::path media = home / "media", data = home / "data/Framewright", config = home / "config/Framewright";
        for (const fs::path& folder : {media, data, config}) fs::create_directories(folder);
        std::vector<std::string> command = test::isolatedWindow(home);
        command.push_back("LD_PRELOAD=" FW_PRESS_ENCODE);
        command.push_back(FW_PROGRAM);
        for (const char* clip : {"one.mov", "two.mov", "three.mov"}) {
            fs::copy_file(source, media / clip);
            command.push_back((media / clip).string());
        }
        // Saves cut short by a kill (a process id Linux never hands out), and one this process is making.
        const fs::path killedSaves[] = {data / ".queue.fwpart-4194305-52817-0A1B2C3D.json",
                                        config / ".defaults.fwpart-4194305-0A1B2C3D.json"};
        for (const fs::path& file : killedSaves) std::ofstream(file) << "[";
        const fs::path saving = temporarySibling(data / "history.json");
        std::ofstream(saving) << "[";

        bool midBatch = false;
        const auto result = test::runCommand(command, [&](int process) {
            // Mid-batch once an output being written has frames in it.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!midBatch && std::chrono::steady_clock::now() < deadline) {
                midBatch = stagings(media).second > 256 * 1024;
                if (!midBatch) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ::kill(process, signal);
        });
        ASSERT_TRUE(midBatch) << result.standardError;
        EXPECT_EQ(result.exitStatus, 128 + signal) << result.standardError;
        EXPECT_EQ(stagings(media).first, std::vector<std::string>{}) << "no partial output";
        const Json queue = json::parse(test::readText(data / "queue.json"));
        EXPECT_EQ(queue.size(), 3u) << "every job kept";
        EXPECT_EQ(stagings(data).first, std::vector<std::string>{saving.filename().string()});
        EXPECT_EQ(stagings(config).first, std::vector<std::string>{});
    }
}

// A second signal ends the window at once, and what the export has staged
// goes first: an image sequence's hidden folder of frames as a movie's staged
// file. Both signals are sent before the first can cancel the export; two
// threads may take them at once, so either may be the second and give the
// status.
TEST(QuitSignals, ASecondSignalRemovesAStagedImageSequence) {
    const fs::path source = test::generated(
        "sequence.mov", {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=20", "-c:v", "mpeg4"});
    ASSERT_FALSE(source.empty());
    test::TempDir home;
    const fs::path media = home / "media";
    const auto [result, midExport] = test::runUntil(
        test::encodingWindow(home, source, {"clip.mov"}, {"FW_PRESS_ENCODE_CODEC=PNG", "FW_PRESS_ENCODE_SEQUENCE=1"}),
        [&] {
            const auto staged = stagings(media).first;
            std::error_code error;
            return staged.size() == 1 && std::distance(fs::directory_iterator(media / staged[0], error), {}) >= 20;
        },
        [](int process) {
            ::kill(process, SIGINT);
            ::kill(process, SIGTERM);
        });
    ASSERT_TRUE(midExport) << result.standardError;
    EXPECT_TRUE(result.exitStatus == 128 + SIGTERM || result.exitStatus == 128 + SIGINT)
        << result.exitStatus << result.standardError;
    EXPECT_EQ(stagings(media).first, std::vector<std::string>{}) << "no partial sequence";
}

}  // namespace
}  // namespace fw::app
