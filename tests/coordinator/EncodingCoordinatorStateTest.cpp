// The coordinator's settings: defaults, change signals, the main output's
// configuration, derived progress and the saved output folder.

#include "CoordinatorTestSupport.h"

#include "jobs/SettingsBounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::CoordinatorFixture;
using test::TestCoordinator;
using Coordinator = EncodingCoordinator;

struct SettingRow {
    const char* name;
    std::function<void(TestCoordinator&)> writeDefault;  // the launch default: signals nothing
    std::function<void(TestCoordinator&)> writeOther;    // signals once
    void (Coordinator::*signal)();
};

template <class T>
SettingRow setting(const char* name, void (Coordinator::*setter)(T), std::decay_t<T> launch, std::decay_t<T> other,
                   void (Coordinator::*signal)()) {
    return {name, [setter, launch](TestCoordinator& c) { (c.*setter)(launch); },
            [setter, other](TestCoordinator& c) { (c.*setter)(other); }, signal};
}

TEST(EncodingCoordinatorSettings, DefaultsSignalNothingAndEachRealChangeSignalsOnce) {
    using C = Coordinator;
    MetadataSettings captions;
    captions.captionsEnabled = true;
    GeometrySettings flipped{.flipVertical = true};
    H264Settings explicitRate{.useExplicitBitrate = true};
    const std::vector<SettingRow> rows{
        setting("selectedCodec", &C::setSelectedCodec, OutputCodec::proRes, OutputCodec::h264,
                &C::selectedCodecChanged),
        setting("outputAlpha", &C::setOutputAlpha, false, true, &C::outputAlphaChanged),
        setting("dxvHighQuality", &C::setDxvHighQuality, false, true, &C::dxvHighQualityChanged),
        setting("proResVariant", &C::setProResVariant, ProResVariant::hq, ProResVariant::lt, &C::proResVariantChanged),
        setting("h264", &C::setH264, H264Settings{0.6, false, 12, true, 60, VideoProfile::automatic}, explicitRate,
                &C::h264Changed),
        setting("resize", &C::setResize, ResizeSettings{false, 1920, 1080, ResizeMode::aspect},
                ResizeSettings{false, 1920, 1080, ResizeMode::fill}, &C::resizeChanged),
        setting("trimEnabled", &C::setTrimEnabled, false, true, &C::trimEnabledChanged),
        setting("trimStart", &C::setTrimStart, 0.0, 2.5, &C::trimStartChanged),
        setting("trimEnd", &C::setTrimEnd, 0.0, 9.0, &C::trimEndChanged),
        setting("geometry", &C::setGeometry, GeometrySettings{}, flipped, &C::geometryChanged),
        setting("naming", &C::setNaming, NamingSettings{"{name}_{codec}"}, NamingSettings{"{name}"}, &C::namingChanged),
        setting("tenBit", &C::setTenBit, false, true, &C::tenBitChanged),
        setting("proxy", &C::setProxy, ProxySettings{ProxySettings::Codec::proResProxy, ResolutionPreset::hd720},
                ProxySettings{ProxySettings::Codec::h264, ResolutionPreset::hd720}, &C::proxyChanged),
        setting("stillDuration", &C::setStillDuration, 5.0, 7.0, &C::stillDurationChanged),
        setting("notifyOnCompletion", &C::setNotifyOnCompletion, true, false, &C::notifyOnCompletionChanged),
        setting("imageSequence", &C::setImageSequence, false, true, &C::imageSequenceChanged),
        setting("audio", &C::setAudio, AudioSettings{false, -16, false, 48000, false, -1, false, false},
                AudioSettings{true, -16, false, 48000, false, -1, false, false}, &C::audioChanged),
        setting("metadata", &C::setMetadata, MetadataSettings{}, captions, &C::metadataChanged),
        setting("color", &C::setColor, ColorSettings{false, ColorTag::rec709}, ColorSettings{false, ColorTag::hlg},
                &C::colorChanged),
        setting("publish", &C::setPublish, PublishSettings{},
                PublishSettings{false, "https://example.com/", {}, {}, ""}, &C::publishChanged),
        setting("watchConfiguration", &C::setWatchConfiguration, C::OptionalConfiguration{},
                C::OptionalConfiguration{ExportConfiguration{}}, &C::watchConfigurationChanged),
        setting("watchPresetName", &C::setWatchPresetName, C::OptionalText{}, C::OptionalText{""},
                &C::watchPresetNameChanged),
        setting("maxConcurrentJobs", &C::setMaxConcurrentJobs, 6, 99, &C::maxConcurrentJobsChanged),
        setting("autoStartWatched", &C::setAutoStartWatched, true, false, &C::autoStartWatchedChanged),
        setting("isRunning", &TestCoordinator::setRunning, false, true, &C::isRunningChanged),
        setting("runStartedAt", &TestCoordinator::setRunStartedAt, C::OptionalDate{}, C::OptionalDate{test::fixedNow()},
                &C::runStartedAtChanged),
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CoordinatorFixture fixture;
        auto coordinator = fixture.make();
        auto count = test::countEmissions(coordinator.get(), row.signal);
        row.writeDefault(*coordinator);
        EXPECT_EQ(*count, 0) << "the launch default differs";
        row.writeOther(*coordinator);
        EXPECT_EQ(*count, 1);
        row.writeOther(*coordinator);
        EXPECT_EQ(*count, 1) << "an equal value signalled";
        row.writeDefault(*coordinator);
        EXPECT_EQ(*count, 2);
    }
    CoordinatorFixture fixture;
    auto coordinator = fixture.make();
    auto filters = test::countEmissions(coordinator.get(), &Coordinator::filtersChanged);
    coordinator->setFilters(FilterSettings{});
    coordinator->setFilters(FilterSettings{});
    EXPECT_EQ(*filters, 2) << "filters signal every write";
}

