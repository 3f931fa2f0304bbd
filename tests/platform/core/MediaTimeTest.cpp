#include "platform/core/MediaTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace fw {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(MediaTime, RescalingRoundsHalvesAwayFromZero) {
    struct Case {
        MediaTime time;
        std::int32_t timescale;
        std::int64_t expected;
    };
    // Exact results: 20.02, ±0.5, ±1.5, 0.667, -1.333, -2.667, 7, and the saturated ends.
    const Case cases[] = {{MediaTime(1001, 30000), 600, 20},
                          {MediaTime(1, 4), 2, 1},
                          {MediaTime(-1, 4), 2, -1},
                          {MediaTime(3, 4), 2, 2},
                          {MediaTime(-3, 4), 2, -2},
                          {MediaTime(1, 3), 2, 1},
                          {MediaTime(-1, 3), 4, -1},
                          {MediaTime(-2, 3), 4, -3},
                          {MediaTime(7, 600), 600, 7},
                          {MediaTime(INT64_MAX, 1), 2, INT64_MAX},
                          {MediaTime(INT64_MIN, 1), 2, INT64_MIN}};
    for (const auto& c : cases) {
        const MediaTime scaled = c.time.convertScale(c.timescale);
        EXPECT_EQ(scaled.value(), c.expected) << c.time.value() << "/" << c.time.timescale() << " to " << c.timescale;
        EXPECT_EQ(scaled.timescale(), c.timescale);
    }
    EXPECT_TRUE(MediaTime::positiveInfinity().convertScale(600).isPositiveInfinity());
    EXPECT_FALSE(MediaTime(1, 2).convertScale(0).isValid());
}

TEST(MediaTime, FromSecondsRoundsAndKeepsInfinities) {
    struct Case {
        double seconds;
        std::int32_t timescale;
        MediaTime expected;
    };
    const Case cases[] = {{2.5, kSecondsTimescale, MediaTime(1500, 600)},
                          {1.0 / 3.0, 600, MediaTime(200, 600)},
                          {-0.0025, 600, MediaTime(-2, 600)} /* -1.5 ticks */,
                          {0.0025, 600, MediaTime(2, 600)},
                          {1e300, 1, MediaTime(9'200'000'000'000'000'000, 1)},
                          {kInfinity, 600, MediaTime::positiveInfinity()},
                          {-kInfinity, 600, MediaTime::negativeInfinity()},
                          {std::nan(""), 600, MediaTime::invalid()},
                          {1.0, 0, MediaTime::invalid()}};
    for (const auto& c : cases) {
        const MediaTime time = MediaTime::fromSeconds(c.seconds, c.timescale);
        EXPECT_EQ(time, c.expected) << c.seconds;
        if (time.isNumeric()) {
            EXPECT_EQ(time.timescale(), c.timescale) << c.seconds;
        }
    }
    EXPECT_EQ(MediaTime::fromSeconds(2).timescale(), kSecondsTimescale);
    EXPECT_DOUBLE_EQ(MediaTime(1001, 30000).seconds(), 1001.0 / 30000.0);
    EXPECT_EQ(MediaTime::negativeInfinity().seconds(), -kInfinity);
    EXPECT_TRUE(std::isnan(MediaTime::invalid().seconds()));
}

TEST(MediaTime, OrderingAndArithmeticAcrossTimescalesAndInfinities) {
    const MediaTime plus = MediaTime::positiveInfinity(), minus = MediaTime::negativeInfinity();
    const MediaTime ascending[] = {
        MediaTime::invalid(),    minus, MediaTime(-5, 1), MediaTime(1001, 30000), MediaTime(1, 25),
        MediaTime(1LL << 60, 1), plus};
    for (std::size_t i = 0; i + 1 < std::size(ascending); ++i) EXPECT_LT(ascending[i], ascending[i + 1]) << i;
    EXPECT_EQ(MediaTime(1, 2), MediaTime(300, 600));

    struct Case {
        MediaTime sum;
        MediaTime expected;
    };
    const Case cases[] = {{MediaTime(1, 3) + MediaTime(1, 6), MediaTime(1, 2)},
                          {MediaTime(1, 2) - MediaTime(1, 3), MediaTime(1, 6)},
                          {MediaTime(5, 1) + plus, plus},
                          {MediaTime(5, 1) - plus, minus},
                          {minus + MediaTime(5, 1), minus},
                          {plus - minus, plus},
                          {plus - plus, MediaTime::invalid()},
                          {plus + minus, MediaTime::invalid()},
                          {MediaTime::invalid() + MediaTime(1, 1), MediaTime::invalid()},
                          {MediaTime(INT64_MAX, 1) + MediaTime(1, 1), MediaTime::invalid()}};
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].sum, cases[i].expected) << i;
    EXPECT_EQ((MediaTime(1, 3) + MediaTime(1, 6)).timescale(), 6);
    EXPECT_EQ((TimeRange{MediaTime(2, 1), MediaTime(3, 1)}).end(), MediaTime(5, 1));
}

}  // namespace
}  // namespace fw
