#include "model/EncodeJob.h"
#include "model/EncodingError.h"
#include "model/ProgressEstimate.h"
#include "model/SupportedMediaType.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

namespace fw {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

using Property = EncodeJob::Property;

struct Recorder {
    explicit Recorder(EncodeJob& job) {
        job.changed().connect([this](Property property) { properties.push_back(property); });
    }
    std::size_t take() {
        auto count = properties.size();
        properties.clear();
        return count;
    }
    std::vector<Property> properties;
};

TEST(EncodeJob, NotifiesOnlyOnRealChanges) {
    EncodeJob job("/a.mov");
    Recorder recorder(job);

    job.setStatus(EncodeJob::Status::waiting);
    EXPECT_EQ(recorder.take(), 0u);
    job.setStatus(EncodeJob::Status::encoding);
    ASSERT_EQ(recorder.properties, std::vector<Property>{Property::status});
    recorder.take();

    job.setDisplayName(std::string());  // absent and empty differ
    EXPECT_EQ(recorder.take(), 1u);
    job.setDisplayName(std::string());
    EXPECT_EQ(recorder.take(), 0u);
    job.setErrorMessage("Caf\u00e9");
    EXPECT_EQ(recorder.take(), 1u);
    job.setErrorMessage("Cafe\u0301");  // canonically equal: stored silently
    EXPECT_EQ(recorder.take(), 0u);
    EXPECT_EQ(job.errorMessage(), "Cafe\u0301");

    job.setProgress(-0.0);  // equal to 0
    EXPECT_EQ(recorder.take(), 0u);
    job.setProgress(kNaN);
    job.setProgress(kNaN);
    EXPECT_EQ(recorder.take(), 2u) << "not-a-number never equals anything";

    job.setEnabled(true);
    job.setUploadState(EncodeJob::UploadState::none);
    job.setStartedAt(std::nullopt);
    job.setOutputURL(std::nullopt);
    EXPECT_EQ(recorder.take(), 0u);
    Date now = std::chrono::system_clock::now();
    job.setStartedAt(now);
    job.setStartedAt(now);
    job.setOutputURL(std::filesystem::path("/out/a_ProRes.mov"));
    job.setOutputURL(std::filesystem::path("/out/a_ProRes.mov"));
    EXPECT_EQ(recorder.take(), 2u);
}

TEST(EncodeJob, OutputsCompareBySpecIdentity) {
    EncodeJob job("/a.mov");
    Recorder recorder(job);
    ExportConfiguration configuration;
    JobOutputSpec first("Web", configuration);
    JobOutputSpec second("Web", configuration);
    EXPECT_NE(first, second) << "specs made separately differ";

    job.setOutputs({});
    EXPECT_EQ(recorder.take(), 0u);
    job.setOutputs({first});
    EXPECT_EQ(recorder.take(), 1u);
    job.setOutputs({first});  // the same spec again
    EXPECT_EQ(recorder.take(), 0u);
    job.setOutputs({JobOutputSpec("Web", configuration)});  // fresh identity
    EXPECT_EQ(recorder.take(), 1u);
    job.appendOutput(second);
    EXPECT_EQ(recorder.take(), 1u);
    EXPECT_EQ(job.outputs().size(), 2u);
    EXPECT_EQ(job.outputs().back(), second);
}

TEST(ProgressEstimate, RemainingAndCountdownText) {
    EXPECT_EQ(ProgressEstimate::remaining(0.01, 10), std::nullopt);
    EXPECT_EQ(ProgressEstimate::remaining(0.5, 30), 30.0);
    EXPECT_EQ(ProgressEstimate::remaining(1.0, 30), std::nullopt);
    EXPECT_EQ(ProgressEstimate::remaining(0.5, 0), std::nullopt);
    EXPECT_EQ(ProgressEstimate::remaining(kNaN, 5), std::nullopt);
    EXPECT_DOUBLE_EQ(*ProgressEstimate::remaining(0.25, 10), 30.0);

    const std::pair<double, const char*> rows[] = {
        {0, "0:00"},         {-0.0, "0:00"},       {59.4, "0:59"},
        {59.5, "1:00"},      {754, "12:34"},       {3599.4, "59:59"},
        {3599.5, "1:00:00"}, {3725, "1:02:05"},    {25 * 3600 + 61, "25:01:01"},
        {-1, "--:--"},       {kInfinity, "--:--"}, {kNaN, "--:--"},
        {1e300, "--:--"}};
    for (const auto& [seconds, text] : rows) EXPECT_EQ(ProgressEstimate::formatCountdown(seconds), text) << seconds;
}

// Jobs weigh by their work; unmeasured ones as the mean of the measured, or
// all alike when none is measured.
TEST(ProgressEstimate, JobsWeighByTheirWork) {
    using Work = ProgressEstimate::JobWork;
    const auto job = [](std::optional<double> work, double progress) {
        Work each;
        each.work = work;
        each.progress = progress;
        return each;
    };
    // A movie whose picture and frame rate are not known, `seconds` long.
    const auto movie = [](double seconds) { return ProgressEstimate::outputWork({}, seconds, false); };
    struct Row {
        std::vector<Work> jobs;
        double expected;
    };
    const Row rows[] = {
        {{}, 0},
        {{job(std::nullopt, 1), job(std::nullopt, 0), job(std::nullopt, 0.5)}, 0.5},
        {{job(movie(10), 1), job(movie(60), 0.5)}, 40.0 / 70},
        {{job(2 * movie(30), 0.5), job(movie(60), 0)}, 0.25},
        {{job(movie(10), 1), job(movie(30), 0), job(std::nullopt, 1)}, 30.0 / 60},
        {{job(movie(0), 1), job(movie(kNaN), 0)}, 0.5},
    };
    for (std::size_t index = 0; index < std::size(rows); ++index)
        EXPECT_DOUBLE_EQ(ProgressEstimate::overallProgress(rows[index].jobs), rows[index].expected) << index;
    EXPECT_EQ(ProgressEstimate::remaining(0.999, 100), 1.0) << "never 0:00 while work remains";
}

TEST(SupportedMediaType, ExtensionTestIgnoresCaseAndOnlyLooksAtTheLastSuffix) {
    struct Row {
        const char* name;
        bool supported, still, raw;
    };
    const Row rows[] = {{"/m/CLIP.MOV", true, false, false},
                        {"clip.Mov", true, false, false},
                        {"/m/clip.mov", true, false, false},
                        {"/m/clip", false, false, false},
                        {"/m/clip.mov.part", false, false, false},
                        {"/m/clip.", false, false, false},
                        {"/m/.mov", false, false, false},
                        {"photo.JPG", true, true, false},
                        {"a.R3D", true, false, true},
                        {"a.mxf", true, false, false},
                        {"a.gif", false, false, false},
                        {"a.webp", false, false, false},
                        {"a.exr", false, false, false},
                        {"a.dpx", false, false, false},
                        {"a.m4b", false, false, false}};
    for (const auto& row : rows) {
        EXPECT_EQ(SupportedMediaType::isSupported(row.name), row.supported) << row.name;
        if (!row.supported) continue;
        EXPECT_EQ(SupportedMediaType::isStillImage(row.name), row.still) << row.name;
        EXPECT_EQ(SupportedMediaType::isCameraRaw(row.name), row.raw) << row.name;
    }
}

TEST(EncodingError, MessagesAreExact) {
    EXPECT_EQ(EncodingError::unsupportedCodec("PNG (still)").errorDescription(),
              "PNG (still) cannot be produced on this system.");
    EXPECT_EQ(EncodingError::readerFailed("x").errorDescription(), "Reading failed: x");
    EXPECT_EQ(EncodingError::writerFailed("could not append").errorDescription(), "Writing failed: could not append");
    EXPECT_EQ(EncodingError::rawDecoderUnavailable("r3d").errorDescription(),
              "R3D is a camera-RAW format that needs a decoder plug-in. Install the vendor SDK (e.g. the "
              "Blackmagic RAW SDK for .braw) and its Framewright bridge, then relaunch.");
    EXPECT_EQ(EncodingError::rawDecodeFailed("bad clip").errorDescription(), "RAW decode failed: bad clip");
    EXPECT_EQ(EncodingError::noVideoTrack().errorDescription(), "The source file has no video track.");
    EXPECT_EQ(EncodingError::noAudioTrack().errorDescription(), "The source file has no audio track.");
    EXPECT_EQ(EncodingError::imageDecodeFailed().errorDescription(), "The image could not be decoded.");
    EXPECT_EQ(EncodingError::cannotStartReading().errorDescription(), "Could not start reading the source file.");
    EXPECT_EQ(EncodingError::cancelled().errorDescription(), "The job was cancelled.");

    const std::exception& thrown = EncodingError::noAudioTrack();
    EXPECT_STREQ(thrown.what(), "The source file has no audio track.");
}

std::string tailText(std::optional<std::string> detail, double reached, double expected) {
    auto error = EncodingError::readerTailFailure(detail, reached, expected);
    if (!error) return "forgiven";
    EXPECT_EQ(error->kind(), EncodingError::Kind::readerFailed);
    return error->errorDescription();
}

// 100 s: tolerance 2 s, the limit itself forgiven; 600 s: 12 s; 3 s: the 2 s
// floor capped at half the length. Unknown lengths and infinity are never forgiven.
TEST(EncodingError, TailRule) {
    for (const auto& [reached, expected] : {std::pair{98.0, 100.0}, {100.0, 100.0}, {588.0, 600.0}, {1.5, 3.0}})
        EXPECT_EQ(tailText("x", reached, expected), "forgiven") << reached << " of " << expected;
    for (const auto& [reached, expected] :
         {std::pair{587.9, 600.0}, {1.4, 3.0}, {0.0, 1.0}, {5.0, -1.0}, {kInfinity, 10.0}})
        EXPECT_NE(tailText("x", reached, expected), "forgiven") << reached << " of " << expected;
    EXPECT_EQ(tailText("Read error.", 97.9, 100),
              "Reading failed: Read error. Decoding stopped at 97.9s of 100.0s \u2014 the source file may be "
              "damaged or truncated.");
    EXPECT_EQ(tailText(std::nullopt, 12.34, 0),
              "Reading failed: unknown error. Decoding stopped at 12.3s of 0.0s \u2014 the source file may be "
              "damaged or truncated.");
    // Negative and not-a-number reached times print as 0.0.
    EXPECT_NE(tailText("x", -3, 10).find("stopped at 0.0s of 10.0s"), std::string::npos);
    EXPECT_NE(tailText("x", kNaN, 10).find("stopped at 0.0s of 10.0s"), std::string::npos);
}

// Up to a tenth of a source's pictures may be left out, the output saying how many; past it the encode fails.
TEST(EncodingError, DamagedPictureShare) {
    const auto failure = [](std::int64_t damaged, std::int64_t delivered) {
        const auto error = EncodingError::damagedPicturesFailure("clip.mov", damaged, delivered);
        return error ? error->errorDescription() : "";
    };
    for (const auto& [damaged, delivered] : {std::pair{0, 100}, {10, 90}, {1, 9}, {0, 0}})
        EXPECT_EQ(failure(damaged, delivered), "") << damaged << " of " << damaged + delivered;
    EXPECT_EQ(failure(11, 89),
              "Reading failed: The file \u201cclip.mov\u201d is damaged: 11 of its 100 pictures could "
              "not be read.");
    EXPECT_NE(failure(1, 0), "");
}

// A reader or writer may fail without words, or with an empty text: either
// way the user reads the fallback, never a bare "Reading failed: ".
TEST(EncodingError, DetailFallsBackWhenTheDescriptionIsMissingOrEmpty) {
    struct Case {
        std::optional<std::string> description;
        std::optional<std::string> fallback;
        std::string detail;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, "unknown error"},
        {"", std::nullopt, "unknown error"},
        {"disk full", std::nullopt, "disk full"},
        {std::nullopt, "could not append Hap frame", "could not append Hap frame"},
        {"", "could not append Hap frame", "could not append Hap frame"},
        {"disk full", "could not append Hap frame", "disk full"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.fallback ? detailOr(c.description, *c.fallback) : detailOr(c.description), c.detail);
    EXPECT_EQ(tailText("", 12.34, 0),
              "Reading failed: unknown error. Decoding stopped at 12.3s of 0.0s \u2014 the source file may be "
              "damaged or truncated.");
    EXPECT_EQ(EncodingError::outputNotMoved("clip.mov", "Is a directory").errorDescription(),
              "Writing failed: could not move the output to \u201cclip.mov\u201d: Is a directory");
}

TEST(ReachedSeconds, MovesForwardOnlyAndIgnoresBadTimes) {
    ReachedSeconds reached;
    EXPECT_EQ(reached.seconds(), 0);
    reached.record(1.0, 0.5);
    EXPECT_DOUBLE_EQ(reached.seconds(), 1.5);
    reached.record(1.2, 0.1);  // ends earlier: no move back
    EXPECT_DOUBLE_EQ(reached.seconds(), 1.5);
    reached.record(2.0, kNaN);  // no valid duration: start only
    EXPECT_DOUBLE_EQ(reached.seconds(), 2.0);
    reached.record(2.5, -1);
    EXPECT_DOUBLE_EQ(reached.seconds(), 2.5);
    reached.record(kInfinity, 1);
    reached.update(kNaN);
    reached.update(1.0);
    EXPECT_DOUBLE_EQ(reached.seconds(), 2.5);
    reached.update(3.0);
    EXPECT_DOUBLE_EQ(reached.seconds(), 3.0);
}

TEST(ReachedSeconds, ConcurrentWritersKeepTheMaximum) {
    ReachedSeconds reached;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&reached, t] {
            for (int i = 0; i < 10000; ++i) reached.record(i * 0.001 + t, 0.001);
        });
    for (auto& thread : threads) thread.join();
    EXPECT_NEAR(reached.seconds(), 3 + 9999 * 0.001 + 0.001, 1e-9);
}

}  // namespace
}  // namespace fw
