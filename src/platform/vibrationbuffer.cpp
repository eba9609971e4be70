#include "vibrationbuffer.h"

namespace diagnostika {

void VibrationBuffer::addLost(std::uint64_t samples)
{
    const std::lock_guard<std::mutex> guard(mutex_);
    lost_ += samples;
}

bool VibrationBuffer::push(VibrationBlock block)
{
    const std::lock_guard<std::mutex> guard(mutex_);
    if (stored_ + block.samples.size() > capacity_) {
        lost_ += block.samples.size();
        return false;
    }
    block.lostBefore = lost_;
    stored_ += block.samples.size();
    blocks_.push_back(std::move(block));
    const bool wake = !announced_;
    announced_ = true;
    return wake;
}

std::vector<VibrationBlock> VibrationBuffer::take()
{
    const std::lock_guard<std::mutex> guard(mutex_);
    std::vector<VibrationBlock> out(std::make_move_iterator(blocks_.begin()),
                                    std::make_move_iterator(blocks_.end()));
    blocks_.clear();
    stored_ = 0;
    announced_ = false;
    return out;
}

void VibrationBuffer::reset()
{
    const std::lock_guard<std::mutex> guard(mutex_);
    blocks_.clear();
    stored_ = 0;
    lost_ = 0;
    announced_ = false;
}

std::uint64_t VibrationBuffer::lost() const
{
    const std::lock_guard<std::mutex> guard(mutex_);
    return lost_;
}

std::size_t VibrationBuffer::storedSamples() const
{
    const std::lock_guard<std::mutex> guard(mutex_);
    return stored_;
}

} // namespace diagnostika
