#include "capturestamps.h"

#include <algorithm>
#include <cmath>

namespace diagnostika::alsa {

CaptureStamps::Block CaptureStamps::next(std::size_t frames, double measuredUs, bool afterOverrun)
{
    std::uint64_t lost = 0;
    double stamp = measuredUs;
    if (started_ && afterOverrun) {
        const double gap = (measuredUs - nextUs_) * rate_ / 1e6;
        lost = static_cast<std::uint64_t>(std::max(1.0, std::round(gap)));
        stamp = std::max(measuredUs, nextUs_);
    } else if (started_) {
        stamp = nextUs_ + std::clamp((measuredUs - nextUs_) * follow, -maxStepUs, maxStepUs);
    }
    if (started_)
        stamp = std::max(stamp, lastUs_ + 1.0);
    started_ = true;
    lastUs_ = stamp;
    nextUs_ = stamp + static_cast<double>(frames) * 1e6 / rate_;
    return {static_cast<std::int64_t>(std::llround(stamp)), lost};
}

} // namespace diagnostika::alsa
