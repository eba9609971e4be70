#include "gridresampler.h"

#include <cmath>

namespace diagnostika {

GridResampler::GridResampler(int rate, int blockFrames, double maxGapUs, BlockSink onBlock,
                             LossSink onLost)
    : periodUs_(1'000'000 / rate), blockFrames_(static_cast<std::size_t>(blockFrames)),
      maxGapUs_(maxGapUs), onBlock_(std::move(onBlock)), onLost_(std::move(onLost))
{
    block_.rate = rate;
}

void GridResampler::add(double us, float value)
{
    if (!started_) {
        started_ = true;
        lastUs_ = us;
        lastValue_ = value;
        // Grid points on whole multiples of the period: every input at a rate shares one grid.
        nextUs_ =
            static_cast<std::int64_t>(std::ceil(us / static_cast<double>(periodUs_))) * periodUs_;
        return;
    }
    if (!(us > lastUs_))
        return;
    if (us - lastUs_ > maxGapUs_) {
        flush();
        std::uint64_t lost = 0;
        while (static_cast<double>(nextUs_) < us) {
            nextUs_ += periodUs_;
            ++lost;
        }
        if (lost > 0)
            onLost_(lost);
    } else {
        const double span = us - lastUs_;
        for (; static_cast<double>(nextUs_) <= us; nextUs_ += periodUs_) {
            const double f = (static_cast<double>(nextUs_) - lastUs_) / span;
            put(nextUs_, static_cast<float>(lastValue_ + (value - lastValue_) * f));
        }
    }
    lastUs_ = us;
    lastValue_ = value;
}

void GridResampler::put(std::int64_t us, float value)
{
    if (block_.samples.empty()) {
        block_.firstSampleUs = us;
        block_.samples.reserve(blockFrames_);
    }
    block_.samples.push_back(value);
    if (block_.samples.size() >= blockFrames_)
        flush();
}

void GridResampler::flush()
{
    if (block_.samples.empty())
        return;
    VibrationBlock done;
    done.rate = block_.rate;
    std::swap(done, block_);
    onBlock_(std::move(done));
}

} // namespace diagnostika
