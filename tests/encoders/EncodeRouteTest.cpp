// Route decisions that only a batch reaches (the command line's are checked with its options): geometry, filters, other
// resize modes, profiles, alpha, colour tags, and the sound each movie encoder is handed.

#include "encoders/EncodeRoute.h"
#include "model/EncodingError.h"
#include "support/RouteDescription.h"

#include <gtest/gtest.h>

#include <functional>

namespace fw {
namespace {

ExportConfiguration configured(OutputCodec codec, const std::function<void(ExportConfiguration&)>& change) {
    ExportConfiguration configuration;
    configuration.codec = codec;
    change(configuration);
    return configuration.resolvingAlpha();
}

// A batch with filters that burn the timecode in when `active`.
BatchInputs withFilters(bool active) {
    auto prepared = std::make_shared<PreparedFilters>();
    prepared->timecode = active;
    BatchInputs batch;
    batch.filters = prepared;
    return batch;
}

BatchInputs tagged(ColorTag tag) {
    BatchInputs batch;
    batch.colorProperties = properties(tag);
    return batch;
}

TEST(EncodeRoute, BatchSettingsShapeTheRequest) {
    GeometrySettings rate25;
    rate25.frameRateEnabled = true;
    rate25.frameRate = 25;
    GeometrySettings turned;
    turned.rotation = Rotation::r90;
    struct Row {
        ExportConfiguration configuration;
        BatchInputs batch;
        std::string route;
    };
    const Row rows[] = {
        {configured(OutputCodec::proRes, [&](auto& c) { c.geometry = rate25; }),
         {},
         "1920x1080: ProRes 422 HQ 1920x1080 | frames 1920x1080 Aspect Ratio rate=25"},
        {configured(OutputCodec::h264, [&](auto& c) { c.geometry = turned; }),
         {},
         "1080x1920: H.264 1080x1920 High 7962624 | frames 1080x1920 Aspect Ratio geometry"},
        {configured(OutputCodec::hevc,
                    [](auto& c) {
                        c.tenBit = true;
                        c.h264.profile = VideoProfile::main;
                    }),
         {},
         "1920x1080: HEVC 1920x1080 Main10 7962624 | frames 1920x1080 Aspect Ratio 10-bit"},
        {configured(OutputCodec::h264,
                    [](auto& c) {
                        c.tenBit = true;
                        c.h264.profile = VideoProfile::main;
                    }),
         {},
         "1920x1080: H.264 1920x1080 Main 7962624"},
        {configured(OutputCodec::proRes, [](auto& c) { c.alpha = true; }), {}, "1920x1080: ProRes 4444 1920x1080"},
        {configured(OutputCodec::proRes,
                    [](auto& c) {
                        c.alpha = true;
                        c.resize = {true, 1280, 720, ResizeMode::fill};
                    }),
         {},
         "1280x720: ProRes 4444 1280x720 | frames 1280x720 Fill alpha"},
        {configured(OutputCodec::proRes, [](auto& c) { c.resize.mode = ResizeMode::fill; }), withFilters(false),
         "1920x1080: ProRes 422 HQ 1920x1080"},
        {configured(OutputCodec::proRes, [](auto& c) { c.resize.mode = ResizeMode::fill; }), withFilters(true),
         "1920x1080: ProRes 422 HQ 1920x1080 | frames 1920x1080 Aspect Ratio filters"},
        {configured(OutputCodec::hap, [](auto& c) { c.alpha = true; }), {}, "1920x1080: Hap Alpha"},
        {configured(OutputCodec::hapQ, [](auto& c) { c.alpha = true; }), {}, "1920x1080: Hap-Q"},
        {configured(OutputCodec::gif, [](auto& c) { c.resize.mode = ResizeMode::fill; }), withFilters(true),
         "0x0: GIF unsized Fill filters"},
        {configured(OutputCodec::h264, [](auto&) {}), tagged(ColorTag::pq),
         "1920x1080: H.264 1920x1080 High 7962624 tagged"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(test::describe(encodeRoute(row.configuration, IntSize{1920, 1080}, row.batch)), row.route);
}

// Still image sources on the Hap and DXV routes: the kind chosen as for movies, the still target and the clip's
// length at 30 fps; no frame request, no sound.
TEST(EncodeRoute, StillImagesMakeClips) {
    struct Row {
        ExportConfiguration configuration;
        BatchInputs batch;
        std::string route;
    };
    const Row rows[] = {
        {configured(OutputCodec::hap, [](auto& c) { c.alpha = true; }),
         {},
         "0x0: Hap still alpha unsized Aspect Ratio"},
        {configured(OutputCodec::hapQ,
                    [](auto& c) {
                        c.resize = {true, 640, 480, ResizeMode::fill};
                    }),
         withFilters(true), "640x480: Hap still Q 640x480 Fill filters"},
        {configured(OutputCodec::dxv2,
                    [](auto& c) {
                        c.alpha = true;
                        c.dxvHighQuality = true;
                    }),
         withFilters(false), "0x0: DXV2 still alpha unsized Aspect Ratio"},
        {configured(OutputCodec::dxv3, [](auto& c) { c.dxvHighQuality = true; }),
         {},
         "0x0: DXV3 still hq unsized Aspect Ratio"},
    };
    for (const auto& row : rows) {
        const EncodeRoute route = stillClipRoute(row.configuration, row.batch, 7.5);
        EXPECT_EQ(test::describe(route), row.route);
        const StillClip& clip = std::holds_alternative<HapStillRequest>(route.encoder)
                                    ? std::get<HapStillRequest>(route.encoder).clip
                                    : std::get<DXVStillRequest>(route.encoder).clip;
        EXPECT_EQ(clip.durationSeconds, 7.5);
        EXPECT_EQ(clip.frameRate, 30);
    }
    EXPECT_THROW(stillClipRoute(configured(OutputCodec::png, [](auto&) {})), std::invalid_argument);
    EXPECT_THROW(stillClipRoute(configured(OutputCodec::notchLC, [](auto&) {})), EncodingError);
    EXPECT_THROW(stillClipRoute(configured(OutputCodec::hevcAlpha, [](auto&) {})), EncodingError);
}

// Still image sources on the platform codecs: the route holds the writer's choices (the H.264 settings for H.264
// alone), and the movie encoder made once the picture (1001 × 751 here) is known asks for 8-bit frames composited on
// black (never alpha): the asked box as it is, one side more where it is odd for H.264 and HEVC, the picture fitted
// whole in it; the picture's own size made even without a box.
TEST(EncodeRoute, StillImagesMakePlatformMovies) {
    struct Row {
        ExportConfiguration configuration;
        BatchInputs batch;
        std::string route;
        std::string movie;
    };
    const Row rows[] = {
        {configured(OutputCodec::proRes, [](auto& c) { c.alpha = true; }),
         {},
         "0x0: ProRes still unsized Aspect Ratio",
         "0x0: ProRes 4444 1002x752 | frames 1002x752 Aspect Ratio"},
        {configured(OutputCodec::proRes,
                    [](auto& c) {
                        c.tenBit = true;
                        c.resize = {true, 501, 375, ResizeMode::aspect};
                    }),
         {},
         "501x375: ProRes still 501x375 Aspect Ratio",
         "0x0: ProRes 422 HQ 501x375 | frames 501x375 Fit"},
        {configured(OutputCodec::h264,
                    [](auto& c) {
                        c.tenBit = true;
                        c.resize = {true, 640, 480, ResizeMode::fill};
                    }),
         withFilters(true), "640x480: H.264 still h264 640x480 Fill filters",
         "0x0: H.264 640x480 High 1179648 | frames 640x480 Fill filters"},
        {configured(OutputCodec::h264,
                    [](auto& c) {
                        c.resize = {true, 0, 101, ResizeMode::pixelPerfect};
                    }),
         {},
         "0x101: H.264 still h264 0x101 Pixel Perfect",
         "0x0: H.264 2x102 High 100000 | frames 2x102 Pixel Perfect"},
        {configured(OutputCodec::hevc,
                    [](auto& c) {
                        c.tenBit = true;
                        c.h264.profile = VideoProfile::main;
                        c.resize = {true, 501, 501, ResizeMode::aspect};
                    }),
         tagged(ColorTag::pq), "501x501: HEVC still 501x501 Aspect Ratio",
         "0x0: HEVC 502x502 tagged | frames 502x502 Fit"},
    };
    for (const auto& row : rows) {
        const EncodeRoute route = stillClipRoute(row.configuration.resolvingAlpha(), row.batch, 2);
        EXPECT_EQ(test::describe(route), row.route);
        const auto& request = std::get<StillMovieRequest>(route.encoder);
        EXPECT_EQ(request.clip.durationSeconds, 2);
        const MovieEncoder movie = stillMovieEncoder(request, {1001, 751});
        EXPECT_EQ(test::describe({{0, 0}, movie}), row.movie);
        EXPECT_TRUE(movie.stripAudio);
    }
}

TEST(EncodeRoute, MovieEncodersGetTheBatchSound) {
    BatchInputs batch;
    batch.loudnessGain = 0.5f;
    batch.audio.downmixMono = batch.audio.preserveAllTracks = true;
    batch.audio.sampleRate = 44100;
    MovieMetadata metadata;
    metadata.title = "Take";
    batch.metadata = metadata;
    const TrimRange trim{1.5, 4.0};
    const auto trimmed = [&](OutputCodec codec) { return configured(codec, [&](auto& c) { c.trim = trim; }); };

    const auto platform =
        std::get<MovieEncoder>(encodeRoute(trimmed(OutputCodec::h264), IntSize{64, 64}, batch).encoder);
    EXPECT_EQ(platform.audioGain, 0.5f);
    EXPECT_TRUE(platform.downmixMono);
    EXPECT_FALSE(platform.stripAudio);
    EXPECT_EQ(platform.sampleRate, 44100);
    EXPECT_TRUE(platform.preserveAllAudioTracks);
    EXPECT_EQ(platform.trim, trim);
    EXPECT_EQ(platform.metadata, metadata);

    batch.audio.stripAudio = true;
    batch.audio.downmixMono = false;
    const auto hap = std::get<HapRequest>(encodeRoute(trimmed(OutputCodec::hap), IntSize{64, 64}, batch).encoder);
    EXPECT_EQ(hap.sound.gain, 0.5f);
    EXPECT_TRUE(hap.sound.strip);
    EXPECT_FALSE(hap.sound.downmixMono);
    EXPECT_EQ(hap.sound.trim, trim);
}

TEST(EncodeRoute, RefusesWhatCannotBeMade) {
    EXPECT_THROW(encodeRoute(configured(OutputCodec::notchLC, [](auto&) {}), IntSize{64, 64}), EncodingError);
    EXPECT_THROW(encodeRoute(configured(OutputCodec::hevc, [](auto& c) { c.alpha = true; }), IntSize{64, 64}),
                 EncodingError);
    EXPECT_THROW(encodeRoute(configured(OutputCodec::proRes, [](auto&) {}), std::nullopt), std::invalid_argument);
}

// HEVC's encoder takes no side under 16 pixels: refused on the route, with the smallest size and the one asked for,
// before any file is made; the other codecs take any size down to 2 × 2.
TEST(EncodeRoute, RefusesHEVCFramesUnderItsSmallestSize) {
    struct Row {
        OutputCodec codec;
        IntSize source;
        ResizeSettings resize;
        std::string failure;  // empty: routed
    };
    const std::string smallest =
        "Writing failed: HEVC needs pictures of at least 16\u00d716 pixels; this one would be ";
    const Row rows[] = {
        {OutputCodec::hevc, {16, 16}, {}, ""},
        {OutputCodec::hevc, {14, 100}, {}, smallest + "14\u00d7100"},
        {OutputCodec::hevc, {2, 2}, {}, smallest + "2\u00d72"},
        {OutputCodec::hevc, {1920, 1080}, {true, 100, 10, ResizeMode::fill}, smallest + "100\u00d710"},
        {OutputCodec::hevc, {1920, 1080}, {true, 16, 16, ResizeMode::fill}, ""},
        {OutputCodec::h264, {2, 2}, {}, ""},
        {OutputCodec::proRes, {2, 2}, {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(rawValue(row.codec)) + " " + test::sizeText(row.source));
        const ExportConfiguration configuration = configured(row.codec, [&](auto& c) { c.resize = row.resize; });
        if (row.failure.empty()) {
            EXPECT_NO_THROW(encodeRoute(configuration, row.source));
            continue;
        }
        try {
            encodeRoute(configuration, row.source);
            ADD_FAILURE() << "routed";
        } catch (const EncodingError& error) {
            EXPECT_EQ(error.what(), row.failure);
        }
    }
    // A still image: its clip is routed before the picture is read, and refused once its size is known.
    const EncodeRoute still = stillClipRoute(configured(OutputCodec::hevc, [](auto&) {}));
    const auto& request = std::get<StillMovieRequest>(still.encoder);
    EXPECT_THROW(stillMovieEncoder(request, {1, 1}), EncodingError);
    EXPECT_NO_THROW(stillMovieEncoder(request, {16, 15}));
}

}  // namespace
}  // namespace fw
