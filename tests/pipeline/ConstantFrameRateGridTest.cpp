#include "pipeline/ConstantFrameRateGrid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <vector>

namespace fw {
namespace {

struct Written {
    int frame;
    double time;
    bool operator==(const Written&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Written& w) {
    return out << "frame " << w.frame << " at " << testing::PrintToString(w.time);
}

// Feeds frames 0, 1, ... at the given times; what the grid hands out, in the order a pump writes it.
std::vector<Written> run(double startSeconds, std::optional<double> rate, const std::vector<double>& times) {
    ConstantFrameRateGrid<int> grid(startSeconds, rate);
    std::vector<Written> out;
    auto drain = [&] {
        while (auto entry = grid.nextPending()) out.push_back({entry->buffer, entry->time});
    };
    for (std::size_t i = 0; i < times.size(); ++i) {
        grid.add(static_cast<int>(i), times[i]);
        drain();
    }
    if (auto last = grid.finish()) out.push_back({last->buffer, last->time});
    EXPECT_FALSE(grid.finish());
    return out;
}

TEST(ConstantFrameRateGrid, WritesTheFrameShowingAtEachGridTimeOrEverySourceTimeWhenOff) {
    const std::vector<double> times{0, 0.04, 0.1, 0.5, 0.51};
    for (auto rate : {std::optional<double>{}, {0.0}, {-25.0}, {std::numeric_limits<double>::quiet_NaN()}}) {
        EXPECT_FALSE(ConstantFrameRateGrid<int>(0, rate).isOn());
        const auto out = run(0, rate, times);
        ASSERT_EQ(out.size(), times.size());
        for (std::size_t i = 0; i < times.size(); ++i) EXPECT_EQ(out[i], (Written{static_cast<int>(i), times[i]}));
    }
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        double start;
        std::optional<double> rate;
        std::vector<double> times;
        std::vector<Written> expected;
    };
    // An earlier (reordered) frame replaces the held one, the grid never goes back; non-finite times are dropped.
    const Case cases[] = {
        {"4 fps at 8: twice, the last once",
         0,
         8,
         {0, 0.25, 0.5, 0.75, 1.0},
         {{0, 0}, {0, 0.125}, {1, 0.25}, {1, 0.375}, {2, 0.5}, {2, 0.625}, {3, 0.75}, {3, 0.875}, {4, 1.0}}},
        {"8 fps at 4: only frames on the grid",
         0,
         4,
         {0, 0.125, 0.25, 0.375, 0.5, 0.625, 0.75, 0.875, 1.0},
         {{0, 0}, {2, 0.25}, {4, 0.5}, {6, 0.75}, {8, 1.0}}},
        {"a single frame after the start", 0, 25, {0.4}, {{0, 0.4}}},
        {"a single frame before the start", 0.7, 25, {0.4}, {{0, 0.7}}},
        {"first before the start", 0.1, 8, {0, 0.25, 0.5}, {{0, 0.1}, {0, 0.225}, {1, 0.35}, {1, 0.475}, {2, 0.6}}},
        {"a frame exactly on a grid time fills it", 0, 2, {0, 0.3, 0.5, 0.9}, {{0, 0}, {2, 0.5}, {3, 1.0}}},
        {"earlier than the grid", 0, 10, {0, 0.25, 0.1, 0.35}, {{0, 0}, {0, 0.1}, {0, 0.2}, {2, 0.3}, {3, 0.4}}},
        {"infinity dropped", 0, 10, {0, inf, 0.1}, {{0, 0}, {2, 0.1}}},
        {"not-a-number dropped", 0, 10, {nan, 0.2}, {{1, 0.2}}},
        {"non-finite dropped off the grid too", 0, std::nullopt, {0, nan, -inf, 0.3}, {{0, 0}, {3, 0.3}}},
        {"nothing but infinity", 0, 10, {inf}, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto out = run(c.start, c.rate, c.times);
        ASSERT_EQ(out.size(), c.expected.size());
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].frame, c.expected[i].frame) << i;
            EXPECT_NEAR(out[i].time, c.expected[i].time, 1e-12) << i;
        }
    }
    // 10 fps at 20: accumulated 1/20 steps fall below the exact multiples, so frame 3 is written three times.
    const auto out = run(0, 20, {0, 60 / 600.0, 120 / 600.0, 180 / 600.0, 240 / 600.0, 300 / 600.0});  // 1/600 s
    std::vector<Written> third;
    std::copy_if(out.begin(), out.end(), std::back_inserter(third), [](const Written& w) { return w.frame == 3; });
    EXPECT_EQ(third, (std::vector<Written>{{3, 0.3}, {3, 0.35}, {3, 0.39999999999999997}}));
    // Two slots for every other frame but the last: 12 frames where exact multiples give 11.
    EXPECT_EQ(out.size(), 12u);
    EXPECT_EQ(out.back(), (Written{5, 0.5499999999999999}));
}

}  // namespace
}  // namespace fw
