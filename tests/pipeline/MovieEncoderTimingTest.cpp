// Movie encoder timing and outcomes: the frame-rate grid on real sources, trims, damaged sources, cancelling,
// progress, and the destination on every outcome.

#include "PipelineTestSupport.h"

#include "pipeline/ConstantFrameRateGrid.h"
#include "pipeline/FrameOrientation.h"
#include "pipeline/FrameResizer.h"
#include "platform/media/ComposedSource.h"
#include "support/Pictures.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

namespace fw {
namespace {

using namespace pipelinetest;

// The times the grid gives for source frames at `sourceTimes`, on the output's clock.
std::vector<double> gridTimes(const std::vector<double>& sourceTimes, double start, double rate) {
    ConstantFrameRateGrid<int> grid(start, rate);
    std::vector<double> times;
    for (double t : sourceTimes) {
        grid.add(0, t);
        while (auto due = grid.nextPending()) times.push_back(due->time - start);
    }
    if (auto last = grid.finish()) times.push_back(last->time - start);
    return times;
}

// Grid times are stamped at 1/600 s.
void expectTimesNear(const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1.0 / 600) << "frame " << i;
}

MovieEncoder withTargetRate(MovieEncoder encoder, double rate, int width = 160, int height = 90) {
    encoder.scaling = frameRequest(width, height);
    encoder.scaling->targetFrameRate = rate;
    return encoder;
}

TEST(MovieEncoderTiming, ConstantFrameRateGridOnRealSources) {
    test::TempDir dir;
    // Off, a 29.97 source keeps its frames and rate.
    encode(encoderFor(OutputCodec::proRes, 160, 90), ntscClip(), dir / "ntsc.mov");
    EXPECT_EQ(streamOf(probe(dir / "ntsc.mov"), "video")["r_frame_rate"], "30000/1001");
    ASSERT_EQ(videoTimes(ntscClip()).size(), 30u);
    expectTimesNear(videoTimes(dir / "ntsc.mov"), videoTimes(ntscClip()));
    // 29.97 thinned to 25 in H.264; a jittered source evened out to 30 in ProRes.
    encode(withTargetRate(encoderFor(OutputCodec::h264, 160, 90), 25), ntscClip(), dir / "to25.mp4");
    const auto to25 = videoTimes(dir / "to25.mp4");
    expectTimesNear(to25, gridTimes(videoTimes(ntscClip()), 0, 25));
    EXPECT_EQ(to25.size(), 26u);  // 0 … 0.96, and the last frame once more at 1.0
    EXPECT_EQ(streamOf(probe(dir / "to25.mp4"), "video")["r_frame_rate"], "25/1");
    const auto jittered = videoTimes(variableRateClip());
    ASSERT_EQ(jittered.size(), 30u);
    encode(withTargetRate(encoderFor(OutputCodec::proRes, 160, 90), 30), variableRateClip(), dir / "to30.mov");
    const auto to30 = videoTimes(dir / "to30.mov");
    expectTimesNear(to30, gridTimes(jittered, 0, 30));
    for (std::size_t i = 1; i < to30.size(); ++i) EXPECT_NEAR(to30[i] - to30[i - 1], 1.0 / 30, 1.0 / 300);
    EXPECT_GT(psnr(variableRateClip(), dir / "to30.mov", 160, 90), 25);
    // A slower target repeats frames: 25 fps to 60 fps, trimmed to start at 0.5 s.
    auto encoder = withTargetRate(encoderFor(OutputCodec::proRes, 160, 90, ProResVariant::proxy), 60);
    encoder.trim = TrimRange{0.5, 0.9};
    encode(encoder, clipWithAudio(), dir / "to60.mov");
    std::vector<double> inRange;
    for (double t : videoTimes(clipWithAudio()))
        if (t + 0.04 > 0.5 && t < 0.9) inRange.push_back(t);
    expectTimesNear(videoTimes(dir / "to60.mov"), gridTimes(inRange, 0.5, 60));
}

TEST(MovieEncoderTiming, TrimReadsOnlyTheRangeAndMPEGTSSourcesStartAtZero) {
    test::TempDir dir;
    auto encoder = encoderFor(OutputCodec::proRes, 160, 90);
    encoder.trim = TrimRange{0.2, 0.6};
    encoder.sampleRate = 44100;  // the source's: the sound is carried sample for sample
    std::vector<double> progress = encode(encoder, clipWithAudio(), dir / "trimmed.mov");
    // The sound opens on the source's sample at 0.2 s (16-bit stereo, 44.1 kHz: 4 bytes a sample).
    const auto source = test::ffmpegRaw(clipWithAudio(), "s16le");
    const auto trimmed = test::ffmpegRaw(dir / "trimmed.mov", "s16le");
    ASSERT_GT(trimmed.size(), 4u * 17000);
    ASSERT_LE(trimmed.size() + 4 * 8820, source.size());
    EXPECT_TRUE(std::equal(trimmed.begin(), trimmed.end(), source.begin() + 4 * 8820));
    const Json probed = probe(dir / "trimmed.mov", {"-count_packets"});
    EXPECT_EQ(streamOf(probed, "video")["nb_read_packets"], "10");
    EXPECT_NEAR(number(probed["format"]["duration"]), 0.4, 0.03);
    EXPECT_NEAR(number(streamOf(probed, "audio")["duration"]), 0.4, 0.03);
    const fs::path reference = dir / "reference.mov";
    ASSERT_TRUE(test::ffmpeg(
        {"-ss", "0.2", "-t", "0.4", "-i", clipWithAudio().string(), "-c:v", "prores_ks", reference.string()}));
    EXPECT_GT(psnr(reference, dir / "trimmed.mov", 160, 90), 30);
    // Progress is measured from the in point over the trimmed length.
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front(), 0.0);
    EXPECT_NEAR(progress[progress.size() - 2], 0.9, 0.01);
    EXPECT_EQ(progress.back(), 1.0);
    // An MPEG-TS clock starts at about 1.4 s; the sound's encoder delay puts the picture 23 ms after it.
    const fs::path tsSource = generated("clip.ts", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=1", "-f", "lavfi",
                                                    "-i", "sine=frequency=440:sample_rate=44100:duration=1", "-c:v",
                                                    "libx264", "-qp", "0", "-c:a", "aac", "-shortest"});
    ASSERT_GT(number(probe(tsSource)["format"]["start_time"]), 1.0);
    progress = encode(encoderFor(OutputCodec::proRes, 160, 90), tsSource, dir / "whole.mov");
    const Json whole = probe(dir / "whole.mov", {"-count_packets"});
    EXPECT_NEAR(number(whole["format"]["duration"]), 1.0, 0.05);
    EXPECT_EQ(streamOf(whole, "video")["nb_read_packets"], "25");
    const auto times = videoTimes(dir / "whole.mov");
    ASSERT_FALSE(times.empty());
    EXPECT_LT(times.front(), 0.04) << "no gap before the first picture";
    ASSERT_GE(progress.size(), 3u);
    EXPECT_LT(progress[progress.size() / 2], 1.0) << "progress counts from the first picture";
    auto tsEncoder = encoderFor(OutputCodec::proRes, 160, 90);
    tsEncoder.trim = TrimRange{0.2, 0.6};
    progress = encode(tsEncoder, tsSource, dir / "ts-trimmed.mov");
    const Json tsTrimmed = probe(dir / "ts-trimmed.mov", {"-count_packets"});
    EXPECT_NEAR(number(tsTrimmed["format"]["duration"]), 0.4, 0.03);
    EXPECT_NEAR(number(streamOf(tsTrimmed, "audio")["duration"]), 0.4, 0.03);
    // Pictures shown from 0.183, 0.223, … 0.583 s reach into the range.
    EXPECT_EQ(streamOf(tsTrimmed, "video")["nb_read_packets"], "11");
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front(), 0.0);
    EXPECT_LT(progress[progress.size() - 2], 1.0);
    EXPECT_EQ(progress.back(), 1.0);
}

