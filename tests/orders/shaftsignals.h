#pragma once
// A shaft turning at a steady acceleration, in closed form: its angle, the moments its pulses
// come, and vibration at chosen orders of it, sampled at even steps of time.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace diagnostika::orders::test {

struct OrderTone {
    double order;
    double amplitude; // peak
    double phaseDeg;  // lag of its peak after angle 0: A cos(2 pi order theta - phase)
};

struct Ramp {
    double fromSpeed; // min^-1 at t = 0
    double toSpeed;   // min^-1 at t = seconds
    double seconds;
    double startRevolutions = 0; // the angle at t = 0

    double acceleration() const { return (toSpeed - fromSpeed) / 60.0 / seconds; } // rev/s^2
    double revolutionsAt(double s) const
    {
        return startRevolutions + fromSpeed / 60.0 * s + 0.5 * acceleration() * s * s;
    }
    double speedAt(double s) const { return fromSpeed + acceleration() * 60.0 * s; }
    // When the shaft reaches `revolutions`, or a negative time if never within the ramp.
    double timeOf(double revolutions) const
    {
        const double f0 = fromSpeed / 60.0, a = acceleration(), d = revolutions - startRevolutions;
        if (a == 0)
            return d / f0;
        const double disc = f0 * f0 + 2 * a * d;
        return disc < 0 ? -1 : (-f0 + std::sqrt(disc)) / a;
    }
};

inline double toneSum(const std::vector<OrderTone>& tones, double revolutions)
{
    double v = 0;
    for (const OrderTone& t : tones)
        v += t.amplitude * std::cos(2 * std::numbers::pi * t.order * revolutions -
                                    t.phaseDeg * std::numbers::pi / 180.0);
    return v;
}

// The moments (us) of the pulses of a sensor giving `perRevolution` pulses a turn, over the ramp.
inline std::vector<double> pulseMoments(const Ramp& ramp, double perRevolution)
{
    std::vector<double> us;
    for (auto k = static_cast<std::int64_t>(std::ceil(ramp.startRevolutions * perRevolution));;
         ++k) {
        const double s = ramp.timeOf(static_cast<double>(k) / perRevolution);
        if (s < 0 || s > ramp.seconds)
            break;
        us.push_back(s * 1e6);
    }
    return us;
}

} // namespace diagnostika::orders::test
