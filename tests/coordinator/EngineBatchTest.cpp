// Real batches through the engine's encoders: mixed routes under a parallel
// limit, and loudness normalisation checked by our meter and by libebur128.

#include "../pipeline/LoudnessOracle.h"
#include "../pipeline/PipelineTestSupport.h"
#include "CoordinatorTestSupport.h"
#include "encoders/RawDecoderPlugin.h"
#include "model/EncodingError.h"
#include "pipeline/LoudnessAnalyzer.h"
#include "support/DamagedMedia.h"
#include "support/Outputs.h"
#include "support/PictureShape.h"
#include "support/Probe.h"

#include <QTest>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>

#include <gtest/gtest.h>

extern "C" FWRawDecoderPlugin patternRawPlugin(void);

namespace fw::test {
namespace {

namespace fs = std::filesystem;

ExportConfiguration output(OutputCodec codec) {
    ExportConfiguration configuration;
    configuration.codec = codec;
    return configuration;
}

struct EngineBatch : CoordinatorFixture {
    std::unique_ptr<TestCoordinator> coordinator = make();

    fs::path source(const std::string& name, const std::vector<std::string>& arguments) {
        const fs::path made = generated(name, arguments);
        EXPECT_FALSE(made.empty());
        fs::copy_file(made, folder / name);
        return folder / name;
    }
    // An H.264 test pattern at 10 fps with `sound` (a lavfi source, a tone if empty) in `audioCodec`.
    fs::path movie(const std::string& name, const std::string& size, int seconds, std::string sound = {},
                   const std::string& audioCodec = "aac") {
        const std::string duration = "duration=" + std::to_string(seconds);
        return source(name, {"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=10:" + duration, "-f", "lavfi", "-i",
                             sound.empty() ? "sine=frequency=440:" + duration : sound, "-c:v", "libx264", "-pix_fmt",
                             "yuv420p", "-c:a", audioCodec, "-shortest"});
    }
    void run(void (EncodingCoordinator::*start)() = &EncodingCoordinator::startEncoding,
             const std::function<void()>& afterStart = {}) {
        (coordinator.get()->*start)();
        ASSERT_TRUE(coordinator->isRunning());
        if (afterStart) afterStart();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !coordinator->isRunning(); }, 50000));
    }
};

std::string videoCodec(const fs::path& file) { return streamOf(probe(file), "video").value("codec_name", ""); }

TEST(EngineBatch, MixedRoutesEncodeUnderAParallelLimit) {
    EngineBatch batch;
    const fs::path movie = batch.movie("caf\xe9.mov", "96x64", 1);  // a Latin-1 name, read and written as its bytes
    const fs::path still = batch.source("still.png", {"-f", "lavfi", "-i", "testsrc2=size=70x50", "-frames:v", "1"});
    const fs::path sound = batch.source("sound.wav", {"-f", "lavfi", "-i", "sine=frequency=440:duration=1"});
    batch.coordinator->addFiles({movie, still, sound}, EncodingCoordinator::Duplicates::allowed);
    const auto& jobs = batch.coordinator->jobs();
    std::vector<JobOutputSpec> movieOutputs;
    for (OutputCodec codec : {OutputCodec::proRes, OutputCodec::h264, OutputCodec::hap, OutputCodec::dxv3,
                              OutputCodec::gif, OutputCodec::png})
        movieOutputs.emplace_back(std::string(rawValue(codec)), output(codec));
    jobs[0]->setOutputs(movieOutputs);
    jobs[1]->setOutputs({JobOutputSpec("q", output(OutputCodec::hapQ)), JobOutputSpec("p", output(OutputCodec::png))});
    batch.coordinator->setImageSequence(true);
    batch.coordinator->setMaxConcurrentJobs(2);
    batch.run();

    for (const auto& job : jobs)
        EXPECT_EQ(job->status(), EncodeJob::Status::finished) << job->errorMessage().value_or("");
    const auto movieFiles = batch.coordinator->writtenOutputs(*jobs[0]);
    ASSERT_EQ(movieFiles.size(), 6u);
    const char* expected[] = {"prores", "h264", "hap", "dxv", "gif"};
    for (int index = 0; index < 5; ++index) EXPECT_EQ(videoCodec(movieFiles[index]), expected[index]);
    EXPECT_EQ(movieFiles[0], batch.folder / "caf\xe9_ProRes.mov");
    // A movie's PNG output is every frame, in a folder of its own.
    ASSERT_TRUE(fs::is_directory(movieFiles[5]));
    EXPECT_EQ(std::distance(fs::directory_iterator(movieFiles[5]), fs::directory_iterator{}), 10);
    const auto stillFiles = batch.coordinator->writtenOutputs(*jobs[1]);
    ASSERT_EQ(stillFiles.size(), 2u);
    EXPECT_EQ(videoCodec(stillFiles[0]), "hap");
    EXPECT_EQ(streamOf(probe(stillFiles[1]), "video").value("width", 0), 70);
    // Sound without pictures is written as sound alone, whatever the codec.
    const auto soundFiles = batch.coordinator->writtenOutputs(*jobs[2]);
    ASSERT_EQ(soundFiles.size(), 1u);
    EXPECT_EQ(soundFiles[0], batch.folder / "sound_audio.m4a");
    EXPECT_EQ(streamCount(probe(soundFiles[0]), "video"), 0);
    EXPECT_EQ(streamOf(probe(soundFiles[0]), "audio").value("codec_name", ""), "aac");
    EXPECT_EQ(batch.history.records().size(), 3u);
}

