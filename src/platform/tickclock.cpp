#include "tickclock.h"

#include <chrono>

namespace diagnostika {

std::int64_t MonotonicClock::milliseconds() const
{
    using namespace std::chrono;
    return duration_cast<std::chrono::milliseconds>(steady_clock::now().time_since_epoch()).count();
}

double monotonicMicroseconds()
{
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

} // namespace diagnostika
