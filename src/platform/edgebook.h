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
// The level and the counter can disagree (an even count but a new level, or an odd count but the
// old level) for two reasons that look the same in one reading:
//  - the level is ahead of the counter: some USB adapters read the level live from the chip while
//    their counters move only when the next status report arrives, up to their latency later, and
//    a reading taken while the lines move can pair a level with counters from just before it;
//  - the counter merged changes: a pulse shorter than the driver's interrupt latency counts once.
// The first heals by itself at the next reading; taking the level as the truth at once would add
// an edge for it and another when the counter catches up. So the counter is trusted, and a
// disagreement becomes one more edge (the least that explains both) only when it has lasted
// `settleMs`, longer than any adapter's reporting latency. Until the counters have been seen to
// move at all, and on a line without counters (drivers without TIOCGICOUNT), the level is the
// truth at once: every level change is one edge.
//
// Pure and single-threaded; the serial backends and the simulator feed it.

#include "seriallines.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace diagnostika {

// One reading of the three lines, taken at `atMs` on the tick clock. `counts` is empty where the
// driver keeps no counters.
struct LineSample {
    std::optional<std::array<std::uint32_t, lineCount>> counts;
    std::array<bool, lineCount> levels{};
    std::int64_t atMs = 0;
};

struct Edge {
    Line line = Line::CTS;
    bool level = false;
    // Whether the reading's moment is this edge's own time: true only for a line's last edge of a
    // reading, and not for an edge added because a level disagreed with its counter for a while.
    bool timed = false;
};

class EdgeBook {
public:
    // The most changes one line can make between two readings. A UART counts at most one change
    // of a line per interrupt, and an interrupt costs at least about 2 us of port reads, so no line
    // changes more than about 500 000 times a second; the watcher reads at least every 50 ms, and
    // a reading held off for 2 s is already a system in trouble. A counter that moved further, or
    // went back (a wrap needs 2^32 changes), is not describing its line: the reading then only
    // re-synchronises, the level decides, and nothing is reserved for the jump.
    static constexpr std::uint32_t maxEdgesPerReading = 1u << 20;
    // How long a level may disagree with its counter before the counter is taken to have missed a
    // change. USB adapters report line changes every 16 ms by default.
    static constexpr std::int64_t settleMs = 40;

    // Forgets everything; the next reading is the baseline and yields no edges.
    void reset();

    // Takes the baseline: the state the port is in when watching starts. No edges.
    void start(const LineSample& sample);
    bool started() const { return started_; }

    // Takes a new reading and returns the edges since the previous one, in order. Edges of
    // different lines in one reading cannot be ordered by time; they are interleaved one per line
    // in turn (CTS, DSR, CD), which is the likeliest order for lines pulsing at similar rates.
    std::vector<Edge> update(const LineSample& sample);

    // The levels after the edges given so far (all false before the first reading).
    std::array<bool, lineCount> levels() const { return levels_; }

    // Readings where a line's level changed while its counter stood still. A driver whose counters
    // never move shows this on every change; the backend then reports level-only capture.
    std::uint64_t levelOnlyChanges() const { return levelOnlyChanges_; }
    // Changes the counters missed: disagreements that lasted and became an edge of their own.
    std::uint64_t disagreements() const { return disagreements_; }
    // Whether any counter has moved since the baseline.
    bool countersMoved() const { return countersMoved_; }
    // Readings in which a counter went back or moved further than a line can: a fault of the
    // device or its driver.
    std::uint64_t counterFaults() const { return counterFaults_; }

private:
    bool started_ = false;
    bool haveCounts_ = false;
    std::array<std::uint32_t, lineCount> counts_{};
    std::array<bool, lineCount> levels_{};     // after the edges given
    std::array<bool, lineCount> readLevels_{}; // as last read
    // Since when each line's level has disagreed with its counter, while it does.
    std::array<std::optional<std::int64_t>, lineCount> disagreeingSince_{};
    std::uint64_t levelOnlyChanges_ = 0;
    std::uint64_t disagreements_ = 0;
    std::uint64_t counterFaults_ = 0;
    bool countersMoved_ = false;
};

} // namespace diagnostika
