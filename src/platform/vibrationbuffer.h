#pragma once
// The bounded store between a vibration capture thread and the input's owner (see
// vibrationinput.h). The capture side adds blocks and the losses it knows of; the owner takes
// blocks. A block that does not fit is not stored: its samples are counted as lost, and the next
// block that fits carries the count in its `lostBefore`.

#include "vibrationinput.h"

#include <deque>
#include <mutex>

namespace diagnostika {

class VibrationBuffer {
public:
    explicit VibrationBuffer(std::size_t capacitySamples) : capacity_(capacitySamples) {}

    // Any thread. Counts `samples` lost before the next block (a device overrun).
    void addLost(std::uint64_t samples);
    // Any thread. Stores `block` (its lostBefore is filled here) or counts it lost. Returns true
    // when the owner should be woken: nothing stored was waiting unannounced before.
    bool push(VibrationBlock block);
    // The owner's thread: every stored block, oldest first.
    std::vector<VibrationBlock> take();
    // Forgets everything, the lost count too.
    void reset();

    std::uint64_t lost() const;
    std::size_t storedSamples() const;
    std::size_t capacity() const { return capacity_; }

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::deque<VibrationBlock> blocks_;
    std::size_t stored_ = 0;
    std::uint64_t lost_ = 0;
    bool announced_ = false;
};

} // namespace diagnostika