// A picture is a still by its content, whatever its name: a clip of it, and one picture rather than a folder of them.
// A PAL 4:3 clip (pixels 16:15, stored at 1.25) keeps the shape a player shows on the window's routes, whatever mode
// places it: a still, a GIF and movies, fitted into a square, at 1:1 and at its own size.
TEST(EngineBatch, NonSquarePixelsKeepTheirDisplayedShape) {
    EngineBatch batch;
    const fs::path clip =
        batch.source("pal.mov", {"-f", "lavfi", "-i", "color=c=white:size=180x144:rate=10:duration=0.3", "-vf",
                                 "setsar=16/15", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    batch.coordinator->addFiles({clip}, EncodingCoordinator::Duplicates::allowed);
    struct Row {
        OutputCodec codec;
        bool resize;
        ResizeMode mode;
    };
    const Row rows[] = {{OutputCodec::png, true, ResizeMode::fit},
                        {OutputCodec::png, false, ResizeMode::fit},
                        {OutputCodec::jpeg, true, ResizeMode::pixelPerfect},
                        {OutputCodec::gif, true, ResizeMode::fit},
                        {OutputCodec::h264, true, ResizeMode::fit},
                        {OutputCodec::hap, true, ResizeMode::fit},
                        {OutputCodec::proRes, true, ResizeMode::pixelPerfect}};
    std::vector<JobOutputSpec> outputs;
    for (const Row& row : rows) {
        ExportConfiguration configuration = output(row.codec);
        configuration.resize = {row.resize, 300, 300, row.mode};
        outputs.emplace_back(std::to_string(outputs.size()), configuration);
    }
    batch.coordinator->jobs()[0]->setOutputs(outputs);
    batch.run();
    const auto& job = *batch.coordinator->jobs()[0];
    ASSERT_EQ(job.status(), EncodeJob::Status::finished) << job.errorMessage().value_or("");
    const auto files = batch.coordinator->writtenOutputs(job);
    ASSERT_EQ(files.size(), std::size(rows));
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const auto bounds = brightBounds(file);
        ASSERT_TRUE(bounds);
        // Within a pixel, give or take an edge the scaling blurred.
        EXPECT_LE(bounds->widthOffBy(4.0 / 3.0), 1.5) << *bounds;
    }
}

TEST(EngineBatch, APictureNamedAsAMovieIsEncodedAsAStill) {
    EngineBatch batch;
    const fs::path picture = batch.source(
        "photo.mov", {"-f", "lavfi", "-i", "testsrc2=size=70x50", "-frames:v", "1", "-c:v", "png", "-f", "image2"});
    batch.coordinator->addFiles({picture}, EncodingCoordinator::Duplicates::allowed);
    const auto& jobs = batch.coordinator->jobs();
    ASSERT_EQ(jobs.size(), 1u);
    jobs[0]->setOutputs({JobOutputSpec("h", output(OutputCodec::h264)), JobOutputSpec("p", output(OutputCodec::png))});
    batch.coordinator->setImageSequence(true);
    batch.run();

    EXPECT_EQ(jobs[0]->status(), EncodeJob::Status::finished) << jobs[0]->errorMessage().value_or("");
    const auto files = batch.coordinator->writtenOutputs(*jobs[0]);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].extension(), ".mp4");
    EXPECT_EQ(videoCodec(files[0]), "h264");
    EXPECT_TRUE(fs::is_regular_file(files[1])) << files[1];
    EXPECT_EQ(streamOf(probe(files[1]), "video").value("width", 0), 70);
}

