// Output names: every codec's suffix, extension and written size, the
// template's placeholders, collisions within a run, outputs that would
// replace their source, and the displayed size of rotated and odd sources.

#include "CoordinatorTestSupport.h"

#include "coordinator/EncoderBackend.h"
#include "jobs/OutputNaming.h"
#include "jobs/OutputPlan.h"
#include "jobs/OutputReservations.h"
#include "jobs/PlanExecutor.h"
#include "model/EncodingError.h"
#include "support/Probe.h"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <sstream>
#include <thread>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::CoordinatorFixture;

ExportConfiguration configured(OutputCodec codec, std::string templateText, bool resize = false) {
    ExportConfiguration configuration;
    configuration.codec = codec;
    configuration.naming.templateText = std::move(templateText);
    configuration.resize = ResizeSettings{resize, 1280, 720, ResizeMode::aspect};
    return configuration;
}

// The file name one output of `source` gets, planned as a run plans it.
std::string routedName(const fs::path& source, const ExportConfiguration& configuration, IntSize sourceSize) {
    return jobs::planOutput(jobs::SourceProbe::sized(source, sourceSize), configuration, {}, {std::nullopt, {}})
        .destination.filename()
        .string();
}

TEST(OutputNaming, EveryCodecNamesItsSuffixExtensionAndWrittenSize) {
    const fs::path source = "/media/Interview 01.mov";
    const IntSize odd{1919, 1079};
    const std::string sized = "{name}_{codec}_{width}x{height}";
    struct Row {
        ExportConfiguration configuration;
        const char* expected;
    } rows[] = {
        {configured(OutputCodec::proRes, sized), "Interview 01_ProRes_1919x1079.mov"},
        {configured(OutputCodec::h264, sized), "Interview 01_H264_1920x1080.mp4"},
        {configured(OutputCodec::hevc, sized), "Interview 01_HEVC_1920x1080.mp4"},
        {configured(OutputCodec::gif, sized), "Interview 01_GIF_0x0.gif"},
        {configured(OutputCodec::png, sized), "Interview 01_PNG_0x0.png"},
        {configured(OutputCodec::jpeg, sized), "Interview 01_JPEG_0x0.jpg"},
        {configured(OutputCodec::heic, sized), "Interview 01_HEIC_0x0.heic"},
        {configured(OutputCodec::dpx, sized), "Interview 01_DPX_0x0.dpx"},
        {configured(OutputCodec::exr, sized, true), "Interview 01_EXR_1280x720.exr"},
        {configured(OutputCodec::hap, sized), "Interview 01_Hap_1919x1079.mov"},
        {configured(OutputCodec::hapQ, sized, true), "Interview 01_HapQ_1280x720.mov"},
        {configured(OutputCodec::dxv2, sized), "Interview 01_DXV2_1919x1079.mov"},
        {configured(OutputCodec::dxv3, sized, true), "Interview 01_DXV3_1280x720.mov"},
        {configured(OutputCodec::h264, "{name}_{codec}"), "Interview 01_H264.mp4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(rawValue(row.configuration.codec));
        EXPECT_EQ(routedName(source, row.configuration, odd), row.expected);
    }
    // No encoder here makes these; their names are still settled.
    EXPECT_THROW(routedName(source, configured(OutputCodec::notchLC, sized), odd), EncodingError);
    EXPECT_THROW(routedName(source, configured(OutputCodec::hevcAlpha, sized), odd), EncodingError);
    ExportConfiguration hevcWithAlpha = configured(OutputCodec::hevc, sized);
    hevcWithAlpha.alpha = true;
    EXPECT_EQ(OutputNaming::destination(source, hevcWithAlpha.resolvingAlpha(), {1920, 1080}, {}, test::fixedNow()),
              "/media/Interview 01_HEVC-Alpha_1920x1080.mov");
}

TEST(OutputNaming, TemplatePlaceholdersFoldersAndTheOtherRoutes) {
    const Date now = test::fixedNow();
    const std::string today = OutputNaming::dateString(now);
    ASSERT_EQ(today.size(), 10u);
    const std::optional<fs::path> beside;
    const std::optional<fs::path> chosen = fs::path("/out");
    const auto movie = [&](std::string templateText, const char* source, const std::optional<fs::path>& folder) {
        return OutputNaming::destination(source, configured(OutputCodec::proRes, std::move(templateText)), {1280, 720},
                                         folder, now);
    };
    struct Row {
        const char* what;
        fs::path actual;
        fs::path expected;
    } rows[] = {
        {"default", movie("{name}_{codec}", "/media/clip.mov", beside), "/media/clip_ProRes.mov"},
        {"output folder", movie("{name}_{codec}", "/media/clip.mov", chosen), "/out/clip_ProRes.mov"},
        {"size", movie("{name}_{width}x{height}", "/media/clip.mov", beside), "/media/clip_1280x720.mov"},
        {"date and slash", movie("{date}/{name}", "/media/clip.mov", chosen), "/out/" + today + "-clip.mov"},
        {"blank", movie(" \t ", "/media/clip.mov", beside), "/media/clip.mov"},
        {"empty", movie("", "/media/clip.mov", beside), "/media/clip.mov"},
        {"blanks around", movie("  {name}\t", "/media/clip.mov", beside), "/media/clip.mov"},
        {"colon in the name", movie("{name}_{codec}", "/media/a:b.mov", beside), "/media/a:b_ProRes.mov"},
        {"colon in the template", movie("{name} 10:30", "/media/clip.mov", beside), "/media/clip 10-30.mov"},
        {"fixed", movie("take", "/media/clip.mov", beside), "/media/take.mov"},
        {"unknown braces", movie("{name}{fps}", "/media/clip.mov", beside), "/media/clip{fps}.mov"},
        {"dots in the name", movie("{name}", "/media/v1.2.final.mov", beside), "/media/v1.2.final.mov"},
        {"audio",
         OutputNaming::audioDestination("/media/talk.wav", configured(OutputCodec::h264, "{name}_{codec}"), beside,
                                        now),
         "/media/talk_audio.m4a"},
        {"audio size",
         OutputNaming::audioDestination("/media/clip.mov", configured(OutputCodec::h264, "{name}_{width}x{height}"),
                                        chosen, now),
         "/out/clip_0x0.m4a"},
        {"stitch",
         OutputNaming::stitchDestination("/media/first.mov", configured(OutputCodec::proRes, "{name}_{codec}"),
                                         {1920, 1080}, beside, now),
         "/media/stitched_ProRes.mov"},
        {"image sequence", OutputNaming::imageSequenceFolder("/media/clip.mov", OutputCodec::png, chosen),
         "/out/clip_PNG"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.actual, row.expected) << row.what;
}

// A source's name is text, never template: a run writes it into its
// outputs' names as it stands, and the coordinator's audio name is the one
// the run writes.
TEST(OutputNaming, ASourcesOwnNameReachesItsOutputsAsWritten) {
    CoordinatorFixture fixture;
    const fs::path movie = test::generated(
        "named.mov", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.2", "-c:v", "png", "-an"});
    const fs::path sound = test::generated("named.wav", {"-f", "lavfi", "-i", "sine=duration=0.2"});
    ASSERT_FALSE(movie.empty() || sound.empty());
    struct Row {
        std::string name;
        const char* movieOutput;
        const char* soundOutput;
    };
    const Row rows[] = {
        {"{codec}", "{codec}_H264.mp4", "{codec}_audio.m4a"},
        {"a:b", "a:b_H264.mp4", "a:b_audio.m4a"},
        {" sp ", " sp _H264.mp4", " sp _audio.m4a"},
        {"{name}{date} {width}", "{name}{date} {width}_H264.mp4", "{name}{date} {width}_audio.m4a"},
    };
    std::vector<fs::path> sources;
    for (const Row& row : rows) {
        sources.push_back(fixture.folder / (row.name + ".mov"));
        fs::copy_file(movie, sources.back());
        sources.push_back(fixture.folder / (row.name + ".wav"));
        fs::copy_file(sound, sources.back());
    }
    auto coordinator = fixture.make(EncodingCoordinator::Restore::no);
    coordinator->setSelectedCodec(OutputCodec::h264);
    ASSERT_TRUE(coordinator->addFiles(sources, EncodingCoordinator::Duplicates::allowed).empty());
    coordinator->startEncoding();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator->isRunning(); }, 120000));
    ASSERT_EQ(coordinator->jobs().size(), sources.size());
    for (std::size_t index = 0; index < sources.size(); ++index) {
        const Row& row = rows[index / 2];
        const bool isSound = index % 2 == 1;
        const EncodeJob& job = *coordinator->jobs()[index];
        SCOPED_TRACE(sources[index].filename().string());
        ASSERT_EQ(job.status(), EncodeJob::Status::finished) << job.errorMessage().value_or("");
        const fs::path expected = fixture.folder / (isSound ? row.soundOutput : row.movieOutput);
        EXPECT_EQ(job.outputURL(), expected);
        EXPECT_TRUE(fs::is_regular_file(expected));
        if (isSound) {
            EXPECT_EQ(coordinator->audioDestinationURL(sources[index], coordinator->primaryConfiguration()), expected);
        }
    }
}

