// The command line and the window decide each output in one place: the same
// sources and settings through the built program and through a real batch
// give the same names, sizes and frame counts; a name's {width} × {height}
// is the size written; and each output opens its source once.

#include "CoordinatorTestSupport.h"
#include "coordinator/EncoderBackend.h"
#include "jobs/OutputPlan.h"
#include "platform/media/Asset.h"
#include "support/Probe.h"

#include <QTest>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

namespace fs = std::filesystem;

// A decode helper that stands for any file it is given: it decodes `movie`
// instead, and writes one line to `log` for each run ("probe" or "stream").
struct FakeHelper {
    FakeHelper(const fs::path& folder, const fs::path& movie)
        : script(folder / "helper.sh"), log(folder / "helper.log") {
        const fs::path fwdecode = fs::path(FW_PROGRAM).parent_path() / "fwdecode";
        std::ofstream(script) << "#!/bin/sh\n"
                              << "if [ \"$1\" = --probe ]; then echo probe >> '" << log.string() << "'; exec '"
                              << fwdecode.string() << "' --probe '" << movie.string() << "'; fi\n"
                              << "echo stream >> '" << log.string() << "'\n"
                              << "exec '" << fwdecode.string() << "' '" << movie.string() << "'\n";
        ::chmod(script.c_str(), 0755);
        ::setenv("FW_DECODE_HELPER", script.c_str(), 1);
    }
    ~FakeHelper() { ::unsetenv("FW_DECODE_HELPER"); }
    // The runs of each kind since the last call.
    std::map<std::string, int> runs() {
        std::map<std::string, int> counted;
        std::ifstream lines(log);
        for (std::string line; std::getline(lines, line);) ++counted[line];
        fs::remove(log);
        return counted;
    }
    fs::path script, log;
};

// A half-second test pattern at 10 fps; PNG pictures keep odd sides.
fs::path movie(const fs::path& folder, const std::string& name, const std::string& size) {
    const fs::path made =
        generated(name, {"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=10:duration=0.5", "-c:v", "png"});
    fs::copy_file(made, folder / name, fs::copy_options::overwrite_existing);
    return folder / name;
}

