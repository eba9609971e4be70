#include "tachometer.h"

#include <algorithm>
#include <cmath>

namespace diagnostika::orders {

namespace {

// The pulses kept: enough for a few seconds of any sensible sensor, bounded whatever comes.
constexpr std::size_t maxPulses = 1 << 16;

} // namespace

Tachometer::Tachometer(double pulsesPerRevolution, bool onActive)
    : perRevolution_(pulsesPerRevolution > 0 ? pulsesPerRevolution : 1.0), onActive_(onActive)
{
}

void Tachometer::reset()
{
    pulses_.clear();
    reference_.reset();
    next_ = 0;
}

void Tachometer::addEdge(bool level, std::int64_t stampUs, bool timed)
{
    if (level != onActive_)
        return;
    if (!reference_) {
        // Nothing to count from until a pulse's own moment is known.
        if (!timed)
            return;
        reference_ = static_cast<double>(stampUs);
    }
    const std::int64_t index = next_++;
    const auto us = static_cast<double>(stampUs);
    // A stamp must move on; one that does not (two pulses inside one stamp's tick) is not timed.
    if (timed && (pulses_.empty() || us > pulses_.back().us))
        pulses_.push_back({index, us});
    if (pulses_.size() > maxPulses)
        pulses_.pop_front();
}

void Tachometer::forgetBefore(double us)
{
    // Keep two pulses before `us` (the cubic around it reaches one pulse further back), and a
    // revolution's worth for the speed.
    const auto least = static_cast<std::size_t>(std::max(4.0, std::ceil(perRevolution_) + 2));
    while (pulses_.size() > least && pulses_[2].us < us)
        pulses_.pop_front();
}

namespace {

// The cubic (or lower, with fewer points) through (x[i], y[i]) at `at`.
double lagrange(const double* x, const double* y, int n, double at)
{
    double sum = 0;
    for (int i = 0; i < n; ++i) {
        double term = y[i];
        for (int j = 0; j < n; ++j)
            if (j != i)
                term *= (at - x[j]) / (x[i] - x[j]);
        sum += term;
    }
    return sum;
}

} // namespace

std::optional<double> Tachometer::timeAt(double revolutions) const
{
    if (pulses_.size() < 2)
        return std::nullopt;
    const double index = revolutions * perRevolution_;
    if (index < static_cast<double>(pulses_.front().index) ||
        index > static_cast<double>(pulses_.back().index))
        return std::nullopt;
    // The last pulse at or before `index`, and the one after it.
    auto after = std::ranges::upper_bound(
        pulses_, index, {}, [](const Pulse& p) { return static_cast<double>(p.index); });
    if (after == pulses_.end())
        return pulses_.back().us;
    const auto i = static_cast<std::ptrdiff_t>(after - pulses_.begin()) - 1;
    const std::ptrdiff_t first = std::max<std::ptrdiff_t>(0, i - 1);
    const std::ptrdiff_t last =
        std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(pulses_.size()) - 1, i + 2);
    double x[4], y[4];
    int n = 0;
    for (std::ptrdiff_t k = first; k <= last; ++k, ++n) {
        x[n] = static_cast<double>(pulses_[static_cast<std::size_t>(k)].index);
        y[n] = pulses_[static_cast<std::size_t>(k)].us;
    }
    return lagrange(x, y, n, index);
}

std::optional<double> Tachometer::revolutionsAt(double us) const
{
    if (pulses_.size() < 2 || us < pulses_.front().us || us > pulses_.back().us)
        return std::nullopt;
    // The moment grows with the angle: bisect on timeAt, then polish with the local slope.
    auto after = std::ranges::upper_bound(pulses_, us, {}, &Pulse::us);
    if (after == pulses_.end())
        return static_cast<double>(pulses_.back().index) / perRevolution_;
    const Pulse& b = *after;
    const Pulse& a = *(after - 1);
    double lo = static_cast<double>(a.index), hi = static_cast<double>(b.index);
    for (int k = 0; k < 60 && hi - lo > 1e-9; ++k) {
        const double mid = 0.5 * (lo + hi);
        if (*timeAt(mid / perRevolution_) < us)
            lo = mid;
        else
            hi = mid;
    }
    return 0.5 * (lo + hi) / perRevolution_;
}

std::optional<double> Tachometer::firstRevolution() const
{
    if (pulses_.size() < 2)
        return std::nullopt;
    return static_cast<double>(pulses_.front().index) / perRevolution_;
}

std::optional<double> Tachometer::lastRevolution() const
{
    if (pulses_.size() < 2)
        return std::nullopt;
    return static_cast<double>(pulses_.back().index) / perRevolution_;
}

std::optional<double> Tachometer::lastPulseUs() const
{
    if (pulses_.empty())
        return std::nullopt;
    return pulses_.back().us;
}

std::optional<double> Tachometer::lastSpeed() const
{
    if (pulses_.size() < 2)
        return std::nullopt;
    const Pulse& last = pulses_.back();
    // The latest timed pulse at least a revolution before the last one; else the oldest held.
    const auto whole = static_cast<std::int64_t>(std::ceil(perRevolution_));
    const Pulse* from = &pulses_.front();
    for (auto it = pulses_.rbegin(); it != pulses_.rend(); ++it)
        if (last.index - it->index >= whole) {
            from = &*it;
            break;
        }
    if (last.index - from->index < whole)
        return std::nullopt;
    const double revolutions = static_cast<double>(last.index - from->index) / perRevolution_;
    return revolutions * 60e6 / (last.us - from->us);
}

} // namespace diagnostika::orders
