// The trend's store of points: whatever span is asked for, the few points it hands the chart
// reach exactly as low and as high as every point in that span, in time order.
#include "trend/trendseries.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

TEST(TrendSeries, ASpanOfAnyLengthDrawsTheSameExtremesInAFewPointsPerColumn)
{
    // An hour at 200 points a second, a wave with a spike every 997 points.
    TrendSeries series;
    std::vector<TrendSeries::Point> all;
    for (int i = 0; i < 3600 * 200; ++i) {
        const double key = i / 200.0;
        const double value = 1000 + 50 * std::sin(key / 7.0) + (i % 997 == 0 ? 400 : 0);
        series.add(key, value);
        all.push_back({key, value});
    }
    struct Case {
        double from, to;
        int columns;
        double slack = 0; // how far beyond the span an extreme may come from
    } const cases[] = {
        {3590, 3600, 700},  // the last 10 s: the points themselves
        {3599.5, 3600, 50}, // narrower than the finest bucket per column
        {3000, 3600, 700},  // 10 min: buckets
        {0, 3600, 700},     // everything
        {1234.5, 2345.6, 333},
        // Long past and finer than any bucket: the finest buckets, whole.
        {100.01, 101.01, 700, 0.05},
    };
    for (const Case& c : cases) {
        const std::vector<TrendSeries::Point> drawn = series.sample(c.from, c.to, c.columns);
        SCOPED_TRACE(testing::Message() << c.from << " to " << c.to);
        ASSERT_FALSE(drawn.empty());
        EXPECT_LE(drawn.size(), 2u * static_cast<std::size_t>(c.columns));
        EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end(),
                                   [](const auto& a, const auto& b) { return a.key < b.key; }));
        double low = 1e9, high = -1e9;
        for (const TrendSeries::Point& p : all) {
            if (p.key >= c.from - c.slack && p.key <= c.to + c.slack) {
                low = std::min(low, p.value);
                high = std::max(high, p.value);
            }
        }
        const auto [dLow, dHigh] =
            std::minmax_element(drawn.begin(), drawn.end(),
                                [](const auto& a, const auto& b) { return a.value < b.value; });
        if (c.slack == 0) {
            EXPECT_EQ(dLow->value, low);
            EXPECT_EQ(dHigh->value, high);
        } else {
            EXPECT_GE(dLow->value, low);
            EXPECT_LE(dHigh->value, high);
        }
        EXPECT_GE(drawn.front().key, c.from);
        EXPECT_LE(drawn.back().key, c.to);
    }
}

} // namespace
} // namespace diagnostika
