#include "model/EncodingError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace fw {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

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

TEST(EncodingError, TailRuleBoundaries) {
    // 100 s: tolerance 2 s, the limit itself is forgiven.
    EXPECT_EQ(tailText("x", 98.0, 100), "forgiven");
    EXPECT_EQ(tailText("x", 100.0, 100), "forgiven");
    EXPECT_EQ(tailText("Read error.", 97.9, 100),
              "Reading failed: Read error. Decoding stopped at 97.9s of 100.0s \u2014 the source file may be "
              "damaged or truncated.");
    // 600 s: tolerance 12 s.
    EXPECT_EQ(tailText("x", 588.0, 600), "forgiven");
    EXPECT_NE(tailText("x", 587.9, 600), "forgiven");
    // 3 s: the 2 s floor is capped at half the length, so 1.5 s is the limit.
    EXPECT_EQ(tailText("x", 1.5, 3), "forgiven");
    EXPECT_NE(tailText("x", 1.4, 3), "forgiven");
    EXPECT_NE(tailText("x", 0.0, 1), "forgiven");
}

TEST(EncodingError, TailRuleReportsUnknownLengthsAndOddTimes) {
    EXPECT_EQ(tailText(std::nullopt, 12.34, 0),
              "Reading failed: unknown error. Decoding stopped at 12.3s of 0.0s \u2014 the source file may be "
              "damaged or truncated.");
    EXPECT_NE(tailText("x", 5, -1), "forgiven");
    // Negative and not-a-number reached times print as 0.0; infinity is never forgiven.
    EXPECT_NE(tailText("x", -3, 10).find("stopped at 0.0s of 10.0s"), std::string::npos);
    EXPECT_NE(tailText("x", kNaN, 10).find("stopped at 0.0s of 10.0s"), std::string::npos);
    EXPECT_NE(tailText("x", kInfinity, 10), "forgiven");
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