// Pictures (64×36 at 10 fps) and stereo sound (0.1 s blocks) until 5 s, one of them starting late. The late track
// hands out its first sample only once the other has been read to half a second before it, as a source that makes
// both from one stream would; it notes whether it waited in vain.
class LateTrackSource final : public media::ComposedSource {
public:
    static constexpr double kEnd = 5;

    LateTrackSource(media::MediaType lateType, double lateStart) : lateType_(lateType), lateStart_(lateStart) {}

    static media::AssetRef asset(const std::shared_ptr<const LateTrackSource>& source, const fs::path& path) {
        media::AssetTrack video;
        video.trackID = 0, video.mediaType = media::MediaType::video, video.nominalFrameRate = 10;
        video.naturalSize = {64, 36};
        media::AssetTrack audio;
        audio.trackID = 1, audio.mediaType = media::MediaType::audio;
        auto stereo = std::make_shared<media::FormatDescription>();
        stereo->mediaType = media::MediaType::audio, stereo->mediaSubtype = media::subtype::linearPCM;
        stereo->sampleRate = 48000, stereo->channelCount = 2;
        audio.formatDescriptions = {stereo};
        for (media::AssetTrack* track : {&video, &audio}) {
            const double start = source->startOf(track->mediaType);
            track->timeRange = {MediaTime::fromSeconds(start, 600), MediaTime::fromSeconds(kEnd - start, 600)};
        }
        return media::Asset::compose(path, MediaTime::fromSeconds(kEnd, 600), {video, audio}, source);
    }

