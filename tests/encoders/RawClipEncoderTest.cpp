// Camera-RAW plug-ins end to end: registration through the exported C
// function (a plug-in built into this program and one loaded as a shared
// object), clips encoded to ProRes and read back by FFmpeg, and plug-ins that
// answer nonsense.

#include "encoders/RawClipEncoder.h"
#include "encoders/RawDecoderRegistry.h"
#include "model/EncodingError.h"
#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

extern "C" FWRawDecoderPlugin patternRawPlugin(void);
extern "C" long long patternRawFramesOutstanding(void);

namespace fw {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<RawClip> openWith(const std::string& identifier, const fs::path& file) {
    auto decoder = RawDecoderRegistry::shared().decoder(file);
    if (!decoder || decoder->identifier() != identifier) return nullptr;
    return decoder->open(file);
}

RawClipEncoder proResEncoder(std::shared_ptr<RawClip> clip, int width, int height) {
    RawClipEncoder encoder;
    encoder.clip = std::move(clip);
    encoder.videoSettings =
        *videoSettings(OutputCodec::proRes, width, height, ProResVariant::standard, std::nullopt, std::nullopt);
    encoder.scaling.width = width;
    encoder.scaling.height = height;
    encoder.scaling.mode = ResizeMode::fit;
    return encoder;
}

// The shared object, loaded once: its constructor registers it.
void* loadSharedPlugin() {
    static void* handle = dlopen(FW_TEST_RAW_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

TEST(RawClipEncoder, SharedObjectPluginClipsEncodeToProResWithEveryFrameAtItsTime) {
    void* plugin = loadSharedPlugin();
    ASSERT_NE(plugin, nullptr) << dlerror();
    const auto* registration = static_cast<const int*>(dlsym(plugin, "patternRawRegistration"));
    ASSERT_NE(registration, nullptr);
    EXPECT_EQ(*registration, FW_RAW_REGISTERED);
    const auto outstanding = reinterpret_cast<long long (*)()>(dlsym(plugin, "patternRawFramesOutstanding"));
    ASSERT_NE(outstanding, nullptr);

    struct Case {
        const char* name;
        double rate;  // the rate the frames are stamped at
        int frames;
    };
    const Case cases[] = {
        {"64x36_10f_24000m_ok0.fwrawso", 24, 10},
        {"66x38_41f_23976m_ok0.fwrawso", 23.976, 41},  // frame 40 at 1001/600 s
        {"64x36_12f_1000000m_ok0.fwrawso", 1000, 12},  // above 600 fps: still one tick per frame at least
        {"64x36_6f_0m_ok0.fwrawso", 24, 6},            // no rate: 24
        {"64x36_6f_30000m_nan0.fwrawso", 24, 6},       // not a number: 24
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto clip = openWith("test.pattern.shared", dir / c.name);
        ASSERT_NE(clip, nullptr);
        const int width = static_cast<int>(clip->width()), height = static_cast<int>(clip->height());
        const fs::path out = dir / (std::string(c.name) + ".mov");
        double lastProgress = 0;
        proResEncoder(clip, width, height).encode(out, [&](double fraction) { lastProgress = fraction; }, {});
        EXPECT_EQ(lastProgress, 1.0);
        EXPECT_EQ(outstanding(), 0) << "every plug-in frame is released";

        const test::Json probed = test::probe(out, {"-show_entries", "packet=pts"});
        const test::Json video = test::streamOf(probed, "video");
        EXPECT_EQ(test::fieldsOf(video, {"codec_name", "width"}), "prores " + std::to_string(width));
        const std::string timeBase = video.value("time_base", "");
        const double ticksPerSecond = std::stod(timeBase.substr(timeBase.find('/') + 1));
        std::vector<double> seconds;
        for (const auto& packet : probed.value("packets", test::Json::array()))
            seconds.push_back(test::number(packet["pts"]) / ticksPerSecond);
        ASSERT_EQ(static_cast<int>(seconds.size()), c.frames);
        // Up to 60 fps on the 1/600 s clock; faster clips exactly.
        const double tolerance = c.rate > 60 ? 1e-9 : 0.5 / 600;
        for (int i = 0; i < c.frames; ++i) EXPECT_NEAR(seconds[i], i / c.rate, tolerance) << "frame " << i;
        if (c.rate == 23.976) {
            EXPECT_DOUBLE_EQ(seconds[40] * 600, 1001);
        }

        // The pictures come out in the plug-in's order: red tells the frame.
        const std::vector<std::uint8_t> pixels = test::ffmpegRaw(out, "bgra", c.frames);
        ASSERT_EQ(pixels.size(), static_cast<std::size_t>(width) * height * 4 * c.frames);
        for (int i = 0; i < c.frames; ++i) {
            const std::size_t centre = (static_cast<std::size_t>(i) * width * height +
                                        static_cast<std::size_t>(height / 2) * width + width / 2) *
                                       4;
            EXPECT_NEAR(pixels[centre + 2], 16 + (i * 23) % 224, 6) << "frame " << i;
        }
    }
}

// Each fails the encode, leaves an earlier output as it was and nothing staged, and releases every frame it took; a
// stop (the rows without a detail, at the first frame of a million) ends the encode before the next frame.
TEST(RawClipEncoder, MalformedPluginAnswersAndStopsFailCleanlyAndReleaseEveryFrame) {
    const FWRawDecoderPlugin builtin = patternRawPlugin();
    ASSERT_EQ(FWRawDecoderRegistryRegisterPlugin(&builtin), FW_RAW_REGISTERED);
    struct Case {
        const char* name;
        const char* detail;
    };
    const Case cases[] = {
        {"64x36_0f_24000m_ok0.fwraw", "clip has no frames"},
        {"64x36_-5f_24000m_ok0.fwraw", "clip has no frames"},
        {"40000x36_4f_24000m_ok0.fwraw", "clip size 40000×36 is not usable"},
        {"64x-36_4f_24000m_ok0.fwraw", "clip size 64×-36 is not usable"},
        {"64x36_4f_2000000000000m_ok0.fwraw", "clip frame rate 2e+09 is not usable"},
        {"64x36_9223372036854775807f_24000m_ok0.fwraw", "clip is too long"},
        {"64x36_6f_24000m_fail3.fwraw", "frame 3"},
        {"64x36_6f_24000m_fail0.fwraw", "frame 0"},
        {"64x36_6f_24000m_short2.fwraw", "frame 2"},
        {"64x36_6f_24000m_huge1.fwraw", "frame 1"},
        {"64x36_1000000f_24000m_ok0.fwraw", nullptr},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto clip = openWith("test.pattern.builtin", dir / c.name);
        ASSERT_NE(clip, nullptr);
        const fs::path out = dir / "out.mov";
        std::ofstream(out) << "earlier";
        std::stop_source stop;
        const auto stopAtOnce = [&](double) {
            if (!c.detail) stop.request_stop();
        };
        const auto failure =
            test::failureOf([&] { proResEncoder(clip, 64, 36).encode(out, stopAtOnce, {}, stop.get_token()); });
        EXPECT_EQ(failure.kind, c.detail ? EncodingError::Kind::rawDecodeFailed : EncodingError::Kind::cancelled);
        EXPECT_EQ(failure.message, c.detail ? "RAW decode failed: " + std::string(c.detail) : "The job was cancelled.");
        EXPECT_EQ(test::textOf(out), "earlier");
        EXPECT_EQ(test::entriesIn(dir.path()), 1) << "nothing staged is left";
        EXPECT_EQ(patternRawFramesOutstanding(), 0);
    }
    // A name the plug-in cannot open.
    const auto decoder = RawDecoderRegistry::shared().decoder(dir / "1x1_1f_1m_ok0.fwraw");
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(test::failureOf([&] { decoder->open(dir / "unreadable.fwraw"); }).message,
              "RAW decode failed: the plug-in could not open unreadable.fwraw");
}

// Plug-ins that open every ".order" file, told apart by their identifier.
int opensOrderFiles(void*, const char* path) { return fs::path(path).extension() == ".order"; }
FWRawClipHandle* opensNothing(void*, const char*) { return nullptr; }

TEST(RawDecoderRegistry, ALaterRegistrationWithTheSameIdentifierReplacesTheEarlierAtTheEnd) {
    FWRawDecoderPlugin plugin = patternRawPlugin();
    plugin.canOpen = opensOrderFiles;
    plugin.openClip = opensNothing;
    auto registerAs = [&](const char* identifier) {
        plugin.identifier = identifier;
        return FWRawDecoderRegistryRegisterPlugin(&plugin);
    };
    EXPECT_EQ(RawDecoderRegistry::shared().decoder("clip.order"), nullptr);
    ASSERT_EQ(registerAs("order.a"), FW_RAW_REGISTERED);
    ASSERT_EQ(registerAs("order.b"), FW_RAW_REGISTERED);
    EXPECT_EQ(RawDecoderRegistry::shared().decoder("clip.order")->identifier(), "order.a");
    ASSERT_EQ(registerAs("order.a"), FW_RAW_REGISTERED);
    EXPECT_EQ(RawDecoderRegistry::shared().decoder("clip.order")->identifier(), "order.b");

    // Incomplete or foreign tables are refused and change nothing.
    FWRawDecoderPlugin later = plugin;
    later.identifier = "order.c";
    later.apiVersion = FW_RAW_PLUGIN_API_VERSION + 1;
    EXPECT_EQ(FWRawDecoderRegistryRegisterPlugin(&later), FW_RAW_UNSUPPORTED_VERSION);
    later.apiVersion = FW_RAW_PLUGIN_API_VERSION;
    later.copyFrame = nullptr;
    EXPECT_EQ(FWRawDecoderRegistryRegisterPlugin(&later), FW_RAW_INCOMPLETE_PLUGIN);
    EXPECT_EQ(FWRawDecoderRegistryRegisterPlugin(nullptr), FW_RAW_INCOMPLETE_PLUGIN);
    EXPECT_EQ(RawDecoderRegistry::shared().decoder("clip.order")->identifier(), "order.b");
}

}  // namespace
}  // namespace fw
