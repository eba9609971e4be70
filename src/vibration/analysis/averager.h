#pragma once
// Averaged amplitude spectra of a stream of samples, as an instrument's analyser makes them.
//
// Takes samples (any unit, e.g. m/s^2) in blocks of any size at `sampleRate` Hz. Every frame of
// n = 2.56 * lines samples (n = 1,024..65,536 for 400..25,600 lines), frames overlapping by
// `overlap` (0..0.75), is windowed and transformed; frames are averaged on their power, either
// linearly (`averages` frames, then a finished spectrum and a fresh average) or exponentially
// (a new spectrum after every frame, each frame weighing 1/averages once that many are in; the
// first ones average linearly). A spectrum holds lines 0..lines, line k at k * sampleRate / n Hz,
// each the amplitude of a sine on that line (peak, or RMS = peak / sqrt 2) in the samples' unit.

#include "vibration/analysis/fft.h"
#include "vibration/analysis/window.h"

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace diagnostika::vibration {

enum class Averaging { Linear, Exponential };
enum class AmplitudeScale { Rms, Peak };

struct SpectrumSettings {
    double sampleRate = 25600; // Hz
    int lines = 1600;          // 400, 800, ..., 25,600
    WindowKind window = WindowKind::Hann;
    double overlap = 0.5; // of a frame, 0..0.75
    Averaging averaging = Averaging::Linear;
    int averages = 4; // at least 1
    AmplitudeScale scale = AmplitudeScale::Rms;
};

// The frame size for `lines` lines (lines * 2.56); 0 when `lines` is not one of 400 * 2^k up to
// 25,600.
std::size_t frameSizeForLines(int lines);

struct Spectrum {
    double lineSpacing = 0;        // Hz between lines: sampleRate / n
    std::vector<double> amplitude; // lines + 1 values, line 0 the mean (DC)
    int averaged = 0;              // frames in this spectrum
    WindowKind window = WindowKind::Hann;
    AmplitudeScale scale = AmplitudeScale::Rms;

    double frequency(std::size_t line) const { return static_cast<double>(line) * lineSpacing; }
};

class SpectrumAnalyzer {
public:
    // Settings out of range are brought to the nearest valid ones (see settings()).
    explicit SpectrumAnalyzer(const SpectrumSettings& settings);

    // Takes the next samples; returns how many new spectra they finished (the last is spectrum()).
    int add(std::span<const float> samples);
    // The last finished spectrum; empty amplitudes before the first.
    const Spectrum& spectrum() const { return spectrum_; }
    // Frames in the average being built, of settings().averages (linear averaging).
    int framesInAverage() const { return frames_; }
    // Forgets the samples and the average (a new input, a changed machine state).
    void reset();

    const SpectrumSettings& settings() const { return settings_; }
    std::size_t frameSize() const { return n_; }

private:
    void processFrame(const float* frame);
    void publish();

    SpectrumSettings settings_;
    std::size_t n_;
    std::size_t hop_;
    std::vector<float> window_;
    RealFft fft_;
    std::vector<float> pending_; // samples not yet past a frame's hop
    std::size_t pendingStart_ = 0;
    std::vector<float> frame_;
    std::vector<std::complex<float>> bins_;
    std::vector<double> power_; // the average being built, per line
    int frames_ = 0;
    Spectrum spectrum_;
};

} // namespace diagnostika::vibration