    std::unique_ptr<media::ComposedTrackReader> openVideo(const media::AssetTrack& track,
                                                          const media::VideoOutputSettings& settings,
                                                          const TimeRange& range) const override {
        auto format = media::composedVideoFormat(track, settings);
        return std::make_unique<Reader>(*this, media::MediaType::video, range, [format](double seconds) {
            return media::SampleBuffer::makeImage(test::solidPicture(64, 36, 40, 80, 120),
                                                  MediaTime::fromSeconds(seconds, 600), MediaTime(60, 600), format);
        });
    }

    std::unique_ptr<media::ComposedTrackReader> openAudio(const media::AssetTrack& track, float,
                                                          const media::AudioOutputSettings& settings,
                                                          const TimeRange& range) const override {
        auto format = media::composedAudioFormat(track, settings);
        return std::make_unique<Reader>(*this, media::MediaType::audio, range, [format](double seconds) {
            const std::vector<float> block(4800 * 2, 0.25f);
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
            return media::SampleBuffer::makeData({bytes, bytes + block.size() * sizeof(float)},
                                                 MediaTime::fromSeconds(seconds, 600), MediaTime(60, 600), format,
                                                 4800);
        });
    }

    bool waitedInVain() const {
        std::lock_guard lock(shared_->mutex);
        return shared_->waitedInVain;
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable read;
        double otherReached = -1;
        bool waitedInVain = false;
    };

    // Tenths of a second from the track's start, within the range.
    class Reader final : public media::ComposedTrackReader {
    public:
        Reader(const LateTrackSource& source, media::MediaType type, const TimeRange& range,
               std::function<media::SampleBufferRef(double)> make)
            : shared_(source.shared_),
              late_(type == source.lateType_),
              lateStart_(source.lateStart_),
              start_(source.startOf(type)),
              make_(std::move(make)) {
            tenth_ = first_ = static_cast<int>(std::ceil(std::max(range.start.seconds() - start_, 0.0) * 10 - 1e-9));
        }

        media::SampleBufferRef next() override {
            const double seconds = start_ + tenth_ / 10.0;
            if (seconds >= kEnd - 1e-9) return nullptr;
            std::unique_lock lock(shared_->mutex);
            if (!late_) {
                shared_->otherReached = seconds;
                shared_->read.notify_all();
            } else if (tenth_ == first_ &&
                       // A fail-safe, not a pace: the other track gets there at once unless it is held back.
                       !shared_->read.wait_for(lock, std::chrono::seconds(60),
                                               [&] { return shared_->otherReached >= lateStart_ - 0.5; })) {
                shared_->waitedInVain = true;
            }
            ++tenth_;
            return make_(seconds);
        }

