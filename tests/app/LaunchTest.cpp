// Start-up: which mode the arguments select, the command-line mode without
// any display, and the single-instance hand-over.

#include "UiTestSupport.h"
#include "app/ApplicationIdentity.h"
#include "app/LaunchArguments.h"
#include "app/SingleInstance.h"
#include "support/TestSupport.h"

#include <QSignalSpy>

#include <fstream>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(Launch, OnlyTheExactWordAfterTheProgramPathSelectsTheCommandLine) {
    const struct {
        std::vector<std::string> arguments;
        bool selects;
    } rows[] = {
        {{"framewright", "--encode", "a.mov"}, true},
        {{"framewright", "a.mov", "--codec", "h264", "--encode"}, true},
        {{"--encode"}, false},
        {{"--encode", "a.mov"}, false},
        {{"framewright", "encode", "a.mov"}, false},
        {{"framewright", "-encode", "a.mov"}, false},
        {{"framewright", "--encode=x", "a.mov"}, false},
        {{"framewright", "--ENCODE", "a.mov"}, false},
        {{"framewright", " --encode"}, false},
        {{"framewright"}, false},
    };
    for (const auto& row : rows) EXPECT_EQ(selectsCommandLine(row.arguments), row.selects) << row.arguments.at(0);
}

// The runner works with no display, no platform plug-in named and an empty
// home, and the first run of any mode performs the migration.
TEST(Launch, CommandLineModeNeedsNoDisplayAndMigratesFirst) {
    TempDir home;
    const fs::path old = home / ".var/app" / kApplicationId / "data/Framewright";
    fs::create_directories(old);
    std::ofstream(old / "queue.json") << "[]";
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=0.3", "-c:v", "libx264",
                              "-pix_fmt", "yuv420p", (home / "clip.mp4").string()}));
    std::ofstream(home / "broken.mov") << "not a movie";
    // No display, no platform plug-in named, and a home of its own.
    std::vector<std::string> environment = {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"};
    environment.push_back("HOME=" + home.path().string());
    environment.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
    environment.push_back("XDG_DATA_HOME=" + (home / "data").string());
    const std::pair<const char*, int> rows[] = {{"clip.mp4", 0}, {"broken.mov", 1}};
    for (const auto& [input, status] : rows) {
        auto command = environment;
        command.insert(command.end(), {FW_PROGRAM, "--encode", "--codec", "h264", "--output", home.path().string(),
                                       (home / input).string()});
        const auto result = test::runCommand(command);
        EXPECT_EQ(result.exitStatus, status) << result.standardError;
    }
    EXPECT_FALSE(test::ffprobeJson(home / "clip_H264.mp4").empty());
    EXPECT_TRUE(fs::exists(home / "data/Framewright/queue.json")) << "the runner never writes the queue";
}

// Any start of the window without a display says how to go on and exits 2,
// instead of the windowing library aborting the process.
TEST(Launch, TheWindowWithoutADisplaySaysSoAndPointsToTheCommandLine) {
    TempDir home;
    const std::vector<std::string> environment = {"env",
                                                  "-u",
                                                  "DISPLAY",
                                                  "-u",
                                                  "WAYLAND_DISPLAY",
                                                  "-u",
                                                  "QT_QPA_PLATFORM",
                                                  "HOME=" + home.path().string(),
                                                  "XDG_CONFIG_HOME=" + (home / "config").string(),
                                                  "XDG_DATA_HOME=" + (home / "data").string(),
                                                  "XDG_RUNTIME_DIR=" + home.path().string()};
    const std::vector<std::string> rows[] = {{}, {"--help"}, {(home / "clip.mov").string()}};
    for (const auto& arguments : rows) {
        auto command = environment;
        command.push_back(FW_PROGRAM);
        command.insert(command.end(), arguments.begin(), arguments.end());
        const auto result = test::runCommand(command);
        SCOPED_TRACE(arguments.empty() ? std::string("no arguments") : arguments.front());
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_NE(result.standardError.find("the window needs a display"), std::string::npos) << result.standardError;
        EXPECT_NE(result.standardError.find("--encode"), std::string::npos) << result.standardError;
    }
}

TEST(Launch, ASecondLaunchHandsItsFilesToTheFirst) {
    TempDir folder;
    const QString name = QString::fromStdString((folder / "instance.socket").string());
    EXPECT_FALSE(SingleInstance(name).handOff({"/a.mov"}, 200)) << "nobody listens yet";
    {
        std::ofstream(folder / "instance.socket") << "left by a crash";
        SingleInstance first(name);
        ASSERT_TRUE(first.listen()) << "a stale socket file is replaced";
        QSignalSpy activated(&first, &SingleInstance::activated);
        EXPECT_TRUE(SingleInstance(name).handOff({"/media/a clip.mov", "/b\xC3\xA9.mov"}));
        EXPECT_TRUE(SingleInstance(name).handOff({}));
        while (activated.size() < 2) ASSERT_TRUE(activated.wait(2000));
        EXPECT_EQ(activated.at(0).at(0).toStringList(), (QStringList{"/media/a clip.mov", "/bé.mov"}));
        EXPECT_EQ(activated.at(1).at(0).toStringList(), QStringList{});
    }
    EXPECT_FALSE(SingleInstance(name).handOff({}, 200)) << "gone with the first instance";
}

}  // namespace
}  // namespace fw::app
