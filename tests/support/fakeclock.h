#pragma once

#include "platform/tickclock.h"

#include <atomic>

namespace diagnostika::test {

// A tick clock the test sets by hand.
class FakeClock final : public TickClock {
public:
    explicit FakeClock(std::int64_t start = 0) : now_(start) {}
    std::int64_t milliseconds() const override { return now_.load(); }
    void set(std::int64_t ms) { now_ = ms; }
    void advance(std::int64_t ms) { now_ += ms; }

private:
    std::atomic<std::int64_t> now_;
};

} // namespace diagnostika::test
