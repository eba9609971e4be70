#pragma once
// Samples taken at even steps of time, resampled at even steps of the shaft's angle.
//
// Each angle step's moment comes from the tachometer; the signal there is a band-limited
// interpolation of the samples around it (a windowed sinc), its cutoff following the shaft: a fixed
// order (cutoffOrder) times the shaft's frequency at that moment, never above 0.45 of the sample
// rate. So the angle-domain signal holds orders up to about 0.85 of the cutoff flat to a few parts
// in ten thousand, and what lies above (higher orders, the bearing's and the structure's own
// frequencies, the noise) is filtered out before it could fold back onto the orders shown. The
// filter has no delay: its kernel is symmetric about each step's moment, so phases stay true.
//
// Samples come in blocks; a block that does not continue the one before (samples were lost, the
// input reopened) starts the signal afresh and the angle-domain signal with it (restarts()).

#include "tachometer.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace diagnostika::orders {

class AngleResampler {
public:
    // Zero crossings of the kernel on each side.
    static constexpr int kernelZeros = 16;

    AngleResampler(int samplesPerRevolution, double cutoffOrder);

    int samplesPerRevolution() const { return perRevolution_; }

    // Takes the next block: `samples` at `rate` Hz, the first taken at `firstSampleUs`.
    void addSamples(double firstSampleUs, int rate, std::span<const float> samples);
    // Appends to `out` every angle step that the samples and the tachometer's pulses now reach,
    // and to `revolutionUs` the moment of each whole revolution among them.
    void run(const Tachometer& tacho, std::vector<float>& out, std::vector<double>& revolutionUs);
    // The angle step the next output stands at: revolutions = index / samplesPerRevolution. None
    // before the first output after a restart is placed.
    std::optional<std::int64_t> nextIndex() const { return next_; }
    // How often the angle-domain signal started afresh; outputs after a restart do not continue
    // those before.
    int restarts() const { return restarts_; }
    void reset();

private:
    double sampleUs(std::int64_t n) const { return startUs_ + static_cast<double>(n) * periodUs_; }
    double kernel(double x) const; // the windowed sinc at x zero crossings, |x| < kernelZeros

    int perRevolution_;
    double cutoffOrder_;
    std::vector<float> table_; // kernel(x) at x = k / tableSteps
    int rate_ = 0;
    double periodUs_ = 0;
    double startUs_ = 0;     // moment of sample 0 of this run
    std::int64_t first_ = 0; // index of samples_[0]
    std::deque<float> samples_;
    std::optional<std::int64_t> next_;
    std::optional<double> lastStepUs_; // the moment of the last output, for the shaft's speed
    double lastHalfUs_ = 0;            // the last kernel's half width
    int restarts_ = 0;
};

} // namespace diagnostika::orders
