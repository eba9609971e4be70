#pragma once
// Times a capture's blocks and counts what an overrun lost. Pure arithmetic, no device.
//
// The device tells, with each read, when the block's first sample was taken (its timestamp of the
// latest captured frame, less the frames still waiting). Those measurements jitter, and the sound
// card's crystal drifts from CLOCK_MONOTONIC by tens of parts per million. So a block's stamp is
// the previous block's end (its count of samples at the nominal rate) pulled towards the
// measurement by a small, bounded step: consecutive stamps stay contiguous to within that step,
// never go back, and follow the drift.
//
// After an overrun the device was restarted: the gap between where the count says the next sample
// is due and where the device measured it is the samples lost (at least one), and the stamps start
// again from the measurement.

#include <cstddef>
#include <cstdint>

namespace diagnostika::alsa {

class CaptureStamps {
public:
    // How far one block's stamp may move towards the measurement, in microseconds, and which
    // fraction of the difference it moves.
    static constexpr double maxStepUs = 100.0;
    static constexpr double follow = 1.0 / 16.0;

    explicit CaptureStamps(int rate) : rate_(rate) {}

    struct Block {
        std::int64_t firstSampleUs;
        std::uint64_t lostBefore; // the samples lost just before this block
    };
    // A block of `frames` whose first sample the device measured at `measuredUs`; `afterOverrun`:
    // the device overran (and was restarted) since the previous block.
    Block next(std::size_t frames, double measuredUs, bool afterOverrun);

private:
    int rate_;
    bool started_ = false;
    double nextUs_ = 0.0; // when the sample after the previous block is due
    double lastUs_ = 0.0; // the previous block's stamp
};

} // namespace diagnostika::alsa
