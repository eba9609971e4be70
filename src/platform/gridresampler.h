#pragma once
// Unevenly timed samples onto an even grid: a converter read in a loop takes its samples whenever
// the loop gets there, but the analysis wants them at a fixed rate. Each grid point lies between
// two read samples and takes the straight line between them. Grid points sit at whole
// microseconds (CLOCK_MONOTONIC), so the rate divides a second into whole microseconds.
//
// A gap between reads longer than `maxGapUs` (the reading thread did not run) is not bridged: its
// grid points are counted lost, the block being filled ends before it, and the next block starts
// after it, on the same grid.

#include "vibrationinput.h"

#include <cstdint>
#include <functional>

namespace diagnostika {

class GridResampler {
public:
    using BlockSink = std::function<void(VibrationBlock)>;
    using LossSink = std::function<void(std::uint64_t samples)>;

    // `rate` must divide 1,000,000. Blocks hold `blockFrames` samples, the one before a gap fewer.
    GridResampler(int rate, int blockFrames, double maxGapUs, BlockSink onBlock, LossSink onLost);

    // The next read sample, taken at `us`; `us` grows from call to call (a sample that does not
    // is dropped).
    void add(double us, float value);
    // Hands over the block being filled, however short.
    void flush();

    std::int64_t periodUs() const { return periodUs_; }

private:
    void put(std::int64_t us, float value);

    std::int64_t periodUs_;
    std::size_t blockFrames_;
    double maxGapUs_;
    BlockSink onBlock_;
    LossSink onLost_;
    bool started_ = false;
    double lastUs_ = 0;
    float lastValue_ = 0;
    std::int64_t nextUs_ = 0; // the next grid point
    VibrationBlock block_;
};

} // namespace diagnostika