    private:
        std::shared_ptr<Shared> shared_;
        bool late_;
        double lateStart_, start_;
        int tenth_ = 0, first_ = 0;
        std::function<media::SampleBufferRef(double)> make_;
    };

    double startOf(media::MediaType type) const { return type == lateType_ ? lateStart_ : 0; }

    media::MediaType lateType_;
    double lateStart_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// A track that starts after the in point is expected where it starts: the other track runs up to it meanwhile
// instead of waiting at the in point for its first sample.
TEST(MovieEncoderTiming, ATrackStartingAfterTheInPointHoldsTheOtherOnlyFromWhereItStarts) {
    const struct Row {
        const char* name;
        media::MediaType late;
    } rows[] = {
        {"sound from 3 s", media::MediaType::audio},
        {"pictures from 3 s", media::MediaType::video},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto source = std::make_shared<LateTrackSource>(row.late, 3.0);
        auto encoder = encoderFor(OutputCodec::proRes, 64, 36);
        encoder.trim = TrimRange{1.0, std::nullopt};
        encoder.threads = 1;
        encoder.encode(LateTrackSource::asset(source, dir / "late.mov"), dir / "out.mov", {}, {});
        EXPECT_FALSE(source->waitedInVain()) << "the other track was held at the in point";
        const Json probed = probe(dir / "out.mov");
        const Json late = streamOf(probed, row.late == media::MediaType::video ? "video" : "audio");
        EXPECT_NEAR(number(late["start_time"]), 2.0, 0.03);
        EXPECT_NEAR(number(probed["format"]["duration"]), 4.0, 0.03);
    }
}

TEST(MovieEncoderTiming, NothingInTheRangeFailsAndKeepsTheEarlierFile) {
    test::TempDir dir;
    const fs::path destination = dir / "out.mov";
    std::ofstream(destination) << "an earlier output";
    auto encoder = encoderFor(OutputCodec::proRes, 160, 90);
    encoder.trim = TrimRange{5.0, std::nullopt};
    const auto error = encodingErrorOf([&] { encode(encoder, clipWithAudio(), destination); });
    EXPECT_EQ(error.kind(), EncodingError::Kind::readerFailed);
    EXPECT_EQ(contents(destination), "an earlier output");
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"out.mov"});
    // Success replaces it.
    encoder.trim.reset();
    encode(encoder, clipWithAudio(), destination);
    EXPECT_EQ(streamOf(probe(destination), "video")["codec_name"], "prores");
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"out.mov"});
}

TEST(MovieEncoderTiming, FailuresBeforeWritingNameTheirCauseAndLeaveTheFolderAlone) {
    test::TempDir dir;
    const fs::path source = dir / "clip.mov";
    fs::copy_file(clipWithAudio(), source);
    const std::string before = contents(source);
    const auto proRes = encoderFor(OutputCodec::proRes, 160, 90);
    auto error = encodingErrorOf([&] { encode(proRes, source, dir / "." / "clip.mov"); });
    EXPECT_EQ(error.kind(), EncodingError::Kind::writerFailed);
    EXPECT_NE(error.errorDescription().find("source"), std::string::npos);
    EXPECT_EQ(contents(source), before);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"clip.mov"});
    // A missing folder is named by the asked file, not the staging name.
    error = encodingErrorOf([&] { encode(proRes, source, dir / "missing" / "out.mov"); });
    EXPECT_EQ(error.kind(), EncodingError::Kind::writerFailed);
    EXPECT_NE(error.errorDescription().find("\u201cout.mov\u201d"), std::string::npos) << error.errorDescription();
    EXPECT_EQ(error.errorDescription().find("fwpart"), std::string::npos) << error.errorDescription();
    const fs::path sound = dir / "sound.m4a";
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "sine=duration=0.5", "-c:a", "aac", sound.string()}));
    error = encodingErrorOf([&] { encode(encoderFor(OutputCodec::h264, 160, 90), sound, dir / "out.mp4"); });
    EXPECT_EQ(error, EncodingError::noVideoTrack());
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"clip.mov", "sound.m4a"}));
}