TEST(EncodingCoordinatorSettings, PrimaryConfigurationTrimAndGeometry) {
    const GeometrySettings cropFractionsOnly{.cropX = 0.25, .frameRate = 24};
    const GeometrySettings rateOnly{.frameRateEnabled = true, .frameRate = 24};
    const GeometrySettings rateZero{.frameRateEnabled = true, .frameRate = 0};
    struct Row {
        bool trimEnabled;
        double start, end;
        GeometrySettings geometry;
        std::optional<TrimRange> trim;
        bool hasGeometry;
    } rows[] = {
        {false, 5, 8, {}, std::nullopt, false},
        {true, 10, 0, {}, TrimRange{10, std::nullopt}, false},
        {true, 5, 8, {}, TrimRange{5, 8.0}, false},
        {true, 8, 8, cropFractionsOnly, TrimRange{8, std::nullopt}, false},
        {true, -3, NAN, rateOnly, TrimRange{0, std::nullopt}, true},
        {true, 1, INFINITY, rateZero, TrimRange{1, std::nullopt}, false},
        {true, 1e300, 2e300, {}, TrimRange{SettingsBounds::kLongestSeconds, SettingsBounds::kLongestSeconds}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.start << " to " << row.end);
        CoordinatorFixture fixture;
        auto coordinator = fixture.make();
        coordinator->setTrimEnabled(row.trimEnabled);
        coordinator->setTrimStart(row.start);
        coordinator->setTrimEnd(row.end);
        coordinator->setGeometry(row.geometry);
        const ExportConfiguration configuration = coordinator->primaryConfiguration();
        EXPECT_EQ(configuration.trim, row.trim);
        EXPECT_EQ(configuration.geometry.has_value(), row.hasGeometry);
    }
}

