#pragma once
// What the rig's serial benchmarks share: a pulse train on the cdc-acm gadget's DSR and DCD, the
// true time of each of its edges, and the driver's own count of the changes.

#include "benchsupport.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace diagnostika::bench {

inline std::int64_t monotonicUs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

inline void sleepUntilUs(std::int64_t us)
{
    const timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

// `count` pulses on the gadget `gadget` (opening it raises DSR and DCD, closing drops them), each
// `highUs` high then `lowUs` low, on an absolute schedule so that a late wake does not stretch the
// train. Returns the monotonic time taken just before each open and close: the true edges. Where
// `callUs` is given, it receives how long each open and close took (the edge happens somewhere in
// it).
inline std::vector<std::int64_t> pulseGadget(const char* gadget, int count, std::int64_t highUs,
                                             std::int64_t lowUs,
                                             std::vector<std::int64_t>* callUs = nullptr)
{
    std::vector<std::int64_t> edges;
    edges.reserve(static_cast<std::size_t>(count) * 2);
    std::int64_t next = monotonicUs() + 1000;
    for (int i = 0; i < count; ++i) {
        sleepUntilUs(next);
        edges.push_back(monotonicUs());
        const int fd = ::open(gadget, O_RDWR | O_NOCTTY);
        if (fd < 0)
            break;
        if (callUs)
            callUs->push_back(monotonicUs() - edges.back());
        next += highUs;
        sleepUntilUs(next);
        edges.push_back(monotonicUs());
        ::close(fd);
        if (callUs)
            callUs->push_back(monotonicUs() - edges.back());
        next += lowUs;
    }
    return edges;
}

// The driver's count of DSR changes on `device` so far, or -1.
inline long driverDsrCount(const char* device)
{
    const int fd = ::open(device, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    serial_icounter_struct counts{};
    const int rc = ::ioctl(fd, TIOCGICOUNT, &counts);
    ::close(fd);
    return rc == 0 ? counts.dsr : -1;
}

// A train of `count` pulses `widthUs` high and `widthUs` low on `gadget`, with a moment for the
// last change to arrive: the DSR changes the driver of `acm` counted meanwhile.
inline long driverCountedTrain(const char* acm, const char* gadget, int count, int widthUs)
{
    const long before = driverDsrCount(acm);
    pulseGadget(gadget, count, widthUs, widthUs);
    const timespec settle{0, 50'000'000};
    ::nanosleep(&settle, nullptr);
    return driverDsrCount(acm) - before;
}

// Prints and summarises `who`'s pulses counted against the driver's `changes` (two per pulse).
inline void reportAgainstDriver(const char* who, const char* goal, int count, int widthUs,
                                int counted, long changes)
{
    std::printf("%s: %d pulses of %.1f ms: driver %ld changes (%ld pulses), counted %d pulses\n",
                who, count, widthUs / 1000.0, changes, changes / 2, counted);
    char measure[120];
    std::snprintf(measure, sizeof measure, "rig cdc-acm %.1f ms pulses: %s / driver",
                  widthUs / 1000.0, who);
    summary(measure, goal, "%d / %ld = %.1f %%", counted, changes / 2,
            changes > 0 ? 200.0 * counted / static_cast<double>(changes) : 0.0);
}

// The value at fraction `q` (0 to 1) of the sorted `values`.
inline double percentile(std::vector<std::int64_t> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    return static_cast<double>(values[at]);
}

} // namespace diagnostika::bench
