#include "model/ProgressEstimate.h"

#include <gtest/gtest.h>

#include <limits>

namespace fw {
namespace {

TEST(ProgressEstimate, RemainingNeedsMeaningfulProgressAndTime) {
    EXPECT_EQ(ProgressEstimate::remaining(0.01, 10), std::nullopt);
    EXPECT_EQ(ProgressEstimate::remaining(0.5, 30), 30.0);
    EXPECT_EQ(ProgressEstimate::remaining(1.0, 30), std::nullopt);
    EXPECT_EQ(ProgressEstimate::remaining(0.5, 0), std::nullopt);
    EXPECT_EQ(ProgressEstimate::remaining(std::numeric_limits<double>::quiet_NaN(), 5), std::nullopt);
    EXPECT_DOUBLE_EQ(*ProgressEstimate::remaining(0.25, 10), 30.0);
}

TEST(ProgressEstimate, CountdownText) {
    using ProgressEstimate::formatCountdown;
    EXPECT_EQ(formatCountdown(0), "0:00");
    EXPECT_EQ(formatCountdown(-0.0), "0:00");
    EXPECT_EQ(formatCountdown(59.4), "0:59");
    EXPECT_EQ(formatCountdown(59.5), "1:00");
    EXPECT_EQ(formatCountdown(754), "12:34");
    EXPECT_EQ(formatCountdown(3599.4), "59:59");
    EXPECT_EQ(formatCountdown(3599.5), "1:00:00");
    EXPECT_EQ(formatCountdown(3725), "1:02:05");
    EXPECT_EQ(formatCountdown(25 * 3600 + 61), "25:01:01");
    EXPECT_EQ(formatCountdown(-1), "--:--");
    EXPECT_EQ(formatCountdown(std::numeric_limits<double>::infinity()), "--:--");
    EXPECT_EQ(formatCountdown(std::numeric_limits<double>::quiet_NaN()), "--:--");
    EXPECT_EQ(formatCountdown(1e300), "--:--");
}

}  // namespace
}  // namespace fw
