#pragma once
// Which parts of a serial driver's modem-status support can be trusted, learnt while the port
// runs. Drivers differ: some have no change counters (TIOCGICOUNT), some counters that never
// move or that jump, some no wait (TIOCMIWAIT), some a wait that never wakes. Each lack turns one
// part off for good, and the capture mode follows:
//   counters               -> Counted (lossless, whether woken or polling)
//   no counters, a wait    -> Levels  (one edge per level change seen at a wake)
//   no counters, no wait   -> Polled  (levels read every millisecond)
//
// Pure and single-threaded: the watcher feeds it what it sees.

#include "edgebook.h"
#include "seriallines.h"

namespace diagnostika {

class CaptureProbe {
public:
    // Changes found by the periodic re-check instead of a wake-up, in a row, before the wait is
    // taken as one that never wakes. One such change is a race with the wait, not a fault.
    static constexpr int missedWakesToGiveUp = 3;
    // Level changes with counters that have never moved before the counters are dropped.
    static constexpr std::uint64_t stillCountersToGiveUp = 2;
    // Readings whose counters went back or jumped further than a line can before the counters
    // are dropped. One may be a glitch, and the book has re-synchronised after it.
    static constexpr std::uint64_t counterFaultsToGiveUp = 2;

    bool useCounters() const { return counters_; }
    bool useWait() const { return wait_; }
    CaptureMode mode() const;

    // The driver refused the call (ENOTTY, EINVAL, ...).
    void countersRefused() { counters_ = false; }
    void waitRefused() { wait_ = false; }

    // After the first reading following a wait (`woke`: the wait returned a change; otherwise
    // the re-check timer or a poll) that produced `edges`, with `book` updated by it.
    void afterFirstReading(bool woke, bool edges, const EdgeBook& book);

private:
    bool counters_ = true;
    bool wait_ = true;
    int missedWakes_ = 0;
};

} // namespace diagnostika
