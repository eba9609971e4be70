#pragma once
// The highest peaks of a spectrum, with the frequency and amplitude of the tone behind each.
//
// Takes a Spectrum (averager.h). A peak is a line higher than the line below it and not
// lower than the one above (line 0, the mean, is never one). Its tone's offset from the line is
// found from the ratio of the line to its higher neighbour through the window's known shape, which
// also gives the amplitude the tone had before the window lowered it between lines. Gives the
// `count` highest, highest first: frequency in Hz, amplitude in the spectrum's unit and scale, and
// with a shaft frequency the order (frequency / shaft frequency).

#include "vibration/analysis/averager.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace diagnostika::vibration {

struct SpectrumPeak {
    std::size_t line = 0;        // the highest line of the peak
    double frequency = 0;        // Hz, interpolated between lines
    double amplitude = 0;        // corrected for where the tone fell between lines
    std::optional<double> order; // frequency / shaft frequency, when one was given
};

std::vector<SpectrumPeak> findPeaks(const Spectrum& spectrum, std::size_t count = 10,
                                    std::optional<double> shaftHz = std::nullopt);

} // namespace diagnostika::vibration
