// The built program's Quit saves what failed to save while it ran. With the
// data and settings folders blocked (a file where each folder should be), a
// signal says on standard error, one line for each store, which file could
// not be saved and why. Unblocked before the end, a signal's Quit saves the
// same queue and history as a Quit the user agreed to. An agreed Quit that
// still cannot save asks once.

#include "ProgramRun.h"
#include "model/EncodeHistory.h"
#include "model/QueuePersistence.h"
#include "platform/core/Json.h"

#include <signal.h>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

namespace fs = std::filesystem;

struct Home {
    test::TempDir home;
    fs::path media = home / "media", data = home / "data/Framewright", config = home / "config/Framewright";
};

// Whether an output being written in `folder` has frames in it.
bool outputUnderWay(const fs::path& folder) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (entry->path().filename().string().find(".fwpart-") != std::string::npos &&
            entry->file_size(error) > 256 * 1024)
            return true;
    return false;
}

// The built program encoding three long clips in `home`, with `settings`
// added to its environment; mid-batch, `end` gets its process id.
test::CommandResult endMidBatch(const Home& home, const std::vector<std::string>& settings,
                                const std::function<void(int)>& end) {
    const fs::path source = test::generated(
        "long.mov", {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=20", "-c:v", "mpeg4", "-q:v", "5"});
    EXPECT_FALSE(source.empty());
    std::vector<std::string> command = test::isolatedWindow(home.home);
    command.insert(command.end(), settings.begin(), settings.end());
    command.push_back("LD_PRELOAD=" FW_PRESS_ENCODE);
    command.push_back(FW_PROGRAM);
    for (const char* clip : {"one.mov", "two.mov", "three.mov"}) {
        fs::copy_file(source, home.media / clip);
        command.push_back((home.media / clip).string());
    }
    bool midBatch = false;
    auto result = test::runCommand(command, [&](int process) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!(midBatch = outputUnderWay(home.media)) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        end(process);
    });
    EXPECT_TRUE(midBatch) << result.standardError;
    return result;
}

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

std::vector<std::string> programLines(const std::string& text) { return linesStarting(text, "Framewright: "); }
// The questions the user (PressEncode) answered, in order.
std::vector<std::string> answered(const std::string& text) { return linesStarting(text, "answered "); }

TEST(QuitSaves, ASignalSaysWhichFilesCouldNotBeSavedAndWhy) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        Home home;
        fs::create_directories(home.media);
        for (const fs::path& folder : {home.data, home.config}) {
            fs::create_directories(folder.parent_path());
            std::ofstream(folder) << "";
        }
        const auto result = endMidBatch(home, {}, [signal](int process) { ::kill(process, signal); });
        EXPECT_EQ(result.exitStatus, 128 + signal);
        // The queue failed when the files were added, the settings at the first start's mark.
        EXPECT_EQ(programLines(result.standardError),
                  (std::vector<std::string>{"Framewright: the queue could not be saved to " +
                                                (home.data / "queue.json").string() + ": Not a directory.",
                                            "Framewright: settings and presets could not be saved to " +
                                                (home.config / "defaults.json").string() + ": Not a directory."}))
            << result.standardError;
    }
}

// A Quit agreed to mid-batch, with the data folder blocked throughout: once
// the run is wound down, the queue still cannot be saved, so the user is asked
// once more, and "Quit Anyway" quits.
TEST(QuitSaves, AnAgreedQuitAsksOnceWhenTheQueueStillCannotBeSaved) {
    Home home;
    fs::create_directories(home.media);
    fs::create_directories(home.data.parent_path());
    std::ofstream(home.data) << "";
    const fs::path told = home.home / "quit-now";
    const auto result = endMidBatch(home, {"FW_QUIT_WHEN=" + told.string()}, [&](int) { std::ofstream(told) << ""; });
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(answered(result.standardError),
              (std::vector<std::string>{"answered quitQuestion", "answered unsavedQuitQuestion"}))
        << result.standardError;
    EXPECT_EQ(programLines(result.standardError), std::vector<std::string>{}) << "told in the question";
}

// The queue file's jobs as "source path relative to the home, enabled, outputs".
std::vector<std::string> savedQueue(const Home& home) {
    std::vector<std::string> jobs;
    for (const auto& job : QueuePersistence::load(home.data))
        jobs.push_back(fs::relative(job->sourceURL(), home.home.path()).string() + (job->enabled() ? " on " : " off ") +
                       std::to_string(job->outputs().size()));
    return jobs;
}

// Blocked when the files are added, the data folder is freed mid-batch; then
// the program ends by a signal, or by Quit with the user agreeing to cancel.
TEST(QuitSaves, ASignalSavesWhatAnAgreedQuitSaves) {
    struct Ending {
        const char* name;
        bool agreed;  // else SIGTERM
        std::vector<std::string> queue = {};
        std::size_t historyRecords = 0;
        std::vector<fs::path> media = {};
    } endings[] = {{"SIGTERM", false}, {"agreed Quit", true}};
    for (Ending& ending : endings) {
        SCOPED_TRACE(ending.name);
        Home home;
        fs::create_directories(home.media);
        fs::create_directories(home.config);
        fs::create_directories(home.data.parent_path());
        std::ofstream(home.data) << "";
        const fs::path told = home.home / "quit-now";
        const auto result = endMidBatch(home, {"FW_QUIT_WHEN=" + told.string()}, [&](int process) {
            fs::remove(home.data);
            if (ending.agreed)
                std::ofstream(told) << "";
            else
                ::kill(process, SIGTERM);
        });
        EXPECT_EQ(result.exitStatus, ending.agreed ? 0 : 128 + SIGTERM) << result.standardError;
        EXPECT_EQ(programLines(result.standardError), std::vector<std::string>{}) << "everything saved";
        EXPECT_EQ(answered(result.standardError),
                  ending.agreed ? std::vector<std::string>{"answered quitQuestion"} : std::vector<std::string>{});
        ending.queue = savedQueue(home);
        ending.historyRecords = EncodeHistoryStore(home.data).records().size();
        for (const auto& entry : fs::directory_iterator(home.media)) ending.media.push_back(entry.path().filename());
        std::sort(ending.media.begin(), ending.media.end());
    }
    EXPECT_EQ(endings[0].queue,
              (std::vector<std::string>{"media/one.mov on 0", "media/two.mov on 0", "media/three.mov on 0"}));
    EXPECT_EQ(endings[0].queue, endings[1].queue);
    EXPECT_EQ(endings[0].historyRecords, endings[1].historyRecords);
    EXPECT_EQ(endings[0].media, endings[1].media);
}

}  // namespace
}  // namespace fw::app
