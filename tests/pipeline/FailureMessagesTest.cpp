// What a failed encode tells the user: the real reason and the real thing, from real small encodes.

#include "PipelineTestSupport.h"
#include "pipeline/AudioEncoder.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fw {
namespace {

using namespace pipelinetest;

// The message of `body` run in a child whose files may not grow past
// `limitBytes`: the writer meets the disk filling up. Sources must exist
// beforehand, since tools started in the child would be limited too.
std::string messageOf(const std::function<void()>& body, rlim_t limitBytes = RLIM_INFINITY) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = std::min(limitBytes, limit.rlim_max);
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string message = "no failure";
        try {
            body();
        } catch (const std::exception& error) {
            message = error.what();
        }
        const ssize_t ignored = write(pipeEnds[1], message.data(), message.size());
        static_cast<void>(ignored);
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string message;
    char buffer[512];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, std::size_t(n));
    close(pipeEnds[0]);
    waitpid(child, nullptr, 0);
    return message;
}

TEST(FailureMessages, NameTheRealReasonAndTheRealThing) {
    test::TempDir dir;
    const fs::path clip = longerClip();
    // Noise, large: the encoders' packets fill the writer's buffers long before the end.
    const fs::path noisy = generated("noisy.mp4", {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=8,noise=alls=60:allf=t",
                                                   "-c:v", "libx264", "-crf", "10"});
    const fs::path sound = generated("noise8.m4a", {"-f", "lavfi", "-i", "anoisesrc=d=8", "-c:a", "aac"});
    // Every few bytes of each AAC or ProRes packet altered: the decoder refuses them.
    const fs::path badAudio =
        generated("badaudio.mov", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=2", "-f", "lavfi", "-i",
                                   "sine=duration=2", "-c:v", "libx264", "-c:a", "aac", "-bsf:a", "noise=amount=2"});
    const fs::path badVideo =
        generated("badvideo.mov", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=2", "-c:v", "prores_ks",
                                   "-bsf:v", "noise=amount=4"});
    auto movie = [](OutputCodec codec, const fs::path& source, const fs::path& destination, int width = 320,
                     int height = 180) {
        return [=] { encode(encoderFor(codec, width, height), source, destination); };
    };
    constexpr rlim_t kFullAt = 16 * 1024;
    const std::string folder = (dir / "missing").string();
    struct Row {
        const char* what;
        std::function<void()> body;
        rlim_t limit;
        std::vector<std::string> says;
    };
    const Row rows[] = {
        {"disk full, ProRes", movie(OutputCodec::proRes, clip, dir / "out.mov"),
         kFullAt, {"Writing failed: ", "\u201cout.mov\u201d: File too large"}},
        {"disk full, H.264", movie(OutputCodec::h264, noisy, dir / "out.mp4", 1280, 720),
         kFullAt, {"\u201cout.mp4\u201d: File too large"}},
        {"disk full, HEVC", movie(OutputCodec::hevc, noisy, dir / "out.mp4", 1280, 720),
         kFullAt, {"\u201cout.mp4\u201d: File too large"}},
        {"disk full, AAC", [&] { AudioEncoder().encode(sound, dir / "out.m4a"); }, kFullAt,
         {"\u201cout.m4a\u201d: File too large"}},
        {"missing folder", movie(OutputCodec::proRes, clip, dir / "missing" / "out.mov"), RLIM_INFINITY,
         {"\u201cout.mov\u201d: the folder \u201c" + folder + "\u201d does not exist"}},
        {"undecodable sound", movie(OutputCodec::proRes, badAudio, dir / "out.mov"), RLIM_INFINITY,
         {"Could not decode the audio track (track 2) of \u201cbadaudio.mov\u201d"}},
        {"undecodable pictures", movie(OutputCodec::proRes, badVideo, dir / "out.mov"), RLIM_INFINITY,
         {"Could not decode the video track (track 1) of \u201cbadvideo.mov\u201d"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string message = messageOf(row.body, row.limit);
        for (const std::string& part : row.says) EXPECT_NE(message.find(part), std::string::npos) << message;
        EXPECT_EQ(message.find("could not append"), std::string::npos) << message;
        EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{}) << message;
    }
}

}  // namespace
}  // namespace fw
