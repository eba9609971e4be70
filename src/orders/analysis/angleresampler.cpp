#include "angleresampler.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace diagnostika::orders {

namespace {

constexpr int tableSteps = 512; // table entries per zero crossing
// The samples held without pulses to place them: beyond this the oldest go (and the run restarts).
constexpr double maxHeldSeconds = 10.0;
// How far a block's stamp may lie from the end of the one before and still continue it: more than
// the ALSA input's largest step (alsa/capturestamps.h, 100 us), less than a lost period of samples.
constexpr double maxWanderUs = 250.0;

} // namespace

AngleResampler::AngleResampler(int samplesPerRevolution, double cutoffOrder)
    : perRevolution_(samplesPerRevolution), cutoffOrder_(cutoffOrder)
{
    // sinc(x) under a Blackman window spanning the kernel: stopband below -70 dB.
    table_.resize(static_cast<std::size_t>(kernelZeros * tableSteps + 2));
    for (std::size_t k = 0; k < table_.size(); ++k) {
        const double x = static_cast<double>(k) / tableSteps;
        if (x >= kernelZeros) {
            table_[k] = 0.0f;
            continue;
        }
        const double px = std::numbers::pi * x;
        const double sinc = x == 0 ? 1.0 : std::sin(px) / px;
        const double u = std::numbers::pi * (x / kernelZeros + 1.0); // 0..2pi across the kernel
        const double w = 0.42 - 0.5 * std::cos(u) + 0.08 * std::cos(2 * u);
        table_[k] = static_cast<float>(sinc * w);
    }
}

void AngleResampler::reset()
{
    samples_.clear();
    next_.reset();
    lastStepUs_.reset();
    rate_ = 0;
}

double AngleResampler::kernel(double x) const
{
    const double at = std::abs(x) * tableSteps;
    const auto k = static_cast<std::size_t>(at);
    if (k + 1 >= table_.size())
        return 0.0;
    const double f = at - static_cast<double>(k);
    return table_[k] + f * (table_[k + 1] - table_[k]);
}

void AngleResampler::addSamples(double firstSampleUs, int rate, std::span<const float> samples)
{
    if (samples.empty() || rate <= 0)
        return;
    const std::int64_t end = first_ + static_cast<std::int64_t>(samples_.size());
    // A block continues the run when it starts near where the last one ended. A sound card's
    // stamps follow its clock's drift against CLOCK_MONOTONIC, a bounded step a block, so they
    // wander by tens of microseconds from the count of samples: the run's clock follows them. A
    // block further off than that (or than half a sample) comes after lost samples.
    const double offUs = firstSampleUs - sampleUs(end);
    const bool continues =
        rate == rate_ && std::abs(offUs) < std::max(0.5 * periodUs_, maxWanderUs);
    if (continues) {
        startUs_ += offUs;
    } else {
        if (rate_ != 0)
            ++restarts_;
        rate_ = rate;
        periodUs_ = 1e6 / rate;
        startUs_ = firstSampleUs;
        first_ = 0;
        samples_.clear();
        next_.reset();
        lastStepUs_.reset();
    }
    samples_.insert(samples_.end(), samples.begin(), samples.end());
    const auto most = static_cast<std::size_t>(maxHeldSeconds * rate_);
    if (samples_.size() > most) {
        const std::size_t drop = samples_.size() - most;
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
        first_ += static_cast<std::int64_t>(drop);
    }
}

void AngleResampler::run(const Tachometer& tacho, std::vector<float>& out,
                         std::vector<double>& revolutionUs)
{
    if (rate_ == 0 || samples_.empty())
        return;
    const double step = 1.0 / perRevolution_;
    const double heldFromUs = sampleUs(first_);
    const double heldToUs = sampleUs(first_ + static_cast<std::int64_t>(samples_.size()) - 1);
    const double maxCutoffHz = 0.45 * rate_;
    if (!next_) {
        // The first step the pulses place after the held samples begin.
        const std::optional<double> first = tacho.firstRevolution();
        if (!first)
            return;
        const double start = tacho.revolutionsAt(heldFromUs).value_or(*first);
        next_ = static_cast<std::int64_t>(std::ceil(std::max(start, *first) * perRevolution_));
    }
    while (true) {
        const double revolutions = static_cast<double>(*next_) * step;
        const std::optional<double> at = tacho.timeAt(revolutions);
        if (!at)
            break;
        // The shaft's frequency here, from this step and its neighbour.
        std::optional<double> other = tacho.timeAt(revolutions + step);
        double stepUs = 0;
        if (other)
            stepUs = *other - *at;
        else if (lastStepUs_)
            stepUs = *at - *lastStepUs_;
        else
            break; // the next pulse will tell
        if (!(stepUs > 0)) {
            // The moments went back: pulses far apart around a stop and a start, where no curve
            // through them places the angle. What follows does not continue what came before.
            ++*next_;
            if (lastStepUs_) {
                ++restarts_;
                lastStepUs_.reset();
                return;
            }
            continue;
        }
        const double shaftHz = 1e6 / (stepUs * perRevolution_);
        const double cutoffHz = std::min(cutoffOrder_ * shaftHz, maxCutoffHz);
        // The kernel's half width, and its scale: sample spacing in zero crossings.
        const double zeroUs = 1e6 / (2.0 * cutoffHz);
        const double halfUs = kernelZeros * zeroUs;
        if (*at - halfUs < heldFromUs) {
            if (lastStepUs_) {
                // Samples it needs were dropped (held too long without pulses): what follows does
                // not continue what came before. The caller sees restarts() move and runs again.
                ++restarts_;
                lastStepUs_.reset();
                return;
            }
            // Its past was never held (the start of a run): skip to where it is.
            ++*next_;
            continue;
        }
        if (*at + halfUs > heldToUs)
            break;
        const auto lo = static_cast<std::int64_t>(std::ceil((*at - halfUs - startUs_) / periodUs_));
        const auto hi =
            static_cast<std::int64_t>(std::floor((*at + halfUs - startUs_) / periodUs_));
        const double scale = periodUs_ / zeroUs; // sample spacing in zero crossings
        double sum = 0;
        double x = (sampleUs(lo) - *at) / zeroUs;
        for (std::int64_t n = lo; n <= hi; ++n, x += scale)
            sum += samples_[static_cast<std::size_t>(n - first_)] * kernel(x);
        out.push_back(static_cast<float>(sum * scale));
        if (*next_ % perRevolution_ == 0)
            revolutionUs.push_back(*at);
        lastStepUs_ = *at;
        lastHalfUs_ = halfUs;
        ++*next_;
    }
    // Samples before the next step's kernel are no longer needed; a slower shaft could widen it,
    // so twice the last half width is kept.
    if (lastStepUs_) {
        const double keepFromUs = *lastStepUs_ - 2.0 * lastHalfUs_;
        const auto keep =
            static_cast<std::int64_t>(std::floor((keepFromUs - startUs_) / periodUs_));
        if (keep > first_) {
            const auto drop =
                std::min<std::int64_t>(keep - first_, static_cast<std::int64_t>(samples_.size()));
            samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
            first_ += drop;
        }
    }
}

} // namespace diagnostika::orders
