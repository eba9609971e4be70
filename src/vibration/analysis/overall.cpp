#include "vibration/analysis/overall.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace diagnostika::vibration {

namespace {

// The crest of the sine through three equally spaced samples, the middle one the highest: for
// y_k = A cos(w (k - d)), cos w = (y_-1 + y_1) / (2 y_0) and A^2 = y_0^2 + ((y_1 - y_-1) /
// (2 sin w))^2. Exact for a sine whatever its rate; where the three do not look like a sine of at
// least four samples a period (an impact), the sample itself.
double peakBetweenSamples(double before, double at, double after)
{
    const double c = (before + after) / (2 * at);
    if (!(c > 0 && c < 1))
        return at;
    const double half = (after - before) / (2 * std::sqrt(1 - c * c));
    return std::max(at, std::sqrt(at * at + half * half));
}

} // namespace

OverallMeter::OverallMeter(double sampleRate, VelocityBand band, double blockSeconds)
    : sampleRate_(sampleRate), velocity_(sampleRate, band)
{
    const auto n = static_cast<std::size_t>(std::max(2.0, std::round(sampleRate * blockSeconds)));
    weights_.resize(n);
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double s =
            std::sin(std::numbers::pi * (static_cast<double>(i) + 0.5) / static_cast<double>(n));
        weights_[i] = s * s;
        sum += weights_[i];
    }
    for (double& w : weights_)
        w /= sum;
    acceleration_.resize(n);
    velocityBlock_.resize(n);
}

int OverallMeter::add(std::span<const float> accelerationMs2)
{
    int finished = 0;
    for (const float a : accelerationMs2) {
        acceleration_[filled_] = a;
        velocityBlock_[filled_] = velocity_.process(a);
        if (++filled_ == weights_.size()) {
            finishBlock();
            filled_ = 0;
            ++finished;
        }
    }
    return finished;
}

void OverallMeter::finishBlock()
{
    const std::size_t n = weights_.size();
    double mean = 0;
    for (std::size_t i = 0; i < n; ++i)
        mean += weights_[i] * acceleration_[i];
    double square = 0, peak = 0, velocitySquare = 0;
    std::size_t peakAt = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = acceleration_[i] - mean;
        square += weights_[i] * a * a;
        if (std::abs(a) > peak) {
            peak = std::abs(a);
            peakAt = i;
        }
        velocitySquare += weights_[i] * velocityBlock_[i] * velocityBlock_[i];
    }
    if (peakAt > 0 && peakAt + 1 < n) {
        const double sign = acceleration_[peakAt] < mean ? -1.0 : 1.0;
        peak = peakBetweenSamples(sign * (acceleration_[peakAt - 1] - mean), peak,
                                  sign * (acceleration_[peakAt + 1] - mean));
    }
    const double blockStart = elapsed_;
    elapsed_ += static_cast<double>(n) / sampleRate_;
    values_.accelerationRms = std::sqrt(square);
    values_.accelerationPeak = peak;
    values_.crestFactor = values_.accelerationRms > 0 ? peak / values_.accelerationRms : 0;
    values_.velocityRmsMmS = std::sqrt(velocitySquare) * 1000;
    values_.settled = blockStart >= velocity_.settlingSeconds();
}

void OverallMeter::reset()
{
    velocity_.reset();
    filled_ = 0;
    elapsed_ = 0;
    values_ = OverallValues{};
}

} // namespace diagnostika::vibration
