#pragma once
// Order analysis of a signal sampled at even steps of the shaft's angle: the order spectrum, the
// amplitude and phase of chosen orders, the synchronous average, and the tracker that turns
// stamped pulses and time samples into frames of all of these as the shaft turns.
//
// Orders: order o is o times the shaft's frequency; a component A cos(2 pi o theta - phi), theta
// in revolutions from the reference pulse, has amplitude A (peak, in the samples' unit) and phase
// phi: how far (degrees, 0..360) its peak lags the reference pulse, as balancing reads it.

#include "angleresampler.h"
#include "tachometer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace diagnostika::orders {

struct OrderPoint {
    double order = 0;
    double amplitude = 0; // peak
    double phaseDeg = 0;  // lag after the reference pulse, 0..360
};

struct OrderSpectrum {
    double orderStep = 0;          // orders between lines: 1 / revolutions taken
    std::vector<double> amplitude; // line k at order k * orderStep, peak amplitude
    double order(std::size_t line) const { return static_cast<double>(line) * orderStep; }
};

// The Hann-windowed spectrum of `signal` (whole revolutions of `samplesPerRevolution` steps), up
// to `maxOrder`. A component on a line reads its amplitude there.
OrderSpectrum orderSpectrum(std::span<const float> signal, int samplesPerRevolution,
                            double maxOrder);

// The highest line within `halfWidth` orders of `order`, placed between lines and read as the
// component there would be (the Hann window's shape, so a component between lines reads true).
std::optional<OrderPoint> peakNear(const OrderSpectrum& spectrum, double order,
                                   double halfWidth = 0.25);

// The amplitude and phase of `order` in `signal`, whose first step is angle step `firstIndex`
// (revolutions = index / samplesPerRevolution from the reference pulse), through a Hann window.
OrderPoint orderAt(std::span<const float> signal, std::int64_t firstIndex, int samplesPerRevolution,
                   double order);

// The mean revolution of `signal` (whole revolutions, each starting at angle 0): what repeats
// every turn stays, everything else (other orders' fractions, noise) averages away.
std::vector<float> synchronousAverage(std::span<const float> signal, int samplesPerRevolution);

struct OrderSettings {
    int samplesPerRevolution = 256; // orders up to 128 before folding
    double cutoffOrder = 100;       // the anti-aliasing filter's cutoff
    int frameRevolutions = 8;       // each frame: order resolution 1 / frameRevolutions
    int hopRevolutions = 4;         // a frame every this many revolutions
    double maxOrder = 50;           // the frames' spectra up to here
    std::vector<double> trackedOrders{1.0, 2.0};
};

// One frame of the shaft's turning: its mean speed, its spectrum, its tracked orders.
struct OrderFrame {
    double speed = 0;   // min^-1, mean over the frame
    double startUs = 0; // the frame's first and last moment
    double endUs = 0;
    OrderSpectrum spectrum;
    std::vector<OrderPoint> tracks; // in the order of OrderSettings::trackedOrders
};

// Where a track (index `track` of the frames' tracks) peaks against speed: the speed of the
// highest point, refined by a parabola through it and its neighbours in speed.
std::optional<double> trackPeakSpeed(std::span<const OrderFrame> frames, std::size_t track);

class OrderTracker {
public:
    OrderTracker(double pulsesPerRevolution, const OrderSettings& settings);
    ~OrderTracker();

    const OrderSettings& settings() const { return settings_; }
    void setTrackedOrders(std::vector<double> orders)
    {
        settings_.trackedOrders = std::move(orders);
    }

    // An edge of the speed line (its level after the edge, its stamp, whether the stamp is its
    // own).
    void addEdge(bool level, std::int64_t stampUs, bool timed);
    // The next block of samples.
    void addSamples(double firstSampleUs, int rate, std::span<const float> samples);
    // Resamples what the pulses now reach; returns the frames completed.
    std::vector<OrderFrame> update();

    const Tachometer& tachometer() const { return tacho_; }
    // The last `revolutions` whole revolutions held (fewer if fewer are), and the angle step of
    // their first sample.
    std::span<const float> recent(int revolutions, std::int64_t* firstIndex = nullptr) const;
    // Whole revolutions held now.
    int revolutionsHeld() const;
    // How often the angle-domain signal broke (lost samples, pulses missing too long).
    int breaks() const { return breaks_; }

private:
    OrderFrame makeFrame(std::int64_t startRevolution) const;

    OrderSettings settings_;
    Tachometer tacho_;
    AngleResampler resampler_;
    std::vector<float> signal_;        // angle steps from revolution first_
    std::vector<double> revolutionUs_; // moment of revolution first_ + i
    std::int64_t first_ = 0;           // the revolution signal_[0] starts
    std::optional<std::int64_t> nextFrame_;
    int seenRestarts_ = 0;
    int breaks_ = 0;
    std::vector<float> scratch_;
};

} // namespace diagnostika::orders
