#include "vibration/analysis/scaling.h"
#include "vibration/analysis/zones.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace diagnostika::vibration;

TEST(Scaling, FullScaleAndSensitivityGiveAcceleration)
{
    struct Case {
        Scaling scaling;
        double ms2; // for a raw sample of 1.0
    };
    // 1 V full scale on a 100 mV/g sensor is 10 g; 2.5 V on 10.2 mV/(m/s^2) is 245.1 m/s^2.
    const std::vector<Case> cases = {
        {{1.0, 100.0, SensitivityUnit::MillivoltPerG}, 10 * standardGravity},
        {{2.5, 10.2, SensitivityUnit::MillivoltPerMetrePerSecond2}, 2500 / 10.2},
        {{0.5, 500.0, SensitivityUnit::MillivoltPerG}, standardGravity},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(c.scaling.perFullScale(AccelerationUnit::MetrePerSecond2), c.ms2, 1e-9 * c.ms2);
        EXPECT_NEAR(c.scaling.perFullScale(AccelerationUnit::G), c.ms2 / 9.80665, 1e-9 * c.ms2);
        const std::vector<float> raw = {-1.0f, 0.25f, 1.0f};
        std::vector<float> out(raw.size());
        toAcceleration(raw, c.scaling, AccelerationUnit::G, out);
        for (std::size_t i = 0; i < raw.size(); ++i)
            EXPECT_NEAR(out[i], raw[i] * c.ms2 / 9.80665, 1e-5 * c.ms2);
    }
    // A sensitivity of zero (an empty setting) gives no acceleration rather than infinity.
    const Scaling empty{1.0, 0.0, SensitivityUnit::MillivoltPerG};
    EXPECT_FALSE(empty.valid());
    EXPECT_EQ(empty.perFullScale(), 0.0);
}

TEST(Zones, BoundariesFollowTheTableAndBelongToTheUpperZone)
{
    struct Case {
        MachineGroup group;
        Foundation foundation;
        double ab, bc, cd;
    };
    const std::vector<Case> cases = {
        {MachineGroup::Group1, Foundation::Rigid, 2.3, 4.5, 7.1},
        {MachineGroup::Group1, Foundation::Flexible, 3.5, 7.1, 11.0},
        {MachineGroup::Group2, Foundation::Rigid, 1.4, 2.8, 4.5},
        {MachineGroup::Group2, Foundation::Flexible, 2.3, 4.5, 7.1},
    };
    for (const Case& c : cases) {
        const ZoneBoundaries b = zoneBoundaries(c.group, c.foundation);
        EXPECT_EQ(b.ab, c.ab);
        EXPECT_EQ(b.bc, c.bc);
        EXPECT_EQ(b.cd, c.cd);
        const struct {
            double v;
            Zone zone;
        } points[] = {
            {0.0, Zone::A},
            {std::nextafter(c.ab, 0.0), Zone::A},
            {c.ab, Zone::B},
            {std::nextafter(c.bc, 0.0), Zone::B},
            {c.bc, Zone::C},
            {std::nextafter(c.cd, 0.0), Zone::C},
            {c.cd, Zone::D},
            {100.0, Zone::D},
            {std::numeric_limits<double>::quiet_NaN(), Zone::D},
        };
        for (const auto& p : points)
            EXPECT_EQ(zoneOf(p.v, c.group, c.foundation), p.zone)
                << p.v << " mm/s, boundaries " << c.ab << "/" << c.bc << "/" << c.cd;
    }
}