TEST(EngineBatch, TheSettingsAtStartReachTheWriterAndLaterChangesWaitForTheNextBatch) {
    EngineBatch batch;
    batch.coordinator->addFiles({batch.movie("tagged.mov", "64x48", 1)}, EncodingCoordinator::Duplicates::allowed);
    batch.coordinator->setColor({true, ColorTag::rec2020});
    MetadataSettings metadata;
    metadata.enabled = true;
    metadata.title = "Harbour at dusk";
    batch.coordinator->setMetadata(metadata);
    batch.run(&EncodingCoordinator::startEncoding, [&] {
        batch.coordinator->setColor({});
        batch.coordinator->setMetadata({});
        batch.coordinator->setSelectedCodec(OutputCodec::h264);
    });
    const Json probed = probe(*batch.coordinator->jobs().front()->outputURL());
    const Json video = streamOf(probed, "video");
    EXPECT_EQ(video.value("codec_name", ""), "prores");
    EXPECT_EQ(video.value("color_primaries", ""), "bt2020");
    EXPECT_EQ(probed["format"]["tags"].value("com.apple.quicktime.title", ""), "Harbour at dusk");
}

// A proxy is made with the pictures as they are (no filters, no loudness),
// but carries the colour tags, metadata and captions of any output.
TEST(EngineBatch, ProxiesCarryTagsMetadataAndCaptions) {
    EngineBatch batch;
    batch.coordinator->addFiles({batch.movie("tagged.mov", "96x64", 1)}, EncodingCoordinator::Duplicates::allowed);
    std::ofstream(batch.folder / "captions.srt") << "1\n00:00:00,100 --> 00:00:00,900\nHello\n";
    batch.coordinator->setColor({true, ColorTag::rec2020});
    MetadataSettings metadata;
    metadata.enabled = true;
    metadata.title = "Harbour at dusk";
    metadata.captionsEnabled = true;
    metadata.captionSourceURL = batch.folder / "captions.srt";
    batch.coordinator->setMetadata(metadata);
    batch.run(&EncodingCoordinator::startProxies);

    const auto& job = *batch.coordinator->jobs().front();
    EXPECT_EQ(job.status(), EncodeJob::Status::waiting) << job.errorMessage().value_or("");
    const fs::path proxy = batch.folder / "tagged_proxy.mov";
    ASSERT_TRUE(fs::exists(proxy));
    const Json probed = probe(proxy);
    const Json video = streamOf(probed, "video");
    EXPECT_EQ(video.value("codec_name", ""), "prores");
    EXPECT_EQ(video.value("color_primaries", ""), "bt2020");
    EXPECT_EQ(probed["format"]["tags"].value("com.apple.quicktime.title", ""), "Harbour at dusk");
    std::ifstream sidecar(batch.folder / "tagged_proxy.vtt");
    const std::string captions((std::istreambuf_iterator<char>(sidecar)), std::istreambuf_iterator<char>());
    EXPECT_EQ(captions, "WEBVTT\n\n00:00:00.100 --> 00:00:00.900\nHello\n\n");
}

