// What a failed encode tells the user: the real reason and the real thing, from real small encodes.

#include "PipelineTestSupport.h"
#include "pipeline/AudioEncoder.h"

#include <tbb/global_control.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>

namespace fw {
namespace {

using namespace pipelinetest;

constexpr rlim_t kFullDisk = 16 * 1024;
constexpr rlim_t kRoomEnough = 256 * 1024 * 1024;

// The message of `body` run in a child process whose files are limited to `fileLimit` bytes
// (kFullDisk: a writer meets the disk filling up), with no data-parallel workers where `oneCore`. Sources must exist
// beforehand: tools started there meet the limit too.
std::string messageOf(const std::function<void()>& body, rlim_t fileLimit = kFullDisk, bool oneCore = false) {
    constexpr std::size_t kSize = 4096;
    auto* shared = static_cast<char*>(mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    std::snprintf(shared, kSize, "no failure");
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        alarm(120);  // an encode that never ends fails its row rather than the whole run
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = std::min<rlim_t>(fileLimit, limit.rlim_max);
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            std::optional<tbb::global_control> workers;
            if (oneCore) workers.emplace(tbb::global_control::max_allowed_parallelism, 1);
            body();
        } catch (const std::exception& error) {
            std::snprintf(shared, kSize, "%s", error.what());
        }
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    const std::string message = shared;
    munmap(shared, kSize);
    return message;
}

TEST(FailureMessages, NameTheRealReasonAndTheRealThing) {
    test::TempDir dir;
    const fs::path clip = longerClip();
    // Noise, large: the encoders' packets fill the writer's buffers long before the end.
    const fs::path noisy = generated(
        "noisy.mp4",
        {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=8,noise=alls=60:allf=t", "-c:v", "libx264", "-crf", "10"});
    const fs::path sound = generated("noise8.m4a", {"-f", "lavfi", "-i", "anoisesrc=d=8", "-c:a", "aac"});
    // Every few bytes of each AAC or ProRes packet altered: the decoder refuses them.
    const fs::path badAudio =
        generated("badaudio.mov", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=2", "-f", "lavfi", "-i",
                                   "sine=duration=2", "-c:v", "libx264", "-c:a", "aac", "-bsf:a", "noise=amount=2"});
    const fs::path badVideo = generated("badvideo.mov", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=2", "-c:v",
                                                         "prores_ks", "-bsf:v", "noise=amount=4"});
    const fs::path mov = dir / "out.mov", mp4 = dir / "out.mp4";
    auto movie = [](OutputCodec codec, const fs::path& source, const fs::path& destination, int width = 320,
                    int height = 180) {
        return [=] { encode(encoderFor(codec, width, height), source, destination); };
    };
    const std::string tooLarge = " is larger than ", largest = " allows: at most 8192\u00d74352, or 35651584 pixels";
    struct Row {
        std::function<void()> body;
        std::string says;
        // A damaged source fails on its own: a full disk could come first while other threads write.
        rlim_t fileLimit = kFullDisk;
        // As on a one-core machine: the failed encode ends its reader from a thread that started no work of it.
        bool oneCore = false;
    };
    const Row rows[] = {
        {movie(OutputCodec::proRes, clip, mov), "\u201cout.mov\u201d: File too large"},
        {movie(OutputCodec::proRes, clip, mov), "\u201cout.mov\u201d: File too large", kFullDisk, true},
        {movie(OutputCodec::h264, noisy, mp4, 1280, 720), "\u201cout.mp4\u201d: File too large"},
        {movie(OutputCodec::hevc, noisy, mp4, 1280, 720), "\u201cout.mp4\u201d: File too large"},
        {[&] { AudioEncoder().encode(sound, dir / "out.m4a"); }, "\u201cout.m4a\u201d: File too large"},
        {movie(OutputCodec::proRes, clip, dir / "missing" / "out.mov"),
         "\u201cout.mov\u201d: the folder \u201c" + (dir / "missing").string() + "\u201d does not exist"},
        {movie(OutputCodec::proRes, badAudio, mov), "decode the audio track (track 2) of \u201cbadaudio.mov\u201d",
         kRoomEnough},
        {movie(OutputCodec::proRes, badVideo, mov), "decode the video track (track 1) of \u201cbadvideo.mov\u201d",
         kRoomEnough},
        {movie(OutputCodec::h264, clip, mp4, 20000, 11250), "20000\u00d711250" + tooLarge + "H.264" + largest},
        {movie(OutputCodec::h264, clip, mp4, 16896, 64), largest + " in another shape with no side over 16384"},
        {movie(OutputCodec::hevc, clip, mp4, 20000, 11250), "20000\u00d711250" + tooLarge + "HEVC" + largest},
        {movie(OutputCodec::hevc, clip, mp4, 16896, 64), largest + " in another shape with no side over 16888"},
    };
    for (const auto& [body, says, fileLimit, oneCore] : rows) {
        const std::string message = messageOf(body, fileLimit, oneCore);
        EXPECT_NE(message.find(says), std::string::npos) << message << "\nshould say: " << says;
        EXPECT_EQ(message.find("could not append"), std::string::npos) << message;
        EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{}) << message;
    }
    // The largest side H.264 allows still encodes.
    auto wide = encoderFor(OutputCodec::h264, 16384, 16);
    wide.trim = TrimRange{0, 0.2};
    encode(wide, clip, dir / "wide.mp4");
    EXPECT_EQ(fieldsOf(streamOf(probe(dir / "wide.mp4"), "video"), {"width", "height"}), "16384 16");
}

}  // namespace
}  // namespace fw