// Whatever is typed into a numeric field, what reaches an encoder is bounded:
// the writer's settings come out whole and in range.
TEST(EncodingCoordinatorSettings, NumbersAreBoundedBeforeAnyEncoderSeesThem) {
    struct Row {
        double bitrateMbps;
        std::int64_t keyFrames, side;
        double still;
        std::int64_t expectedBitRate, expectedKeyFrames, expectedSide;
        double expectedStill;
    } rows[] = {
        {NAN, 0, 0, NAN, 12'000'000, 1, 2, 5},
        {INFINITY, -5, -7, INFINITY, 2'000'000'000, 1, 2, SettingsBounds::kLongestSeconds},
        {1e300, INT64_MAX, INT64_MAX, -INFINITY, 2'000'000'000, SettingsBounds::kLargestKeyFrameInterval,
         SettingsBounds::kLargestSide, SettingsBounds::kShortestStillSeconds},
        {-3, 250, 1280, 0.5, 100'000, 250, 1280, 0.5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.bitrateMbps << " Mbit/s, side " << row.side);
        CoordinatorFixture fixture;
        auto coordinator = fixture.make();
        coordinator->setSelectedCodec(OutputCodec::h264);
        coordinator->setH264({.useExplicitBitrate = true,
                              .bitrateMbps = row.bitrateMbps,
                              .keyFrameAuto = false,
                              .maxKeyFrameInterval = row.keyFrames});
        coordinator->setResize(ResizeSettings{true, row.side, row.side, ResizeMode::fill});
        coordinator->setStillDuration(row.still);
        const ExportConfiguration configuration = coordinator->primaryConfiguration();
        EXPECT_EQ(configuration.resize.width, row.expectedSide);
        EXPECT_EQ(configuration.resize.height, row.expectedSide);
        const auto settings = videoSettings(configuration.codec, 1920, 1080, configuration.proResVariant,
                                            configuration.h264, std::nullopt);
        ASSERT_TRUE(settings && settings->compression);
        EXPECT_EQ(settings->compression->averageBitRate, row.expectedBitRate);
        EXPECT_EQ(settings->compression->maxKeyFrameInterval, row.expectedKeyFrames);
        EXPECT_EQ(coordinator->boundedStillDuration(), row.expectedStill);
    }
}

TEST(EncodingCoordinatorSettings, ApplyingSpreadsAPresetAndTheSameOneAgainSignalsNothing) {
    CoordinatorFixture fixture;
    auto coordinator = fixture.make();
    coordinator->setTrimEnabled(true);
    coordinator->setTrimStart(4);
    coordinator->setTrimEnd(9);
    coordinator->setColor(ColorSettings{true, ColorTag::pq});

    ExportConfiguration preset;
    preset.codec = OutputCodec::hevcAlpha;
    preset.alpha = false;
    preset.resize = ResizeSettings{true, 1280, 720, ResizeMode::fit};
    coordinator->apply(preset);
    EXPECT_EQ(coordinator->selectedCodec(), OutputCodec::hevcAlpha);
    EXPECT_TRUE(coordinator->outputAlpha());
    EXPECT_FALSE(coordinator->trimEnabled());
    EXPECT_EQ(coordinator->trimStart(), 0);
    EXPECT_EQ(coordinator->trimEnd(), 0);
    EXPECT_EQ(coordinator->color(), (ColorSettings{true, ColorTag::pq}));

    const ExportConfiguration inEffect = coordinator->primaryConfiguration();
    const auto spies = test::spyOnEverySignal(coordinator.get());
    ASSERT_GT(spies.size(), 30u);
    coordinator->apply(inEffect);
    for (const auto& spy : spies) EXPECT_EQ(spy->count(), 0) << spy->signal().toStdString();
}

TEST(EncodingCoordinatorSettings, ProgressAndTimeRemaining) {
    CoordinatorFixture fixture;
    const fs::path clip = test::touch(fixture.folder / "clip.mov");
    QueuePersistence::JobList saved;
    for (int job = 0; job < 4; ++job) saved.push_back(std::make_shared<EncodeJob>(clip));
    QueuePersistence::save(saved, fixture.queueFolder());
    auto coordinator = fixture.make();
    ASSERT_EQ(coordinator->jobs().size(), 4u);
    const auto& jobs = coordinator->jobs();
    jobs[0]->setProgress(1);
    jobs[1]->setProgress(0.5);
    jobs[2]->setProgress(0.2);
    jobs[2]->setStatus(EncodeJob::Status::failed);
    jobs[3]->setStatus(EncodeJob::Status::cancelled);
    EXPECT_DOUBLE_EQ(coordinator->overallProgress(), 0.75);

    const Date later = test::fixedNow() + std::chrono::seconds(30);
    EXPECT_FALSE(coordinator->estimatedTimeRemaining(later)) << "not running";
    coordinator->setRunning(true);
    coordinator->setRunStartedAt(test::fixedNow());
    jobs[0]->setProgress(0.5);
    EXPECT_DOUBLE_EQ(coordinator->estimatedTimeRemaining(later).value_or(-1), 30);
    jobs[0]->setProgress(0.01);
    jobs[1]->setProgress(0.01);
    EXPECT_FALSE(coordinator->estimatedTimeRemaining(later)) << "1 % is too early";
    jobs[0]->setProgress(1);
    jobs[1]->setProgress(1);
    EXPECT_FALSE(coordinator->estimatedTimeRemaining(later)) << "done";
    for (const auto& job : jobs) job->setStatus(EncodeJob::Status::failed);
    EXPECT_EQ(coordinator->overallProgress(), 0);
}

TEST(EncodingCoordinatorSettings, OutputFolderIsWrittenOnEveryAssignmentAndRestoredWhenItStillExists) {
    CoordinatorFixture fixture;
    const fs::path folder = fixture.folder / "out";
    fs::create_directory(folder);
    {
        auto coordinator = fixture.make();
        auto count = test::countEmissions(coordinator.get(), &Coordinator::outputDirectoryChanged);
        coordinator->setOutputDirectory(folder);
        fixture.defaults.remove("OutputDirectoryPath");
        coordinator->setOutputDirectory(folder);
        EXPECT_EQ(*count, 1);
        EXPECT_EQ(fixture.defaults.string("OutputDirectoryPath"), folder.string()) << "an equal value still writes";
    }
    UserDefaults reread(fixture.folder / "defaults.json");
    EXPECT_EQ(reread.string("OutputDirectoryPath"), folder.string());
    EXPECT_EQ(fixture.make()->outputDirectory(), folder);
    EXPECT_FALSE(fixture.make(Coordinator::Restore::no)->outputDirectory());

    fs::remove(folder);
    EXPECT_FALSE(fixture.make()->outputDirectory()) << "a deleted folder is not restored";
    EXPECT_TRUE(fixture.defaults.string("OutputDirectoryPath")) << "and its key is left alone";
    fixture.make()->setOutputDirectory(std::nullopt);
    EXPECT_FALSE(fixture.defaults.string("OutputDirectoryPath"));
}

TEST(EncodingCoordinatorSettings, PublishingNeedsAnHttpEndpointAndAFinishedOutput) {
    const std::pair<const char*, bool> endpoints[] = {
        {"https://example.com/drop/", true},
        {"HTTP://example.com", true},
        {"ftp://example.com/", false},
        {"example.com/upload", false},
        {"", false},
        {"http://exa mple.com", false},
    };
    for (const auto& [endpoint, configured] : endpoints)
        EXPECT_EQ((PublishSettings{false, endpoint, {}, {}, ""}.isConfigured()), configured) << endpoint;

    CoordinatorFixture fixture;
    auto coordinator = fixture.make();
    coordinator->setPublish(PublishSettings{false, "https://example.com/", {}, {}, ""});
    coordinator->addFiles({test::touch(fixture.folder / "clip.mov")}, Coordinator::Duplicates::allowed);
    EncodeJob& job = *coordinator->jobs()[0];
    job.setStatus(EncodeJob::Status::finished);
    EXPECT_FALSE(coordinator->canPublish()) << "finished without an output";
    job.setOutputURL(fixture.folder / "clip_ProRes.mov");
    EXPECT_TRUE(coordinator->canPublish());
}

}  // namespace
}  // namespace fw
