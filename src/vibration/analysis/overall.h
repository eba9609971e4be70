#pragma once
// Overall values of a vibration stream, block by block (about a second each).
//
// Takes acceleration samples in m/s^2 at `sampleRate` Hz, in pieces of any size. Every
// `blockSeconds` of samples gives one OverallValues:
//  - acceleration RMS and peak (m/s^2) around the block's mean, the sensor's offset taken out;
//    peak is the largest |a - mean|, its crest found between the samples as the sine through the
//    largest sample and its neighbours (a sampled peak alone reads a 1 kHz sine at 8 kHz up to
//    7.6 % low); crest factor peak / RMS;
//  - velocity RMS in mm/s over the band (velocity.h), the filter running on across blocks.
// RMS is a Hann-weighted mean square over the block: a sine's RMS then reads within 0.3 % from
// two periods per block on and within 0.02 % from five, whether or not a whole number of its
// periods fits the block (a plain mean square is off by up to 1 / (4 pi f T), 0.8 % for 10 Hz
// over a second).

#include "vibration/analysis/velocity.h"

#include <cstddef>
#include <span>
#include <vector>

namespace diagnostika::vibration {

struct OverallValues {
    double accelerationRms = 0;  // m/s^2
    double accelerationPeak = 0; // m/s^2
    double crestFactor = 0;      // peak / RMS; 0 for a silent block
    double velocityRmsMmS = 0;   // mm/s over the band
    bool settled = false;        // false while the velocity filter may still carry the start
};

class OverallMeter {
public:
    OverallMeter(double sampleRate, VelocityBand band = standardVelocityBand,
                 double blockSeconds = 1.0);

    // Takes the next samples; returns how many blocks they finished (the last is values()).
    int add(std::span<const float> accelerationMs2);
    const OverallValues& values() const { return values_; }
    // Forgets the past, as at the start.
    void reset();

    std::size_t blockSize() const { return weights_.size(); }
    VelocityBand band() const { return velocity_.band(); }

private:
    void finishBlock();

    double sampleRate_;
    VelocityFilter velocity_;
    std::vector<double> weights_; // Hann, summing to 1
    std::vector<float> acceleration_;
    std::vector<double> velocityBlock_;
    std::size_t filled_ = 0;
    double elapsed_ = 0; // seconds since the start, at the end of the last block
    OverallValues values_;
};

} // namespace diagnostika::vibration