// The first `fraction` of a 4 s ProRes clip with sound, index first: the cut copy opens and reports 4 s.
fs::path truncatedCopy(const fs::path& folder, double fraction) {
    const std::string whole = contents(generated(
        "four.mov", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=4", "-f", "lavfi", "-i", "sine=duration=4", "-c:v",
                     "prores_ks", "-profile:v", "0", "-c:a", "pcm_s16le", "-movflags", "+faststart"}));
    const fs::path cut = folder / "cut.mov";
    std::ofstream(cut, std::ios::binary) << whole.substr(0, static_cast<std::size_t>(whole.size() * fraction));
    return cut;
}

TEST(MovieEncoderTiming, TruncatedSourceFailsWhereDecodingStoppedUnlessOnlyTheTailIsMissing) {
    test::TempDir dir;
    const fs::path cut = truncatedCopy(dir.path(), 0.45);
    const auto error = encodingErrorOf([&] { encode(encoderFor(OutputCodec::h264, 160, 90), cut, dir / "out.mp4"); });
    EXPECT_EQ(error.kind(), EncodingError::Kind::readerFailed);
    const std::string& message = error.errorDescription();
    EXPECT_EQ(message.rfind("Reading failed: ", 0), 0u) << message;
    EXPECT_NE(message.find(" Decoding stopped at "), std::string::npos) << message;
    EXPECT_EQ(message.find(" at 0.0s "), std::string::npos) << "frames read before the damage count: " << message;
    // Said once: the reader's detail already blames the file.
    EXPECT_NE(message.find("\u201ccut.mov\u201d is damaged or truncated. Decoding stopped at "), std::string::npos)
        << message;
    EXPECT_EQ(message.substr(message.size() - 10), "s of 4.0s.") << message;
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"cut.mov"});
    // 4 s expected: up to 2 s missing at the end is tolerated.
    const fs::path tailCut = truncatedCopy(dir.path(), 0.8);
    auto progress = encode(encoderFor(OutputCodec::proRes, 160, 90, ProResVariant::proxy), tailCut, dir / "out.mov");
    const double duration = number(probe(dir / "out.mov")["format"]["duration"]);
    EXPECT_GT(duration, 2.5);
    EXPECT_LT(duration, 3.9);
    EXPECT_EQ(progress.back(), 1.0);
}

// A source written over in place while it is encoded (here with its own bytes again, under a new modification time)
// is never reported as done; one replaced by a rename is no change: the encode read the file it opened.
TEST(MovieEncoderTiming, ASourceWrittenOverWhileEncodedFailsAndOneRenamedOverDoesNot) {
    for (const bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace ? "in place" : "renamed over");
        test::TempDir dir;
        const fs::path source = dir / "clip.mp4";
        fs::copy_file(longerClip(), source);
        const std::string bytes = contents(source);
        std::once_flag once;
        const auto rewrite = [&](double fraction) {
            if (fraction < 0.3) return;
            std::call_once(once, [&] {
                // Past a coarse clock's tick from the file's own time.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                const fs::path written = inPlace ? source : dir / "new.mp4";
                std::ofstream(written, std::ios::binary) << bytes;
                if (!inPlace) fs::rename(written, source);
            });
        };
        const auto run = [&] {
            encoderFor(OutputCodec::proRes, 160, 90).encode(open(source), dir / "out.mov", rewrite, {});
        };
        if (!inPlace) {
            run();
            EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"clip.mp4", "out.mov"}));
            continue;
        }
        EXPECT_EQ(encodingErrorOf(run), EncodingError::readerFailed(
                                            "The source file \u201cclip.mp4\u201d changed while it was being encoded"));
        EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"clip.mp4"});
    }
}

