#include "model/ProgressEstimate.h"

#include <gtest/gtest.h>

#include <cmath>
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
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> rows[] = {
        {0, "0:00"},         {-0.0, "0:00"},      {59.4, "0:59"},          {59.5, "1:00"},
        {754, "12:34"},      {3599.4, "59:59"},   {3599.5, "1:00:00"},     {3725, "1:02:05"},
        {25 * 3600 + 61, "25:01:01"}, {-1, "--:--"}, {kInfinity, "--:--"}, {std::nan(""), "--:--"},
        {1e300, "--:--"},
    };
    for (const auto& [seconds, text] : rows) EXPECT_EQ(ProgressEstimate::formatCountdown(seconds), text) << seconds;
}

}  // namespace
}  // namespace fw
