#include "platform/media/MediaTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace fw::media {
namespace {

TEST(MediaTime, SecondsConversionsRoundToTheTimescale) {
    EXPECT_EQ(MediaTime::fromSeconds(2.5, 600), MediaTime(1500, 600));
    EXPECT_EQ(MediaTime::fromSeconds(1.0 / 3.0, 600).value(), 200);
    EXPECT_EQ(MediaTime::fromSeconds(-0.0025, 600).value(), -2) << "halves away from zero";
    EXPECT_DOUBLE_EQ(MediaTime(1001, 30000).seconds(), 1001.0 / 30000.0);
    EXPECT_TRUE(MediaTime::fromSeconds(std::numeric_limits<double>::infinity(), 600).isPositiveInfinity());
    EXPECT_FALSE(MediaTime::fromSeconds(std::nan(""), 600).isValid());
    EXPECT_FALSE(MediaTime::fromSeconds(-std::numeric_limits<double>::infinity(), 600).isValid());
    EXPECT_TRUE(std::isnan(MediaTime::invalid().seconds()));
    EXPECT_EQ(MediaTime::positiveInfinity().seconds(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(MediaTime(1001, 30000).convertScale(600), MediaTime(20, 600));
}

TEST(MediaTime, OrderingAndArithmeticAcrossTimescales) {
    EXPECT_EQ(MediaTime(1, 2), MediaTime(300, 600));
    EXPECT_LT(MediaTime(1001, 30000), MediaTime(1, 25));
    EXPECT_LT(MediaTime(1LL << 60, 1), MediaTime::positiveInfinity());
    EXPECT_LT(MediaTime::invalid(), MediaTime(-5, 1));
    EXPECT_EQ(MediaTime(1, 3) + MediaTime(1, 6), MediaTime(1, 2));
    EXPECT_EQ((MediaTime(1, 3) + MediaTime(1, 6)).timescale(), 6);
    EXPECT_EQ(MediaTime(1, 2) - MediaTime(1, 3), MediaTime(1, 6));
    EXPECT_TRUE((MediaTime(5, 1) + MediaTime::positiveInfinity()).isPositiveInfinity());
    EXPECT_FALSE((MediaTime::positiveInfinity() - MediaTime::positiveInfinity()).isValid());
    EXPECT_FALSE((MediaTime::invalid() + MediaTime(1, 1)).isValid());
    TimeRange range{MediaTime(2, 1), MediaTime(3, 1)};
    EXPECT_EQ(range.end(), MediaTime(5, 1));
    EXPECT_TRUE(TimeRange::everything().end().isPositiveInfinity());
}

}  // namespace
}  // namespace fw::media