TEST(OutputNaming, OutputsOfOneRunNeverShareAFileAndNeverReplaceTheirSource) {
    CoordinatorFixture fixture;
    const fs::path media = fixture.folder / "media";
    fs::create_directory(media);
    const fs::path clip = test::touch(media / "clip.mov");
    const fs::path other = test::touch(fixture.folder / "clip.mov");
    fs::create_directory_symlink(media, fixture.folder / "linked");
    test::touch(media / "take.mov");  // left by an earlier run: replaced, not renamed

    OutputReservations run;
    std::optional<fs::path> outputFolder;
    // Planned and reserved as a run does it.
    const auto reserve = [&](const fs::path& source, const char* templateText, OutputCodec codec) {
        const jobs::ReserveName reserveName = [&](const fs::path& from, const fs::path& name,
                                                  OutputReservations::Kind kind) {
            return run.reserve(from, name, kind);
        };
        return jobs::planOutput(jobs::SourceProbe::sized(source, {64, 48}), configured(codec, templateText), {},
                                {outputFolder, test::fixedNow()}, reserveName)
            .destination;
    };
    EXPECT_EQ(reserve(clip, "take", OutputCodec::proRes), media / "take.mov");
    EXPECT_EQ(reserve(clip, "take", OutputCodec::hap), media / "take-2.mov");
    EXPECT_EQ(reserve(clip, "take", OutputCodec::dxv3), media / "take-3.mov");
    EXPECT_EQ(reserve(clip, "take", OutputCodec::h264), media / "take.mp4");
    EXPECT_EQ(reserve(clip, "{name}_{codec}", OutputCodec::proRes), media / "clip_ProRes.mov");
    EXPECT_EQ(reserve(clip, "{name}", OutputCodec::h264), media / "clip.mp4");
    EXPECT_EQ(run.reserve(clip, media / "clip_PNG", OutputReservations::Kind::folder), media / "clip_PNG");
    EXPECT_EQ(run.reserve(clip, media / "clip_PNG", OutputReservations::Kind::folder), media / "clip_PNG-2");

    const std::string refusal = EncodingError::destinationIsSource().errorDescription();
    for (const auto& folder : {std::optional<fs::path>{}, std::optional<fs::path>{fixture.folder / "linked"}}) {
        outputFolder = folder;
        try {
            reserve(clip, "{name}", OutputCodec::proRes);
            ADD_FAILURE() << "an output over its own source was allowed";
        } catch (const EncodingError& error) {
            EXPECT_EQ(error.errorDescription(), refusal);
        }
    }
    EXPECT_EQ(test::readFile(clip), std::vector<std::uint8_t>{'x'});
    outputFolder = fixture.folder.path();
    run.protect(other);
    EXPECT_THROW(reserve(other, "{name}", OutputCodec::proRes), EncodingError);
    EXPECT_EQ(reserve(clip, "{name}", OutputCodec::proRes), fixture.folder.path() / "clip-2.mov")
        << "another job's source is no free name either";
}

