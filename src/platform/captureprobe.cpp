#include "captureprobe.h"

namespace diagnostika {

CaptureMode CaptureProbe::mode() const
{
    if (counters_)
        return CaptureMode::Counted;
    return wait_ ? CaptureMode::Levels : CaptureMode::Polled;
}

void CaptureProbe::afterFirstReading(bool woke, bool edges, const EdgeBook& book)
{
    if (counters_ && !book.countersMoved() && book.levelOnlyChanges() >= stillCountersToGiveUp)
        counters_ = false;
    if (book.counterFaults() >= counterFaultsToGiveUp)
        counters_ = false;
    if (wait_ && edges) {
        missedWakes_ = woke ? 0 : missedWakes_ + 1;
        if (missedWakes_ >= missedWakesToGiveUp)
            wait_ = false;
    }
}

} // namespace diagnostika
