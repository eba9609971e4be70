#pragma once
// Edge bookkeeping: turns what can be read from a serial port's modem-status lines at one moment
// (the kernel's per-line edge counters and the current levels) into the ordered edges that must
// have happened since the previous reading.
//
// A line's counter counts every change of that line. Between two readings a line that changed d
// times went through d alternating levels and ended at the level read now, so the edges are known
// exactly: each edge names the level after it, the last one is the level read now, and they
// alternate. Three changes ending low are low, high, low.
//
// When the level and the counter disagree (an even count but a new level, or an odd count but the
// old level), a change was missed by the counter or merged by the driver. The level is the truth
// then, and one more edge than counted is assumed: the least that explains both. A line without a
// counter (drivers without TIOCGICOUNT) is the same case with a count of 0: every level change is
// one edge.
//
// Pure and single-threaded; the serial backends and the simulator feed it.

#include "seriallines.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace diagnostika {

// Index of a line in the arrays below: the order in which edges of one reading are interleaved.
enum LineIndex : int { lineCTS = 0, lineDSR = 1, lineCD = 2, lineCount = 3 };

constexpr int commEventOf(int line)
{
    return line == lineCTS ? comEvCTS : line == lineDSR ? comEvDSR : comEvCD;
}

// One reading of the three lines. `counts` is empty where the driver keeps no counters.
struct LineSample {
    std::optional<std::array<std::uint32_t, lineCount>> counts;
    std::array<bool, lineCount> levels{};
};

struct Edge {
    int line = lineCTS;
    bool level = false;
};

class EdgeBook {
public:
    // Counter deltas above this are a counter that went back (reset by the driver), not a wrap of
    // 2^32 changes: the reading then only re-synchronises, and the level decides.
    static constexpr std::uint32_t maxPlausibleDelta = 0x7fffffffu;

    // Forgets everything; the next reading is the baseline and yields no edges.
    void reset();

    // Takes the baseline: the state the port is in when watching starts. No edges.
    void start(const LineSample& sample);
    bool started() const { return started_; }

    // Takes a new reading and returns the edges since the previous one, in order. Edges of
    // different lines in one reading cannot be ordered by time; they are interleaved one per line
    // in turn (CTS, DSR, CD), which is the likeliest order for lines pulsing at similar rates.
    std::vector<Edge> update(const LineSample& sample);

    // The levels after the last reading (all false before the first one).
    std::array<bool, lineCount> levels() const { return levels_; }

    // Readings where a line's level changed while its counter stood still. A driver whose counters
    // never move shows this on every change; the backend then reports level-only capture.
    std::uint64_t levelOnlyChanges() const { return levelOnlyChanges_; }
    // Readings where the counter and the level disagreed (a change the counter or driver missed).
    std::uint64_t disagreements() const { return disagreements_; }
    // Whether any counter has moved since the baseline.
    bool countersMoved() const { return countersMoved_; }

    // The edges a line makes when it changes `delta` times and ends at `now`, having been at
    // `before`: `delta` if they agree, one more if they do not. Exposed for the tests.
    static std::uint32_t edgesFor(std::uint32_t delta, bool before, bool now);

private:
    bool started_ = false;
    bool haveCounts_ = false;
    std::array<std::uint32_t, lineCount> counts_{};
    std::array<bool, lineCount> levels_{};
    std::uint64_t levelOnlyChanges_ = 0;
    std::uint64_t disagreements_ = 0;
    bool countersMoved_ = false;
};

} // namespace diagnostika
