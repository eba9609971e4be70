#pragma once
// Spectral windows: Hann for resolving lines close together, flat-top for reading amplitudes (a
// tone reads the same whether it falls on a line or between two, to 0.01 dB).
//
// Both are cosine sums w_i = sum_m (-1)^m a_m cos(2 pi m i / n), i = 0..n-1, in their periodic
// form (the one a DFT of n points sees as exact).

#include <cstddef>
#include <span>
#include <vector>

namespace diagnostika::vibration {

enum class WindowKind { Hann, FlatTop };

// The cosine-sum coefficients a_0, a_1, ...
std::span<const double> windowCoefficients(WindowKind kind);

// The window's n weights.
std::vector<float> makeWindow(WindowKind kind, std::size_t n);

// The mean weight: a tone of amplitude A gives |X| = A n coherentGain / 2 at its line.
double coherentGain(WindowKind kind);
// The noise-equivalent bandwidth in lines: a line holds this many lines' worth of broadband power.
double noiseBandwidthLines(WindowKind kind);

// The window's spectral response, `offset` lines from the tone, relative to its value at the tone
// (1 at 0). A sine between lines k and k+1 reads |relativeResponse(distance)| times its amplitude.
double relativeResponse(WindowKind kind, double offset);

} // namespace diagnostika::vibration
