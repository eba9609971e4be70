#include "vibration/analysis/velocity.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace diagnostika::vibration {

namespace {

// The two pole pairs of a 4th-order Butterworth: Q = 1 / (2 sin(pi/8)) and 1 / (2 sin(3 pi/8)).
constexpr double qLow = 0.5411961001461970;
constexpr double qHigh = 1.3065629648763766;

struct Analog {
    double b2, b1, b0, a2, a1, a0; // (b2 s^2 + b1 s + b0) / (a2 s^2 + a1 s + a0)
};

// s = k (1 - 1/z) / (1 + 1/z), k = 2 sampleRate.
std::array<double, 5> bilinear(const Analog& h, double k)
{
    const double k2 = k * k;
    const double a0 = h.a2 * k2 + h.a1 * k + h.a0;
    return {(h.b2 * k2 + h.b1 * k + h.b0) / a0, (2 * h.b0 - 2 * h.b2 * k2) / a0,
            (h.b2 * k2 - h.b1 * k + h.b0) / a0, (2 * h.a0 - 2 * h.a2 * k2) / a0,
            (h.a2 * k2 - h.a1 * k + h.a0) / a0};
}

// The analog corner that the bilinear transform maps onto `hz`.
double prewarped(double hz, double sampleRate)
{
    return 2 * sampleRate * std::tan(std::numbers::pi * hz / sampleRate);
}

// Gain 1 + sin^2(x) / 3 + 11 sin^4(x) / 45 with x = pi f / sampleRate: tan x / x to O(x^6), the
// inverse of the bilinear integrator's loss. Taps h2, h1, h0, h1, h2.
constexpr double firH2 = 11.0 / 720;
constexpr double firH1 = -(1.0 / 12 + 4 * firH2);
constexpr double firH0 = 1 + 2.0 / 12 + 6 * firH2;

} // namespace

double VelocityFilter::Biquad::run(double x)
{
    const double y = b0 * x + s1;
    s1 = b1 * x - a1 * y + s2;
    s2 = b2 * x - a2 * y;
    return y;
}

VelocityFilter::VelocityFilter(double sampleRate, VelocityBand band)
    : band_{band.lowHz, std::min(band.highHz, sampleRate / 6)}
{
    const double k = 2 * sampleRate;
    const double wh = prewarped(band_.lowHz / 2, sampleRate);
    const double wl = prewarped(band_.highHz * 2, sampleRate);
    const Analog parts[4] = {
        {1, 0, 0, 1, wh / qLow, wh * wh},        // high-pass
        {0, 1, 0, 1, wh / qHigh, wh * wh},       // high-pass times the integrator 1/s
        {0, 0, wl * wl, 1, wl / qLow, wl * wl},  // low-pass
        {0, 0, wl * wl, 1, wl / qHigh, wl * wl}, // low-pass
    };
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const std::array<double, 5> c = bilinear(parts[i], k);
        sections_[i] = Biquad{c[0], c[1], c[2], c[3], c[4]};
    }
    // The slowest pole pair decays as exp(-wh sin(pi/8) t); 1e-4 of it is left after ln(1e4) of
    // those time constants.
    settling_ =
        std::log(1e4) / (2 * std::numbers::pi * band_.lowHz / 2 * std::sin(std::numbers::pi / 8));
}

double VelocityFilter::process(double accelerationMs2)
{
    double v = accelerationMs2;
    for (Biquad& s : sections_)
        v = s.run(v);
    const double out = firH2 * (v + fir_[3]) + firH1 * (fir_[0] + fir_[2]) + firH0 * fir_[1];
    fir_ = {v, fir_[0], fir_[1], fir_[2]};
    return out;
}

void VelocityFilter::process(std::span<const float> accelerationMs2, std::span<double> velocityMs)
{
    const std::size_t n = std::min(accelerationMs2.size(), velocityMs.size());
    for (std::size_t i = 0; i < n; ++i)
        velocityMs[i] = process(accelerationMs2[i]);
}

void VelocityFilter::reset()
{
    for (Biquad& s : sections_)
        s.s1 = s.s2 = 0;
    fir_ = {};
}

} // namespace diagnostika::vibration
