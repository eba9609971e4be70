#include "signals.h"
#include "vibration/analysis/overall.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

using namespace diagnostika::vibration;
using namespace diagnostika::vibration::test;

namespace {

// Runs `x` through a meter in uneven pieces; the values of the last block.
OverallValues measure(OverallMeter& meter, const std::vector<float>& x)
{
    std::size_t at = 0, piece = 317;
    while (at < x.size()) {
        const std::size_t n = std::min(piece, x.size() - at);
        meter.add(std::span(x).subspan(at, n));
        at += n;
        piece = piece * 7 % 4093 + 1;
    }
    return meter.values();
}

} // namespace

TEST(Overall, SineGivesItsRmsPeakCrestAndVelocity)
{
    struct Case {
        double rate;
        VelocityBand band;
        double hz;
    };
    // Across both bands, their very edges included, at a sound card's rates and at a slow one.
    const std::vector<Case> cases = {
        {48000, standardVelocityBand, 10.0},
        {48000, standardVelocityBand, 13.7},
        {48000, standardVelocityBand, 159.2},
        {48000, standardVelocityBand, 1000.0},
        {44100, standardVelocityBand, 731.3},
        {25600, standardVelocityBand, 10.0},
        {25600, standardVelocityBand, 1000.0},
        {8000, standardVelocityBand, 1000.0},
        {8000, standardVelocityBand, 55.5},
        {48000, slowMachineVelocityBand, 2.0},
        {48000, slowMachineVelocityBand, 3.3},
        {25600, slowMachineVelocityBand, 1000.0},
        // A converter read at 2,560 Hz carries the band only up to a sixth of its rate.
        {2560, standardVelocityBand, 2560.0 / 6},
    };
    const double amplitude = 7.0; // m/s^2 peak
    for (const Case& c : cases) {
        OverallMeter meter(c.rate, c.band);
        // Settled, then a few blocks on: no drift may build up.
        const double seconds = std::ceil(VelocityFilter(c.rate, c.band).settlingSeconds()) + 3;
        // An offset on the input (a sensor's bias) must change none of the values.
        const OverallValues v = measure(meter, tones(c.rate, seconds, {{c.hz, amplitude}}, 0.8));
        const double rms = amplitude / std::numbers::sqrt2;
        const double velocity = rms / (2 * std::numbers::pi * c.hz) * 1000;
        EXPECT_TRUE(v.settled);
        EXPECT_NEAR(v.accelerationRms, rms, 0.005 * rms) << c.hz << " Hz at " << c.rate;
        EXPECT_NEAR(v.accelerationPeak, amplitude, 0.005 * amplitude)
            << c.hz << " Hz at " << c.rate;
        EXPECT_NEAR(v.crestFactor, std::numbers::sqrt2, 0.01) << c.hz << " Hz at " << c.rate;
        EXPECT_NEAR(v.velocityRmsMmS, velocity, 0.01 * velocity) << c.hz << " Hz at " << c.rate;
    }
}

TEST(Overall, VelocityBandKeepsOutWhatLiesWellOutsideIt)
{
    // A tenth of the low edge and ten times the high edge are both far down the 4th-order slopes,
    // (f / (f_low / 2))^4 = 0.0016 and ((2 f_high) / f)^4 = 0.0016 of the in-band gain.
    for (const double hz : {1.0, 10000.0}) {
        OverallMeter meter(48000, standardVelocityBand);
        const OverallValues v = measure(meter, tones(48000, 3.0, {{hz, 7.0}}));
        const double inBand = 7.0 / std::numbers::sqrt2 / (2 * std::numbers::pi * hz) * 1000;
        EXPECT_LT(v.velocityRmsMmS, 0.002 * inBand) << hz << " Hz";
    }
}

TEST(Overall, BlocksComeEverySecondAndTheFirstAreNotSettled)
{
    OverallMeter meter(1000, standardVelocityBand);
    EXPECT_EQ(meter.blockSize(), 1000u);
    EXPECT_NEAR(meter.band().highHz, 1000.0 / 6, 1e-9);
    const std::vector<float> x = tones(1000, 2.5, {{50, 1}});
    EXPECT_EQ(meter.add(std::span(x).first(999)), 0);
    EXPECT_EQ(meter.add(std::span(x).subspan(999)), 2);
    // The second block started at 1 s, past the 0.77 s the 10 Hz band's filter needs.
    EXPECT_TRUE(meter.values().settled);
    meter.reset();
    EXPECT_EQ(meter.add(std::span(x).first(1000)), 1);
    EXPECT_FALSE(meter.values().settled);
}
