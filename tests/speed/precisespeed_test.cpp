#include "speed/precisespeed.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace diagnostika::speed;

namespace {

// A shaft from `rpm` min^-1 changing at `accel` min^-1 per second, its pulses stamped to the
// microsecond from `originUs`; every `untimedEvery`-th pulse (if any) is not individually timed.
struct Case {
    const char* name;
    double p;
    double rpm;
    double accel;
    int pulses;
    std::int64_t originUs;
    int untimedEvery;
};

// Seconds after the start at which the shaft has made `k` pulses.
double pulseTime(const Case& c, int k)
{
    const double turns = k / c.p; // rpm t / 60 + accel t^2 / 120 = turns
    if (c.accel == 0)
        return turns * 60.0 / c.rpm;
    const double a = c.accel / 120.0, b = c.rpm / 60.0;
    return (-b + std::sqrt(b * b + 4 * a * turns)) / (2 * a);
}

double speedAt(const Case& c, double t)
{
    return c.rpm + c.accel * t;
}

std::string caseName(const ::testing::TestParamInfo<Case>& c)
{
    return c.param.name;
}

class Shaft : public ::testing::TestWithParam<Case> {};

TEST_P(Shaft, PerPulseAndWindowedSpeedFollowTheTruth)
{
    const Case& c = GetParam();
    PreciseSpeed speed(c.p);
    std::int64_t lastUs = 0;
    int perPulse = 0;
    for (int k = 0; k < c.pulses; ++k) {
        const double t = pulseTime(c, k);
        const std::int64_t us = c.originUs + std::llround(t * 1e6);
        const bool timed = c.untimedEvery == 0 || k % c.untimedEvery != 1;
        const std::optional<double> v = speed.addPulse(us, timed);
        const bool bothTimed = k > 0 && timed && (c.untimedEvery == 0 || k % c.untimedEvery != 2);
        ASSERT_EQ(v.has_value(), bothTimed) << "pulse " << k;
        if (v) {
            // The mean over the period: for a steady change, the speed at its middle. The stamps'
            // microsecond is all the error there is.
            const double mid = speedAt(c, 0.5 * (pulseTime(c, k - 1) + t));
            const double periodUs = (t - pulseTime(c, k - 1)) * 1e6;
            EXPECT_NEAR(*v, mid, mid * 1.5 / periodUs) << "pulse " << k;
            ++perPulse;
        }
        lastUs = us;
    }
    EXPECT_GT(perPulse, c.pulses / 4);
    // The window's speed at its last pulse is the mean over its timed span; with a steady change,
    // the speed in the middle of that span.
    const std::optional<double> w = speed.windowed(lastUs);
    ASSERT_TRUE(w);
    const double end = pulseTime(c, c.pulses - 1);
    int first = 0;
    while (pulseTime(c, first) * 1e6 <= end * 1e6 - 1e6 ||
           (c.untimedEvery && first % c.untimedEvery == 1))
        ++first;
    const double truth = speedAt(c, 0.5 * (pulseTime(c, first) + end));
    EXPECT_NEAR(*w, truth, truth * 1e-5);
    EXPECT_EQ(speed.current(lastUs), w);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Shaft,
    ::testing::Values(Case{"slowOnePulse", 1, 100, 0, 20, 0, 0},
                      Case{"fastEightPulses", 8, 3000, 0, 4000, 0, 0},
                      Case{"runUp", 4, 300, 500, 400, 0, 0},
                      Case{"coastDown", 4, 3000, -800, 300, 0, 0},
                      Case{"untimedBetween", 4, 1000, 0, 300, 0, 3},
                      // A monotonic clock after years of uptime: microseconds past 2^53.
                      Case{"longRun", 4, 1000, 0, 200, (std::int64_t{1} << 55) + 123, 0}),
    caseName);

TEST(PreciseSpeed, NeedsTwoTimedPulsesAndFallsToZeroWhenTheShaftStops)
{
    PreciseSpeed speed(1, 1'000'000, 3'000'000);
    EXPECT_FALSE(speed.addPulse(0, true));
    EXPECT_FALSE(speed.windowed(0)) << "a single pulse is no speed";
    EXPECT_FALSE(speed.addPulse(50'000, false));
    EXPECT_FALSE(speed.current(50'000)) << "an untimed pulse gives no span";
    for (int k = 2; k <= 10; ++k)
        speed.addPulse(k * 50'000, true); // 1200 min^-1
    const std::int64_t last = 500'000;
    EXPECT_DOUBLE_EQ(*speed.current(last + 40'000), 1200);
    // Waited 200 ms, four periods: no faster than one pulse per 200 ms.
    EXPECT_DOUBLE_EQ(*speed.current(last + 200'000), 300);
    EXPECT_DOUBLE_EQ(*speed.current(last + 3'000'000), 0);
    speed.reset();
    EXPECT_FALSE(speed.current(last + 3'000'000));
}

} // namespace