TEST(EngineBatch, CameraRawClipsEncodeThroughTheirPlugin) {
    static const FWRawDecoderPlugin plugin = patternRawPlugin();
    ASSERT_EQ(FWRawDecoderRegistryRegisterPlugin(&plugin), FW_RAW_REGISTERED);
    EngineBatch batch;
    // A clip, one refused for its codec, and one whose maker has no plugin.
    batch.coordinator->addFiles(
        {touch(batch.folder / "64x36_10f_24000m_ok0.braw"), touch(batch.folder / "64x36_4f_24000m_ok0-hap.braw"),
         touch(batch.folder / "A001.r3d")},
        EncodingCoordinator::Duplicates::allowed);
    const auto& jobs = batch.coordinator->jobs();
    ASSERT_EQ(jobs.size(), 3u);
    jobs[1]->setOutputs({JobOutputSpec("hap", output(OutputCodec::hap))});
    batch.coordinator->setAudio({.normalizeLoudness = true});  // never measured on a RAW clip
    batch.coordinator->setTrimEnabled(true);                   // nor trimmed
    batch.coordinator->setTrimStart(0.2);
    batch.run();

    ASSERT_EQ(jobs[0]->status(), EncodeJob::Status::finished) << jobs[0]->errorMessage().value_or("");
    const Json video = streamOf(probe(*jobs[0]->outputURL(), {"-count_frames"}), "video");
    EXPECT_EQ(video.value("codec_name", ""), "prores");
    EXPECT_EQ(video.value("width", 0), 64);
    EXPECT_EQ(video.value("nb_read_frames", ""), "10");
    EXPECT_EQ(jobs[1]->status(), EncodeJob::Status::failed);
    EXPECT_EQ(jobs[1]->errorMessage(), "Hap from RAW \u2014 choose ProRes, H.264, or HEVC");
    EXPECT_EQ(jobs[2]->status(), EncodeJob::Status::failed);
    EXPECT_EQ(jobs[2]->errorMessage(), EncodingError::rawDecoderUnavailable("r3d").what());
    EXPECT_EQ(std::count_if(fs::directory_iterator(batch.folder.path()), fs::directory_iterator{},
                            [](const auto& entry) { return entry.path().string().find(".mov") != std::string::npos; }),
              1);
}

// A source whose pictures start 3 s after its sound finishes on every movie route, and frees its slot of the batch
// for the next job.
TEST(EngineBatch, PicturesStartingAfterTheSoundFinishAndFreeTheirSlot) {
    EngineBatch batch;
    const fs::path late = batch.source(
        "late.mp4", {"-itsoffset", "3", "-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=2", "-f", "lavfi",
                     "-i", "sine=duration=5", "-fps_mode", "passthrough", "-c:v", "libx264", "-c:a", "aac"});
    batch.coordinator->addFiles({late, batch.movie("after.mov", "96x64", 1)}, EncodingCoordinator::Duplicates::allowed);
    const auto& jobs = batch.coordinator->jobs();
    std::vector<JobOutputSpec> outputs;
    for (OutputCodec codec : {OutputCodec::h264, OutputCodec::proRes, OutputCodec::hap})
        outputs.emplace_back(std::string(rawValue(codec)), output(codec));
    jobs[0]->setOutputs(outputs);
    batch.coordinator->setMaxConcurrentJobs(1);
    batch.run();

    for (const auto& job : jobs)
        EXPECT_EQ(job->status(), EncodeJob::Status::finished) << job->errorMessage().value_or("");
    const auto files = batch.coordinator->writtenOutputs(*jobs[0]);
    ASSERT_EQ(files.size(), 3u);
    for (const fs::path& file : files) {
        const Json probed = probe(file, {"-count_packets"}), video = streamOf(probed, "video");
        EXPECT_EQ(fieldsOf(video, {"nb_read_packets"}), "50") << file;
        EXPECT_NEAR(number(video["start_time"]), 3.0, 0.01) << file;
        EXPECT_NEAR(number(streamOf(probed, "audio")["start_time"]), 0.0, 0.03) << file;
    }
}

TEST(EngineBatch, AStitchJoinsThePendingClipsIntoOneMovie) {
    EngineBatch batch;
    batch.coordinator->addFiles({batch.movie("first.mov", "96x64", 1), batch.movie("second.mov", "64x48", 2)},
                                EncodingCoordinator::Duplicates::allowed);
    batch.run(&EncodingCoordinator::startStitch);
    const auto& result = *batch.coordinator->jobs().back();
    ASSERT_EQ(result.status(), EncodeJob::Status::finished) << result.errorMessage().value_or("");
    EXPECT_EQ(result.outputURL(), batch.folder / "stitched_ProRes.mov");
    const Json video = streamOf(probe(*result.outputURL(), {"-count_frames"}), "video");
    EXPECT_EQ(video.value("codec_name", ""), "prores");
    EXPECT_EQ(video.value("width", 0), 96);  // the first clip's frame
    EXPECT_EQ(video.value("height", 0), 64);
    EXPECT_EQ(video.value("nb_read_frames", ""), "30");
    EXPECT_NEAR(number(probe(*result.outputURL())["format"]["duration"]), 3.0, 0.1);
}