// Parallel jobs reserve at once: every one of them leaves with a name of its
// own, files and folders alike, and another job's source is never handed out.
// A destination spelled another way (a folder not made yet with a trailing
// separator, a hard link to the source) is still the same destination, both
// for the run's reservations and for the outputs the watch folder skips.
TEST(OutputNaming, ReservationsAndOwnOutputsKnowADestinationByAnySpelling) {
    test::TempDir dir;
    const fs::path clip = test::touch(dir / "clip.mov");
    fs::create_hard_link(clip, dir / "clip-hard.mov");
    OutputReservations run;
    OwnOutputs own;
    EXPECT_EQ(run.reserve(clip, dir / "frames/", OutputReservations::Kind::folder), dir / "frames/");
    EXPECT_EQ(run.reserve(clip, dir / "frames", OutputReservations::Kind::folder), dir / "frames-2");
    EXPECT_THROW(run.reserve(clip, dir / "clip-hard.mov"), EncodingError);
    own.record(dir / "later/frames/");
    own.record(dir / "out.mov");
    struct Case {
        fs::path file;
        bool own;
    };
    for (const Case& c : {Case{dir / "later/frames", true}, Case{dir / "later/./x/../frames/", true},
                          Case{dir / "out.mov/", true}, Case{dir / "later", false}, Case{dir / "clip.mov", false}}) {
        SCOPED_TRACE(c.file.string());
        EXPECT_EQ(own.contains(c.file), c.own);
    }
}

