#include "precisespeed.h"

#include <algorithm>

namespace diagnostika::speed {

PreciseSpeed::PreciseSpeed(double pulsesPerRevolution, std::int64_t windowUs,
                           std::int64_t stopAfterUs)
    : p_(pulsesPerRevolution), windowUs_(windowUs), stopAfterUs_(stopAfterUs)
{
}

void PreciseSpeed::reset()
{
    pulses_ = 0;
    lastUs_.reset();
    lastTimed_ = false;
    timed_.clear();
}

double PreciseSpeed::speedOf(std::int64_t pulses, std::int64_t us) const
{
    // The difference is taken in integers, so stamps of any size keep their microseconds.
    return 60e6 * static_cast<double>(pulses) / (p_ * static_cast<double>(us));
}

std::optional<double> PreciseSpeed::addPulse(std::int64_t us, bool timed)
{
    std::optional<double> perPulse;
    if (timed && lastTimed_ && lastUs_ && us > *lastUs_)
        perPulse = speedOf(1, us - *lastUs_);
    ++pulses_;
    lastUs_ = us;
    lastTimed_ = timed;
    if (timed) {
        timed_.push_back({us, pulses_});
        // Keep the window and the one timed pulse before it.
        while (timed_.size() > 2 && timed_[1].us <= us - windowUs_)
            timed_.pop_front();
    }
    return perPulse;
}

std::optional<std::pair<PreciseSpeed::Timed, PreciseSpeed::Timed>>
PreciseSpeed::span(std::int64_t nowUs) const
{
    if (timed_.size() < 2)
        return std::nullopt;
    // The first timed pulse inside the window, or the last one before it if the window would
    // otherwise hold fewer than two.
    auto first = std::upper_bound(timed_.begin(), timed_.end(), nowUs - windowUs_,
                                  [](std::int64_t t, const Timed& x) { return t < x.us; });
    const auto last = std::prev(timed_.end());
    if (first == timed_.end() || std::distance(first, last) < 1)
        first = std::prev(last);
    if (last->us <= first->us)
        return std::nullopt;
    return std::pair{*first, *last};
}

std::optional<double> PreciseSpeed::windowed(std::int64_t nowUs) const
{
    const auto s = span(nowUs);
    if (!s)
        return std::nullopt;
    return speedOf(s->second.index - s->first.index, s->second.us - s->first.us);
}

std::optional<std::int64_t> PreciseSpeed::windowMiddleUs(std::int64_t nowUs) const
{
    const auto s = span(nowUs);
    if (!s)
        return std::nullopt;
    return s->first.us + (s->second.us - s->first.us) / 2;
}

std::optional<double> PreciseSpeed::current(std::int64_t nowUs) const
{
    const std::optional<double> measured = windowed(nowUs);
    if (!measured || !lastUs_)
        return measured;
    const std::int64_t waited = nowUs - *lastUs_;
    if (waited >= stopAfterUs_)
        return 0.0;
    // The last period: between the last two timed pulses.
    const Timed& a = timed_[timed_.size() - 2];
    const Timed& b = timed_.back();
    const std::int64_t period = (b.us - a.us) / std::max<std::int64_t>(1, b.index - a.index);
    if (waited > 2 * period)
        return std::min(*measured, speedOf(1, waited));
    return measured;
}

} // namespace diagnostika::speed
