#pragma once
// Vibration velocity from acceleration over a band, as a stream, without drift.
//
// Takes acceleration samples in m/s^2 at `sampleRate` Hz; gives velocity in m/s, one sample for
// each. The integration is part of a band-pass: a 4th-order Butterworth high-pass at half the
// band's low edge (one of whose s-factors cancels the integrator's 1/s, so no pole sits at DC
// and no offset or rounding can make the velocity drift) and a 4th-order Butterworth low-pass at
// twice the high edge, made digital by the bilinear transform with the corners pre-warped. The
// bilinear integrator reads low by x / tan x (x = pi f / sampleRate); a short symmetric FIR
// takes that back out. Within the band the gain is 1 / (2 pi f) to 0.5 % (the corners take 0.2 %
// at the edges; what is left of the integrator's loss is 0.4 % at 6 times the high edge and
// nothing to speak of at 48 kHz); -3 dB lies at half the low edge and at twice the high edge.

#include <array>
#include <span>

namespace diagnostika::vibration {

struct VelocityBand {
    double lowHz;
    double highHz;
};
// The usual band, and the one for machines below 600 min^-1.
inline constexpr VelocityBand standardVelocityBand{10, 1000};
inline constexpr VelocityBand slowMachineVelocityBand{2, 1000};

class VelocityFilter {
public:
    // The band's high edge is lowered to sampleRate / 6 where the samples cannot carry it to that
    // accuracy (a converter read at a few kHz); band() tells the band measured.
    VelocityFilter(double sampleRate, VelocityBand band);

    double process(double accelerationMs2);
    void process(std::span<const float> accelerationMs2, std::span<double> velocityMs);
    // Forgets the past, as at the start.
    void reset();

    VelocityBand band() const { return band_; }
    // How long after a start (or a step in the input's offset) the output is the velocity to
    // 1e-4 of the step's transient.
    double settlingSeconds() const { return settling_; }

private:
    struct Biquad {
        double b0, b1, b2, a1, a2;
        double s1 = 0, s2 = 0;
        double run(double x);
    };
    VelocityBand band_;
    double settling_;
    std::array<Biquad, 4> sections_;
    std::array<double, 4> fir_{}; // the last inputs of the correcting FIR
};

} // namespace diagnostika::vibration