TEST(MovieEncoderTiming, CancelLeavesNothingAndProgressAndPreviewsComeFromThePumps) {
    for (bool grid : {false, true}) {
        SCOPED_TRACE(grid ? "on the grid" : "plain");
        test::TempDir dir;
        auto encoder = encoderFor(OutputCodec::proRes, 320, 180);
        if (grid) encoder = withTargetRate(encoder, 24, 320, 180);
        std::stop_source stop;
        std::mutex mutex;
        std::condition_variable started;
        double latest = 0;
        bool sawOne = false;
        std::thread canceller([&] {
            std::unique_lock lock(mutex);
            started.wait(lock, [&] { return latest > 0.1; });
            stop.request_stop();
        });
        const auto error = encodingErrorOf([&] {
            encoder.encode(
                open(longerClip()), dir / "out.mov",
                [&](double fraction) {
                    std::lock_guard lock(mutex);
                    sawOne = sawOne || fraction == 1.0;
                    latest = std::max(latest, fraction);
                    started.notify_all();
                },
                {}, stop.get_token());
        });
        {
            // Unblocks the canceller if the encode ended without progress.
            std::lock_guard lock(mutex);
            latest = 1;
            started.notify_all();
        }
        canceller.join();
        EXPECT_EQ(error, EncodingError::cancelled());
        EXPECT_FALSE(sawOne) << "no final progress for a cancelled encode";
        EXPECT_TRUE(filesIn(dir.path()).empty());
    }
    test::TempDir dir;
    std::mutex mutex;
    std::vector<double> fractions;
    std::vector<PreviewFrame> previews;
    std::set<std::thread::id> threads;
    auto encoder = encoderFor(OutputCodec::proRes, 320, 180, ProResVariant::proxy);
    encoder.encode(
        open(longerClip()), dir / "out.mov",
        [&](double f) {
            std::lock_guard lock(mutex);
            fractions.push_back(f);
            threads.insert(std::this_thread::get_id());
        },
        [&](const PreviewFrame& frame) {
            std::lock_guard lock(mutex);
            previews.push_back(frame);
        });
    ASSERT_EQ(fractions.size(), 201u);  // one per frame, then the final 1.0
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(fractions.front(), 0.0);
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_EQ(std::count(fractions.begin(), fractions.end(), 1.0), 1);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 1u);
    EXPECT_GE(threads.size(), 2u) << "pump progress comes from the pump's thread";
    ASSERT_FALSE(previews.empty());
    for (const auto& preview : previews) {
        ASSERT_TRUE(preview.image);
        EXPECT_LE(std::max(preview.image->width(), preview.image->height()), 480);
        EXPECT_EQ(preview.image->format(), media::PixelFormat::bgra8);
    }
    // Pumps report the share of the range reached, clamped to 0…1; nothing without a known length.
    PreviewThrottle throttle(0.1);
    ReachedSeconds reached;
    std::vector<double> shares;
    const ProgressCallback collect = [&](double f) { shares.push_back(f); };
    VideoPumpReporter trimmed(2.0, 1.0, collect, {}, throttle, reached);
    for (double t : {0.5, 1.0, 2.0, 3.5, std::numeric_limits<double>::infinity(), std::nan("")})
        trimmed.reportProgress(t);
    EXPECT_EQ(shares, (std::vector<double>{0, 0, 0.5, 1}));
    shares.clear();
    for (double duration : {0.0, -1.0, std::nan("")}) {
        VideoPumpReporter unknown(duration, 0, collect, {}, throttle, reached);
        unknown.reportProgress(1.0);
    }
    EXPECT_TRUE(shares.empty());
}

// The clip's stored video samples, undecoded, into a writer input: the resizing pump's inputs alone.
struct PassthroughPumpRig {
    std::shared_ptr<media::AssetReader> reader;
    std::shared_ptr<media::AssetReaderOutput> output;
    std::unique_ptr<media::AssetWriter> writer;
    media::AssetWriterInputRef input;
    PreviewThrottle throttle{0.1};
    ReachedSeconds reached;
    PassthroughPumpRig(const fs::path& destination, int width, int height) {
        reader = std::make_shared<media::AssetReader>(open(clipWithAudio()));
        output = reader->addPassthroughOutput(open(clipWithAudio())->tracks(media::MediaType::video).front());
        writer = std::make_unique<media::AssetWriter>(destination, media::FileType::quickTimeMovie);
        media::VideoEncoderSettings settings;
        settings.width = width;
        settings.height = height;
        settings.expectedFrameRate = 25;
        input = writer->addVideoInput(settings);
    }
    bool start() { return output && input && reader->startReading() && writer->startWriting(); }
};

