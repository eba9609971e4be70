#pragma once
// Precise speed from the times of pulses (reciprocal counting): instead of counting the pulses of a
// fixed interval, which resolves one pulse per interval, the time between pulses is measured, which
// resolves the stamps' microseconds.
//
//  - per pulse: 60 / (p * the time since the previous pulse), only where both pulses carry their
//    own time;
//  - per window: 60 * (n - 1) / (p * (t_last - t_first)) over the n pulses from the first to the
//    last individually timed pulse of the window. Pulses between them that were not timed still
//    count in n, so the result is exact to the two stamps whatever n is. A window that holds fewer
//    than two timed pulses reaches back to the previous one (a slow shaft);
//  - a stopped shaft: once the wait since the last pulse is longer than twice the last period (an
//    ordinary slowing down never waits that long), the speed cannot be higher than one pulse per
//    the time waited, and after `stopAfterUs` it is 0.
//
// Pure arithmetic on stamps in microseconds; no clock of its own, no widgets.

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace diagnostika::speed {

class PreciseSpeed {
public:
    static constexpr std::int64_t defaultWindowUs = 1'000'000;
    static constexpr std::int64_t defaultStopAfterUs = 3'000'000;

    explicit PreciseSpeed(double pulsesPerRevolution, std::int64_t windowUs = defaultWindowUs,
                          std::int64_t stopAfterUs = defaultStopAfterUs);

    // One pulse of the speed input at `us`; `timed` says whether `us` is its own time. Returns the
    // per-pulse speed in min^-1 when it and the previous pulse are both timed.
    std::optional<double> addPulse(std::int64_t us, bool timed);

    // The speed over the window ending at `nowUs`, in min^-1; none before two timed pulses.
    std::optional<double> windowed(std::int64_t nowUs) const;
    // The middle of the span that speed was measured over: where it belongs on a time axis.
    std::optional<std::int64_t> windowMiddleUs(std::int64_t nowUs) const;
    // The speed to show at `nowUs`: the windowed speed, bounded by the wait since the last pulse,
    // and 0 once the shaft has stood for `stopAfterUs`. None before two timed pulses.
    std::optional<double> current(std::int64_t nowUs) const;

    // Forgets every pulse (a new port, input or pulses per revolution).
    void reset();
    double pulsesPerRevolution() const { return p_; }

private:
    struct Timed {
        std::int64_t us;
        std::int64_t index; // the pulse's number, counting untimed ones too
    };
    double speedOf(std::int64_t pulses, std::int64_t us) const;
    // The first and last timed pulse the window at `nowUs` measures between, if two.
    std::optional<std::pair<Timed, Timed>> span(std::int64_t nowUs) const;

    double p_;
    std::int64_t windowUs_;
    std::int64_t stopAfterUs_;
    std::int64_t pulses_ = 0;
    std::optional<std::int64_t> lastUs_; // of the last pulse, timed or not
    bool lastTimed_ = false;
    // The timed pulses of the window, and the one before it.
    std::deque<Timed> timed_;
};

} // namespace diagnostika::speed
