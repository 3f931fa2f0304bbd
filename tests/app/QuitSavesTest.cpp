// The built program's Quit saves what failed to save while it ran. With the
// data and settings folders blocked (a file where each folder should be), a
// signal says on standard error, one line for each store, which file could
// not be saved and why. Unblocked before the end, a signal's Quit saves the
// same queue and history as a Quit the user agreed to. An agreed Quit that
// still cannot save asks once.

#include "ProgramRun.h"
#include "model/EncodeHistory.h"
#include "model/QueuePersistence.h"

#include <signal.h>
#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

namespace fs = std::filesystem;

// The lines of `text` that start with `prefix`.
std::vector<std::string> linesStarting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
}

// Three long clips encoding, ended mid-batch by a signal or by Quit, with
// PressEncode agreeing to each question and saying which it answered.
TEST(QuitSaves, AQuitBySignalOrAgreedSavesWhatItCanAndTellsWhatItCannot) {
    const fs::path source = test::generated(
        "long.mov", {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=20", "-c:v", "mpeg4", "-q:v", "5"});
    ASSERT_FALSE(source.empty());
    const struct Row {
        const char* name;
        int signal;  // 0: Quit
        bool freed;  // the folders unblocked just before the end
        std::vector<std::string> answered;
    } rows[] = {
        {"SIGTERM", SIGTERM, false, {}},
        {"SIGINT", SIGINT, false, {}},
        {"SIGHUP", SIGHUP, false, {}},
        // Wound down, the run's queue still cannot be saved: asked once more, and "Quit Anyway" quits.
        {"Quit", 0, false, {"answered quitQuestion", "answered unsavedQuitQuestion"}},
        {"SIGTERM, freed", SIGTERM, true, {}},
        {"Quit, freed", 0, true, {"answered quitQuestion"}},
    };
    std::vector<std::vector<std::string>> freedLeft;  // the history's size and the media folder, for each freed row
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir home;
        const fs::path data = home / "data/Framewright", settings = home / "config/Framewright";
        for (const fs::path& folder : {data, settings}) {
            fs::create_directories(folder.parent_path());
            std::ofstream(folder) << "";
        }
        const fs::path told = home / "quit-now";
        const auto [result, midBatch] = test::runUntil(
            test::encodingWindow(home, source, {"one.mov", "two.mov", "three.mov"}, {"FW_QUIT_WHEN=" + told.string()}),
            [&] { return test::stagings(home / "media").second > 256 * 1024; },
            [&](int process) {
                if (row.freed)
                    for (const fs::path& folder : {data, settings}) fs::remove(folder);
                if (row.signal != 0)
                    ::kill(process, row.signal);
                else
                    std::ofstream(told) << "";
            });
        ASSERT_TRUE(midBatch) << result.standardError;
        EXPECT_EQ(result.exitStatus, row.signal != 0 ? 128 + row.signal : 0) << result.standardError;
        EXPECT_EQ(linesStarting(result.standardError, "answered "), row.answered) << result.standardError;
        // The queue failed when the files were added, the settings at the first start's mark.
        std::vector<std::string> unsaved;
        if (row.signal != 0 && !row.freed)
            unsaved = {
                "Framewright: the queue could not be saved to " + (data / "queue.json").string() + ": Not a directory.",
                "Framewright: settings and presets could not be saved to " + (settings / "defaults.json").string() +
                    ": Not a directory."};
        EXPECT_EQ(linesStarting(result.standardError, "Framewright: "), unsaved) << result.standardError;
        if (!row.freed) continue;
        std::vector<std::string> queue, left{std::to_string(EncodeHistoryStore(data).records().size())};
        for (const auto& job : QueuePersistence::load(data))
            queue.push_back(job->sourceURL().filename().string() + (job->enabled() ? " on " : " off ") +
                            std::to_string(job->outputs().size()));
        EXPECT_EQ(queue, (std::vector<std::string>{"one.mov on 0", "two.mov on 0", "three.mov on 0"}));
        for (const auto& entry : fs::directory_iterator(home / "media")) left.push_back(entry.path().filename());
        std::sort(left.begin() + 1, left.end());
        freedLeft.push_back(left);
    }
    ASSERT_EQ(freedLeft.size(), 2u);
    EXPECT_EQ(freedLeft[0], freedLeft[1]) << "a signal leaves what an agreed Quit leaves";
}

}  // namespace
}  // namespace fw::app
