// Stopping a large encode from outside: SIGTERM, SIGHUP or Ctrl-C ends the program
// with the signal's status, however much the encoder holds in flight, and leaves
// nothing behind. How fast it ends is measured in bench/encoders/stop_bench.cpp.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace fw {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class StopSignal : public ::testing::Test {
protected:
    // A 4K clip long enough that no encode of it ends by itself within the test.
    static void SetUpTestSuite() {
        source_ = new fs::path(test::generated(
            "stop-4k.mp4", {"-f", "lavfi", "-i", "testsrc2=size=3840x2160:rate=30:duration=6", "-f", "lavfi", "-i",
                            "sine=frequency=440:duration=6", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                            "yuv420p", "-c:a", "aac", "-shortest"}));
    }
    static void TearDownTestSuite() {
        delete source_;
        source_ = nullptr;
    }

    void SetUp() override {
        ASSERT_FALSE(source_->empty());
        fs::copy_file(*source_, dir_ / "clip4k.mp4");
    }

    // Everything in the folder, hidden files included.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path())) names.push_back(entry.path().filename());
        return names;
    }

    struct Stopped {
        test::CommandResult result;
        double seconds = -1;  // from the first signal to the program's end
    };
    // Encodes the clip to `codec` and, two seconds after the staged output
    // has appeared, sends `signals` one right after another.
    Stopped encodeAndSignal(const std::string& codec, const std::vector<int>& signals) {
        Stopped stopped;
        Clock::time_point signalled;
        stopped.result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", codec, (dir_ / "clip4k.mp4").string()}, [&](int program) {
                for (int waited_ms = 0; entries().size() < 2 && waited_ms < 30000; waited_ms += 10)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                std::this_thread::sleep_for(std::chrono::seconds(2));
                signalled = Clock::now();
                for (int signal : signals) ::kill(program, signal);
            });
        stopped.seconds = std::chrono::duration<double>(Clock::now() - signalled).count();
        return stopped;
    }

    static fs::path* source_;
    test::TempDir dir_;
};

fs::path* StopSignal::source_ = nullptr;

// libx264 and libx265 hold dozens of 4K frames in their look-ahead; a stop
// abandons them instead of draining them.
TEST_F(StopSignal, A4KEncodeEndsWithTheSignalsStatusAndNothingLeft) {
    // A closed terminal's SIGHUP stops as SIGTERM does.
    const struct {
        const char* codec;
        int signal;
    } rows[] = {{"h264", SIGTERM}, {"hevc", SIGHUP}};
    for (const auto& [codec, signal] : rows) {
        SCOPED_TRACE(codec);
        const Stopped stopped = encodeAndSignal(codec, {signal});
        std::printf("[ measure  ] 4K %s: %.2f s from signal %d to the end\n", codec, stopped.seconds, signal);
        EXPECT_EQ(stopped.result.exitStatus, 128 + signal) << stopped.result.standardError;
        EXPECT_EQ(stopped.result.standardError, "\u2717 clip4k.mp4: The job was cancelled.\n");
        EXPECT_EQ(entries(), std::vector<std::string>{"clip4k.mp4"}) << "only the source is left";
    }
}

// A second signal does not wait for the first stop: the staged file goes and
// the process ends with the second signal's status (Ctrl-C is sent first, and
// so read first, so a status of 128 + SIGTERM shows that the second ended it).
TEST_F(StopSignal, ASecondSignalEndsTheProcessAtOnce) {
    const Stopped stopped = encodeAndSignal("hevc", {SIGINT, SIGTERM});
    std::printf("[ measure  ] 4K hevc: %.2f s from two signals to the end\n", stopped.seconds);
    EXPECT_EQ(stopped.result.exitStatus, 128 + SIGTERM) << stopped.result.standardError;
    EXPECT_EQ(stopped.result.standardOutput, "");
    EXPECT_EQ(entries(), std::vector<std::string>{"clip4k.mp4"}) << "only the source is left";
}

}  // namespace
}  // namespace fw