// A source cut short between packets, its index whole, fails on the window's routes as on the command line: every
// output of its job, a sound's own route, and a stitch it is part of. Each says how far it reached, the history keeps a
// failure and no output is left.
TEST(EngineBatch, ASourceCutShortFailsItsJobsAndLeavesNoOutput) {
    EngineBatch batch;
    const auto ten = [](const std::string& name, std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"-movflags", "+faststart"});
        return generated(name, arguments);
    };
    const fs::path movie = ten("ten.mov", {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=10:duration=10", "-f",
                                           "lavfi", "-i", "sine=duration=10", "-c:v", "libx264", "-c:a", "aac"});
    const fs::path sound = ten("ten.m4a", {"-f", "lavfi", "-i", "sine=duration=10", "-c:a", "aac"});
    cutBeforePacket(movie, batch.folder / "cut.mov", "video", 6);
    cutBeforePacket(sound, batch.folder / "cut.m4a", "audio", 6);
    // A job of its own for each route: a job ends at its first failing output.
    const OutputCodec codecs[] = {OutputCodec::proRes, OutputCodec::hap, OutputCodec::gif, OutputCodec::png};
    batch.coordinator->addFiles({batch.folder / "cut.m4a"}, EncodingCoordinator::Duplicates::allowed);
    for (std::size_t index = 0; index < std::size(codecs); ++index)
        batch.coordinator->addFiles({batch.folder / "cut.mov"}, EncodingCoordinator::Duplicates::allowed);
    const auto& jobs = batch.coordinator->jobs();
    for (std::size_t index = 0; index < std::size(codecs); ++index)
        jobs[index + 1]->setOutputs({JobOutputSpec(std::string(rawValue(codecs[index])), output(codecs[index]))});
    batch.coordinator->setImageSequence(true);
    const auto entries = [](const fs::path& folder) { return std::distance(fs::directory_iterator(folder), {}); };
    const auto before = entries(batch.folder.path());
    const auto expectCutShort = [](const EncodeJob& job, const std::string& name) {
        EXPECT_EQ(job.status(), EncodeJob::Status::failed);
        const std::string message = job.errorMessage().value_or("");
        EXPECT_TRUE(
            message.starts_with("Reading failed: The file \u201c" + name + "\u201d ends early. Decoding stopped at "))
            << message;
        EXPECT_TRUE(message.ends_with("s of 10.0s \u2014 the source file may be damaged or truncated.")) << message;
    };
    batch.run();
    ASSERT_EQ(jobs.size(), 5u);
    for (std::size_t index = 0; index < jobs.size(); ++index)
        expectCutShort(*jobs[index], index ? "cut.mov" : "cut.m4a");
    EXPECT_EQ(entries(batch.folder.path()), before);
    EXPECT_EQ(batch.history.records().size(), 5u);
    for (const auto& record : batch.history.records()) EXPECT_FALSE(record.succeeded) << record.sourceName;

    // Its proxy, and a stitch after a whole clip.
    EngineBatch joining;
    fs::copy_file(batch.folder / "cut.mov", joining.folder / "cut.mov");
    joining.coordinator->addFiles({joining.movie("first.mov", "96x64", 1), joining.folder / "cut.mov"},
                                  EncodingCoordinator::Duplicates::allowed);
    joining.run(&EncodingCoordinator::startProxies);
    expectCutShort(*joining.coordinator->jobs()[1], "cut.mov");
    EXPECT_FALSE(fs::exists(joining.folder / "cut_proxy.mov"));
    const auto stitchBefore = entries(joining.folder.path());
    joining.run(&EncodingCoordinator::startStitch);
    expectCutShort(*joining.coordinator->jobs().back(), "cut.mov");
    EXPECT_EQ(entries(joining.folder.path()), stitchBefore);
}

