#pragma once
// Synthetic signals whose answers are known in closed form.

#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

namespace diagnostika::vibration::test {

struct Tone {
    double hz;
    double amplitude; // peak
    double phase = 0.3;
};

// `seconds` of the tones (plus `offset`) sampled at `rate` Hz.
inline std::vector<float> tones(double rate, double seconds, const std::vector<Tone>& parts,
                                double offset = 0)
{
    const auto n = static_cast<std::size_t>(std::lround(rate * seconds));
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        double v = offset;
        for (const Tone& p : parts)
            v += p.amplitude * std::sin(2 * std::numbers::pi * p.hz * t + p.phase);
        x[i] = static_cast<float>(v);
    }
    return x;
}

} // namespace diagnostika::vibration::test