TEST(OutputNaming, ReservationsFromManyThreadsAtOnceAreAllDistinct) {
    CoordinatorFixture fixture;
    const fs::path source = test::touch(fixture.folder / "clip.mov");
    const fs::path otherSource = test::touch(fixture.folder / "take-3.mov");
    // A few base names keep the numbering short, so many more names are taken at once.
    constexpr int kThreads = 16, kEach = 200, kBaseNames = 8;
    OutputReservations run;
    run.protect(otherSource);
    std::vector<std::vector<fs::path>> names(kThreads);
    {
        std::atomic<int> ready = 0;
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < kThreads; ++thread)
            threads.emplace_back([&, thread] {
                // All start together, so the threads really contend.
                for (++ready; ready < kThreads;) std::this_thread::yield();
                const auto kind = thread % 2 ? OutputReservations::Kind::folder : OutputReservations::Kind::file;
                for (int index = 0; index < kEach; ++index) {
                    const std::string base = "take" + std::string(index % kBaseNames, '+') + ".mov";
                    names[thread].push_back(run.reserve(source, fixture.folder / base, kind));
                }
            });
    }
    std::set<fs::path> distinct;
    for (const auto& list : names) distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), std::size_t{kThreads} * kEach);
    EXPECT_FALSE(distinct.contains(otherSource));
}

// An odd-sized movie, the same turned a quarter by its display matrix, and
// sound with a cover picture. The numbers in a name are the frame size an
// independent decoder reads back.
TEST(OutputNaming, NamedSizeIsTheSizeWrittenTurnedWithTheDisplayAndCoverPicturesAreNoVideo) {
    const fs::path odd = test::generated(
        "odd.mov", {"-f", "lavfi", "-i", "testsrc=size=63x47:rate=10:duration=0.3", "-c:v", "png", "-an"});
    const fs::path rotated =
        test::generated("rotated.mov", {"-i", odd.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"});
    std::vector<std::string> coverArguments;
    std::istringstream words(
        "-f lavfi -i sine=duration=0.3 -f lavfi -i color=red:size=32x32:duration=1 -map 0 -map 1 "
        "-c:a aac -c:v png -disposition:v:0 attached_pic -frames:v 1");
    for (std::string word; words >> word;) coverArguments.push_back(word);
    CoordinatorFixture fixture;
    auto coordinator = fixture.make();
    EXPECT_EQ(coordinator->naturalPixelSize(odd), (IntSize{63, 47}));
    EXPECT_EQ(coordinator->naturalPixelSize(rotated), (IntSize{47, 63}));
    try {
        coordinator->naturalPixelSize(test::generated("cover.m4a", coverArguments));
        ADD_FAILURE() << "a cover picture counted as a video track";
    } catch (const EncodingError& error) {
        EXPECT_EQ(error.kind(), EncodingError::Kind::noVideoTrack);
    }
    // Planned and encoded as a run does it: the size the plan starts from is
    // the coordinator's, and the name carries the size written.
    for (OutputCodec codec : {OutputCodec::proRes, OutputCodec::h264, OutputCodec::hap, OutputCodec::dxv3}) {
        SCOPED_TRACE(rawValue(codec));
        const ExportConfiguration configuration = configured(codec, "{codec} {width}x{height}");
        const jobs::OutputPlan plan = jobs::planOutput(coordinator->services().encoders->probe(rotated, configuration),
                                                       configuration, {}, {fixture.folder.path(), test::fixedNow()});
        EXPECT_EQ(jobs::naturalPixelSize(plan.probe), coordinator->naturalPixelSize(rotated));
        jobs::encodePlan(plan, {}, {});
        const fs::path& output = plan.destination;
        const auto [width, height] = test::displayedSize(test::streamOf(test::probe(output), "video"));
        EXPECT_EQ(output.stem().string(),
                  std::string(fileNameSuffix(codec)) + " " + std::to_string(width) + "x" + std::to_string(height));
    }
}

}  // namespace
}  // namespace fw