// Sound alone, 20 s by its header, on the window's own route for it. A copy cut at 40 % fails with how far it reached
// and leaves no output, whatever FFmpeg makes of the length of what is left (WAV, MP3 without a frame count: that);
// whole ones encode, a WAV whose sizes were never filled in (0 or 0xFFFFFFFF, as written to a pipe) included. A WAV's
// data chunk is found past any chunks before it, and float samples are counted as samples, whatever byte rate the
// header gives.
TEST(EngineBatch, ASoundCutShortOfTheLengthItsHeaderStatesFails) {
    EngineBatch batch;
    TempDir made;
    const auto twenty = [](const std::string& name, std::vector<std::string> codec) {
        codec.insert(codec.begin(), {"-f", "lavfi", "-i", "sine=duration=20"});
        return generated(name, codec);
    };
    const fs::path wav = twenty("twenty.wav", {"-c:a", "pcm_s16le"});
    // Float samples under the plain float tag (FFmpeg writes the extensible one), with the byte rate of 16-bit ones; its
    // fact chunk gives FFmpeg the length.
    std::vector<std::uint8_t> floats = readFile(twenty("float.wav", {"-c:a", "pcm_f32le"}));
    const std::uint8_t floatTag[] = {3, 0}, halfRate[] = {0x88, 0x58, 0x01, 0x00};  // 88 200 bytes a second
    std::copy(std::begin(floatTag), std::end(floatTag), floats.begin() + 20);
    std::copy(std::begin(halfRate), std::end(halfRate), floats.begin() + 28);
    writeFile(made / "float.wav", floats);
    const fs::path tagged = withLeadingChunk(wav, made / "tagged.wav", 300'000),
                   odd = withLeadingChunk(wav, made / "odd.wav", 3);
    const struct Row {
        fs::path whole;
        std::string name;  // "cut…": cut at 40 %
        std::optional<std::uint32_t> dataSize = {};
        double stopsAt = 8.0;      // seconds, where cut
        bool lengthKnown = false;  // FFmpeg knows the length too, and takes the cut for damage
    } rows[] = {
        {wav, "cut-wav.wav"},
        {twenty("twenty.mp3", {"-c:a", "libmp3lame", "-q:a", "4"}), "cut-mp3.mp3"},
        {twenty("twenty.aiff", {"-c:a", "pcm_s16be"}), "cut-aiff.aiff"},
        {wav, "whole.wav"},
        {wav, "unsized.wav", 0xFFFFFFFF},
        {wav, "empty-sized.wav", 0},
        {twenty("plain.mp3", {"-c:a", "libmp3lame", "-write_xing", "0"}), "plain.mp3"},
        {tagged, "cut-tagged.wav", {}, 5.96},
        {tagged, "tagged.wav"},
        {odd, "cut-odd.wav"},
        {odd, "odd.wav"},
        {made / "float.wav", "cut-float.wav", {}, 8.0, true},
        {made / "float.wav", "float.wav"},
    };
    std::vector<fs::path> sources;
    for (const Row& row : rows) {
        std::vector<std::uint8_t> bytes = readFile(row.whole);
        if (row.name.starts_with("cut")) bytes.resize(bytes.size() * 4 / 10);
        if (row.dataSize) {
            const auto data = std::search(bytes.begin(), bytes.end(), std::begin("data"), std::end("data") - 1);
            ASSERT_NE(data, bytes.end());
            for (int i = 0; i < 4; ++i) data[4 + i] = static_cast<std::uint8_t>(*row.dataSize >> (8 * i));
        }
        writeFile(sources.emplace_back(batch.folder / row.name), bytes);
    }
    batch.coordinator->addFiles(sources, EncodingCoordinator::Duplicates::allowed);
    batch.run();
    const auto& jobs = batch.coordinator->jobs();
    ASSERT_EQ(jobs.size(), std::size(rows));
    for (std::size_t index = 0; index < std::size(rows); ++index) {
        const Row& row = rows[index];
        SCOPED_TRACE(row.name);
        const bool cut = row.name.starts_with("cut");
        const std::string message = jobs[index]->errorMessage().value_or("");
        EXPECT_EQ(jobs[index]->status(), cut ? EncodeJob::Status::failed : EncodeJob::Status::finished) << message;
        const fs::path output = batch.folder / (fs::path(row.name).stem().string() + "_audio.m4a");
        if (cut) {
            EXPECT_FALSE(fs::exists(output));
            const double stopped =
                row.lengthKnown ? stoppedAtDamage(message, row.name, "20.0") : stoppedAt(message, row.name, "20.0");
            EXPECT_NEAR(stopped, row.stopsAt, 0.3) << message;
        } else {
            EXPECT_NEAR(number(probe(output)["format"]["duration"]), 20.0, 0.1);
        }
    }
    for (const auto& record : batch.history.records())
        EXPECT_EQ(record.succeeded, !record.sourceName.starts_with("cut")) << record.sourceName;
}

// Clips of an odd size are joined into the next even size up, every frame
// there, whatever the codec (H.264 and HEVC store 2x2 chroma blocks, ProRes 2x1).
TEST(EngineBatch, AStitchOfOddSizedClipsComesOutEven) {
    // 4:4:4 keeps the odd size (4:2:0 cannot hold it).
    const std::vector<std::string> odd = {"-f",   "lavfi",   "-i",       "testsrc=size=321x241:rate=10:duration=1",
                                          "-c:v", "libx264", "-pix_fmt", "yuv444p"};
    const std::tuple<OutputCodec, const char*, const char*> cases[] = {
        {OutputCodec::h264, "h264", "stitched_H264.mp4"},
        {OutputCodec::hevc, "hevc", "stitched_HEVC.mp4"},
        {OutputCodec::proRes, "prores", "stitched_ProRes.mov"}};
    for (const auto& [codec, decoded, name] : cases) {
        SCOPED_TRACE(name);
        EngineBatch batch;
        batch.coordinator->addFiles({batch.source("odd1.mov", odd), batch.source("odd2.mov", odd)},
                                    EncodingCoordinator::Duplicates::allowed);
        batch.coordinator->setSelectedCodec(codec);
        batch.run(&EncodingCoordinator::startStitch);
        const auto& result = *batch.coordinator->jobs().back();
        ASSERT_EQ(result.status(), EncodeJob::Status::finished) << result.errorMessage().value_or("");
        EXPECT_EQ(result.outputURL(), batch.folder / name);
        const Json video = streamOf(probe(*result.outputURL(), {"-count_frames"}), "video");
        EXPECT_EQ(video.value("codec_name", ""), decoded);
        EXPECT_EQ(video.value("width", 0), 322);
        EXPECT_EQ(video.value("height", 0), 242);
        EXPECT_EQ(video.value("nb_read_frames", ""), "20");
        // The first clip's pictures, fitted whole into the even frame.
        const double quality = pipelinetest::psnr(batch.folder / "odd1.mov", *result.outputURL(), 322, 242);
        EXPECT_GT(quality, 24);  // the test pattern's sharp edges, resampled: about 27 dB
    }
}

TEST(EngineBatch, LoudnessLandsOnTheTargetUnderTheCeiling) {
    // A mono tone at about -32 LUFS, and a stereo one loud for 2 s then quiet,
    // trimmed to its quiet part: the gain must fit what the output holds.
    struct Case {
        const char* name;
        std::string sound;
        std::optional<TrimRange> trim;
    } const cases[] = {
        {"mono.mov", "aevalsrc=0.02*sin(2*PI*997*t):s=48000:d=4:c=mono", std::nullopt},
        {"trimmed.mov", "aevalsrc=if(lt(t\\,2)\\,0.5\\,0.01)*sin(2*PI*997*t):s=48000:d=4:c=stereo",
         TrimRange{2.0, 4.0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineBatch batch;
        batch.coordinator->addFiles({batch.movie(c.name, "64x48", 4, c.sound, "pcm_s16le")},
                                    EncodingCoordinator::Duplicates::allowed);
        batch.coordinator->setSelectedCodec(OutputCodec::h264);
        batch.coordinator->setAudio(
            {.normalizeLoudness = true, .targetLUFS = -16, .limitTruePeak = true, .truePeakCeilingDb = -1});
        if (c.trim) {
            batch.coordinator->setTrimEnabled(true);
            batch.coordinator->setTrimStart(c.trim->start);
            batch.coordinator->setTrimEnd(*c.trim->end);
        }
        batch.run();
        const auto& job = *batch.coordinator->jobs().front();
        ASSERT_EQ(job.status(), EncodeJob::Status::finished) << job.errorMessage().value_or("");
        const auto ours =
            LoudnessAnalyzer::measure(*job.outputURL(), std::nullopt, LoudnessMeter::Measurements::loudnessAndTruePeak);
        const Pcm pcm = decodePcm(*job.outputURL());
        EXPECT_EQ(pcm.channels, 2);
        const auto reference = oracleMeasure(pcm);
        ASSERT_TRUE(ours.integratedLUFS && reference.integratedLUFS && ours.truePeakDb);
        EXPECT_NEAR(*ours.integratedLUFS, -16, 0.5);
        EXPECT_NEAR(*reference.integratedLUFS, -16, 0.5);
        EXPECT_LE(*ours.truePeakDb, -1 + 0.1);
        EXPECT_LE(reference.truePeakDb, -1 + 0.1);
    }
}

}  // namespace
}  // namespace fw::test