// Stored samples through an unpacker that gives no picture for every other one: those are dropped.
TEST(MovieEncoderTiming, ResizingPumpDropsSamplesWithoutPicturesAndFailsOnOnesItCannotTurnOrUnpack) {
    test::TempDir dir;
    PassthroughPumpRig rig(dir / "out.mov", 64, 36);
    ASSERT_TRUE(rig.start());
    int samples = 0;
    const FrameUnpacker unpacker = [&](const media::SampleBuffer& sample) -> media::PixelBufferRef {
        EXPECT_FALSE(sample.data().empty());
        if (samples++ % 2) return nullptr;
        auto picture = media::PixelBuffer::create(32, 18, media::PixelFormat::bgra8);
        std::memset(picture->data(), 0x80, picture->stride() * 18);
        return picture;
    };
    FrameResizer resizer(64, 36, ResizeMode::aspect, nullptr, 25, std::nullopt, false, false);
    VideoPumpReporter reporter(1.0, 0, {}, {}, rig.throttle, rig.reached);
    pumpResizedVideo(*rig.output, *rig.input, resizer, 0, std::nullopt, &unpacker, reporter);
    ASSERT_TRUE(rig.writer->finishWriting());
    EXPECT_EQ(samples, 25);
    EXPECT_EQ(reporter.framesWritten(), 13);
    EXPECT_EQ(videoTimes(dir / "out.mov").size(), 13u);
    EXPECT_NEAR(rig.reached.seconds(), 0.96, 1e-9);
    // A picture that cannot be turned upright fails the pump, not silently missing from the output.
    PassthroughPumpRig turnRig(dir / "turned.mov", 36, 64);
    ASSERT_TRUE(turnRig.start());
    const FrameUnpacker halfFloat = [](const media::SampleBuffer&) {
        return media::PixelBuffer::create(64, 36, media::PixelFormat::rgbaHalf);
    };
    auto orientation = FrameOrientation::make(media::AffineTransform::rotation(90, 64, 36));
    ASSERT_TRUE(orientation);
    FrameResizer turning(36, 64, ResizeMode::aspect, nullptr, 25, std::nullopt, false, false, orientation);
    VideoPumpReporter turnReporter(1.0, 0, {}, {}, turnRig.throttle, turnRig.reached);
    const auto error = encodingErrorOf(
        [&] { pumpResizedVideo(*turnRig.output, *turnRig.input, turning, 0, std::nullopt, &halfFloat, turnReporter); });
    EXPECT_EQ(error, EncodingError::writerFailed("could not resize frame"));
    EXPECT_EQ(turnReporter.framesWritten(), 0);
    turnRig.reader->cancelReading();
    turnRig.writer->cancelWriting();
    // What the unpacker throws (on the reading thread) fails the pump after the frames before it.
    PassthroughPumpRig failRig(dir / "failed.mov", 64, 36);
    ASSERT_TRUE(failRig.start());
    int unpacked = 0;
    const FrameUnpacker failing = [&](const media::SampleBuffer&) -> media::PixelBufferRef {
        if (++unpacked == 5) throw EncodingError::readerFailed("a frame of another size");
        return solid(64, 36, kBlack);
    };
    FrameResizer plain(64, 36, ResizeMode::aspect, nullptr, 25, std::nullopt, false, false);
    VideoPumpReporter failReporter(1.0, 0, {}, {}, failRig.throttle, failRig.reached);
    EXPECT_EQ(encodingErrorOf([&] {
                  pumpResizedVideo(*failRig.output, *failRig.input, plain, 0, std::nullopt, &failing, failReporter);
              }),
              EncodingError::readerFailed("a frame of another size"));
    EXPECT_EQ(failReporter.framesWritten(), 4);
    EXPECT_EQ(unpacked, 5);
    failRig.reader->cancelReading();
    failRig.writer->cancelWriting();
}

}  // namespace
}  // namespace fw