// The same turned a quarter by its display matrix.
fs::path turned(const fs::path& movie) {
    const fs::path turned = movie.parent_path() / ("turned-" + movie.filename().string());
    const fs::path made =
        generated(turned.filename().string(), {"-i", movie.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"});
    fs::copy_file(made, turned, fs::copy_options::overwrite_existing);
    return turned;
}

struct Written {
    std::string name;
    int width = 0, height = 0, frames = 0;
    bool operator==(const Written&) const = default;
};

std::ostream& operator<<(std::ostream& stream, const Written& written) {
    return stream << written.name << " " << written.width << "x" << written.height << " " << written.frames;
}

Written written(const fs::path& file) {
    const Json video = streamOf(probe(file, {"-count_frames"}), "video");
    const auto [width, height] = displayedSize(video);
    return {file.filename().string(), width, height, std::stoi(video.value("nb_read_frames", std::string("0")))};
}

// Each row: one source and the command line's words for its settings; the
// window's output has the same settings.
struct Row {
    std::string what;
    fs::path source;
    OutputCodec codec;
    const char* codecWord;
    std::optional<IntSize> box;  // --size
};

TEST(OnePlan, TheCommandLineAndTheWindowWriteTheSameOutputs) {
    CoordinatorFixture fixture;
    const fs::path sources = fixture.folder / "sources", cli = fixture.folder / "cli",
                   window = fixture.folder / "window";
    for (const auto& folder : {sources, cli, window}) fs::create_directories(folder);
    const fs::path odd = movie(sources, "odd.mov", "321x241");
    FakeHelper helper(fixture.folder.path(), odd);
    std::ofstream(sources / "helper.mkv") << "no container anyone knows";
    const fs::path photo =
        generated("one-plan-photo.png", {"-f", "lavfi", "-i", "testsrc2=size=160x120", "-frames:v", "1"});
    fs::copy_file(photo, sources / "photo.png");
    const Row rows[] = {
        {"media layer", movie(sources, "plain.mov", "160x90"), OutputCodec::hevc, "hevc", std::nullopt},
        {"helper only, odd", sources / "helper.mkv", OutputCodec::h264, "h264", std::nullopt},
        {"still", sources / "photo.png", OutputCodec::proRes, "prores", std::nullopt},
        {"odd", odd, OutputCodec::h264, "h264", std::nullopt},
        {"rotated", turned(movie(sources, "plain-rotated.mov", "160x90")), OutputCodec::h264, "h264", IntSize{80, 80}},
        {"oversized", movie(sources, "wide.mov", "640x4"), OutputCodec::proRes, "prores", IntSize{100000, 100000}},
        {"oversized, 4:2:0", sources / "wide.mov", OutputCodec::h264, "h264", IntSize{100000, 100000}},
    };

    std::vector<Written> fromCommandLine;
    for (const Row& row : rows) {
        std::vector<std::string> words = {FW_PROGRAM, "--encode", "--codec", row.codecWord, "--output", cli.string()};
        if (row.box) {
            words.push_back("--size");
            words.push_back(std::to_string(row.box->width) + "x" + std::to_string(row.box->height));
        }
        words.push_back(row.source.string());
        const auto result = runCommand(words);
        EXPECT_EQ(result.exitStatus, 0) << row.what << ": " << result.standardError;
    }

    auto coordinator = fixture.make();
    coordinator->addFiles({rows[0].source}, EncodingCoordinator::Duplicates::allowed);
    for (std::size_t index = 1; index < std::size(rows); ++index)
        coordinator->addFiles({rows[index].source}, EncodingCoordinator::Duplicates::allowed);
    ASSERT_EQ(coordinator->jobs().size(), std::size(rows));
    for (std::size_t index = 0; index < std::size(rows); ++index) {
        ExportConfiguration configuration;
        configuration.codec = rows[index].codec;
        if (const auto box = rows[index].box)
            configuration.resize = {true, box->width, box->height, ResizeMode::aspect};
        coordinator->setOutputs(*coordinator->jobs()[index], {JobOutputSpec("out", configuration)});
    }
    coordinator->setOutputDirectory(window);
    coordinator->startEncoding();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator->isRunning(); }, 120000));

    for (std::size_t index = 0; index < std::size(rows); ++index) {
        const Row& row = rows[index];
        SCOPED_TRACE(row.what);
        const auto& job = *coordinator->jobs()[index];
        EXPECT_EQ(job.status(), EncodeJob::Status::finished) << job.errorMessage().value_or("");
        const auto outputs = coordinator->writtenOutputs(job);
        ASSERT_EQ(outputs.size(), 1u);
        const fs::path fromCli = cli / outputs[0].filename();
        ASSERT_TRUE(fs::exists(fromCli)) << fromCli;
        const Written windowFile = written(outputs[0]);
        EXPECT_EQ(written(fromCli), windowFile);

        // The size a name carries is the size written, whichever route wrote it
        // (a still image's clip is named by its box, without one 0 x 0).
        if (row.codec == OutputCodec::proRes && !row.box) continue;
        ExportConfiguration sized;
        sized.codec = row.codec;
        if (row.box) sized.resize = {true, row.box->width, row.box->height, ResizeMode::aspect};
        sized.naming.templateText = "{width}x{height}";
        const auto plan = jobs::planOutput(jobs::probeSource(row.source, sized), sized, {}, {window, fixedNow()});
        EXPECT_EQ(plan.destination.stem().string(),
                  std::to_string(windowFile.width) + "x" + std::to_string(windowFile.height));
        // The coordinator's size of a source is the one the run sized it from, the decode helper's included: the
        // displayed size an independent decoder reads.
        const IntSize natural = coordinator->naturalPixelSize(row.source);
        EXPECT_EQ(natural, jobs::naturalPixelSize(plan.probe));
        const Written shown = written(row.source == sources / "helper.mkv" ? odd : row.source);
        EXPECT_EQ(natural, (IntSize{shown.width, shown.height}));
    }
    // Odd sides are made even upwards on every route.
    EXPECT_EQ(written(window / "helper_H264.mp4").width, 322);
    EXPECT_EQ(written(window / "helper_H264.mp4").height, 242);
    EXPECT_EQ(written(window / "odd_H264.mp4").width, 322);
    EXPECT_EQ(written(window / "wide_ProRes.mov").width, 16384);
    EXPECT_EQ(written(window / "wide_H264.mp4").width, 16384);
    EXPECT_EQ(written(window / "turned-plain-rotated_H264.mp4").height, 80);
}

// One output of one source opens it once: the media layer's asset is kept
// open from the plan to the encode; a source only the helper reads is probed
// and streamed once by the plan.
TEST(OnePlan, EachOutputOpensItsSourceOnce) {
    CoordinatorFixture fixture;
    const fs::path plain = movie(fixture.folder.path(), "plain.mov", "160x90");
    const fs::path odd = movie(fixture.folder.path(), "odd.mov", "321x241");
    FakeHelper helper(fixture.folder.path(), odd);
    std::ofstream(fixture.folder / "helper.mkv") << "no container anyone knows";
    std::mutex mutex;
    std::map<fs::path, int> opens;
    media::Asset::watchOpens([&](const fs::path& path) {
        const std::lock_guard lock(mutex);
        ++opens[path.filename()];
    });
    for (const fs::path& source : {plain, fixture.folder / "helper.mkv"}) {
        SCOPED_TRACE(source.filename().string());
        auto coordinator = fixture.make(EncodingCoordinator::Restore::no);
        coordinator->addFiles({source}, EncodingCoordinator::Duplicates::allowed);
        coordinator->setSelectedCodec(OutputCodec::h264);
        coordinator->startEncoding();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator->isRunning(); }, 60000));
        EXPECT_EQ(coordinator->jobs()[0]->status(), EncodeJob::Status::finished);
    }
    media::Asset::watchOpens({});
    EXPECT_EQ(opens[fs::path("plain.mov")], 1);
    // The media layer's one refusal hands the file to the helper.
    EXPECT_EQ(opens[fs::path("helper.mkv")], 1);
    const auto runs = helper.runs();
    EXPECT_EQ(runs.count("stream") ? runs.at("stream") : 0, 1);
    EXPECT_EQ(runs.count("probe") ? runs.at("probe") : 0, 1);
}

}  // namespace
}  // namespace fw::test
