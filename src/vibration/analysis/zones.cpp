#include "vibration/analysis/zones.h"

#include <cmath>

namespace diagnostika::vibration {

namespace {

// Zone boundaries for velocity RMS in mm/s, the one copy in the program.
// Source: ISO 10816-3:2009, Annex A, Table A.1 (group 1) and Table A.2 (group 2), the same
// velocity values as its 1998 edition; ISO 20816-3:2022, which replaced it, keeps these velocity
// boundaries for the two groups in its Annex A (it changes the displacement criteria and the speed
// range, not these numbers).
//                                       A/B   B/C   C/D
constexpr ZoneBoundaries group1Rigid{2.3, 4.5, 7.1};
constexpr ZoneBoundaries group1Flexible{3.5, 7.1, 11.0};
constexpr ZoneBoundaries group2Rigid{1.4, 2.8, 4.5};
constexpr ZoneBoundaries group2Flexible{2.3, 4.5, 7.1};

} // namespace

ZoneBoundaries zoneBoundaries(MachineGroup group, Foundation foundation)
{
    if (group == MachineGroup::Group1)
        return foundation == Foundation::Rigid ? group1Rigid : group1Flexible;
    return foundation == Foundation::Rigid ? group2Rigid : group2Flexible;
}

Zone zoneOf(double velocityRmsMmS, MachineGroup group, Foundation foundation)
{
    const ZoneBoundaries b = zoneBoundaries(group, foundation);
    const double v = velocityRmsMmS;
    if (std::isnan(v) || v >= b.cd)
        return Zone::D;
    if (v >= b.bc)
        return Zone::C;
    if (v >= b.ab)
        return Zone::B;
    return Zone::A;
}

const char* zoneName(Zone zone)
{
    switch (zone) {
    case Zone::A:
        return "A";
    case Zone::B:
        return "B";
    case Zone::C:
        return "C";
    case Zone::D:
        return "D";
    }
    return "D";
}

} // namespace diagnostika::vibration
