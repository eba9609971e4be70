#pragma once
// The tick clock: milliseconds from a fixed point, never going back and never wrapping (64-bit).
// Any thread may read it.

#include <cstdint>

namespace diagnostika {

class TickClock {
public:
    virtual ~TickClock() = default;
    virtual std::int64_t milliseconds() const = 0;
};

// The system's monotonic clock (CLOCK_MONOTONIC on Linux): unaffected by changes of the wall time.
class MonotonicClock final : public TickClock {
public:
    std::int64_t milliseconds() const override;
};

// The same monotonic clock in microseconds, with their fraction: the scale every edge and sample
// is stamped on. Any thread.
double monotonicMicroseconds();

} // namespace diagnostika
