#include "edgebook.h"

#include <algorithm>

namespace diagnostika {

void EdgeBook::reset()
{
    *this = EdgeBook{};
}

void EdgeBook::start(const LineSample& sample)
{
    reset();
    started_ = true;
    haveCounts_ = sample.counts.has_value();
    if (haveCounts_)
        counts_ = *sample.counts;
    levels_ = sample.levels;
    readLevels_ = sample.levels;
}

std::vector<Edge> EdgeBook::update(const LineSample& sample)
{
    if (!started_) {
        start(sample);
        return {};
    }

    // Each line's change counted since the previous reading, if its counter can be believed.
    // Unsigned difference: a counter that wrapped past 2^32 still gives the true delta.
    const bool counted = haveCounts_ && sample.counts.has_value();
    std::array<std::optional<std::uint32_t>, lineCount> deltas{};
    if (counted) {
        bool fault = false;
        for (int i = 0; i < lineCount; ++i) {
            const std::uint32_t delta = (*sample.counts)[i] - counts_[i];
            if (delta > maxEdgesPerReading)
                fault = true;
            else
                deltas[i] = delta;
            if (delta == 0 && sample.levels[i] != readLevels_[i])
                ++levelOnlyChanges_;
            // Known before any line is read, so that every line of one reading is read alike.
            if (deltas[i].value_or(0) != 0)
                countersMoved_ = true;
        }
        if (fault)
            ++counterFaults_;
    }

    std::array<std::uint32_t, lineCount> n{};
    std::array<bool, lineCount> after{};
    std::array<bool, lineCount> lastTimed{};
    std::uint32_t most = 0;
    std::size_t total = 0;
    for (int i = 0; i < lineCount; ++i) {
        const bool level = sample.levels[i];
        const bool trustCounter = deltas[i].has_value();
        const std::uint32_t delta = deltas[i].value_or(0);

        lastTimed[i] = true;
        if (!trustCounter || !countersMoved_) {
            n[i] = delta + ((levels_[i] != level) != ((delta & 1u) != 0) ? 1u : 0u);
            after[i] = level;
            disagreeingSince_[i].reset();
        } else {
            n[i] = delta;
            after[i] = levels_[i] != ((delta & 1u) != 0);
            if (after[i] == level) {
                disagreeingSince_[i].reset();
            } else if (!disagreeingSince_[i]) {
                disagreeingSince_[i] = sample.atMs;
            } else if (sample.atMs - *disagreeingSince_[i] >= settleMs) {
                ++n[i];
                after[i] = level;
                lastTimed[i] = false; // it happened up to settleMs ago
                ++disagreements_;
                disagreeingSince_[i].reset();
            }
        }
        most = std::max(most, n[i]);
        total += n[i];
    }

    std::vector<Edge> edges;
    edges.reserve(total);
    for (std::uint32_t round = 0; round < most; ++round) {
        for (int i = 0; i < lineCount; ++i) {
            if (round >= n[i])
                continue;
            // The last edge of a line ends at its new level; earlier ones alternate.
            const bool lastParity = ((n[i] - 1 - round) & 1u) == 0;
            const bool last = round == n[i] - 1;
            edges.push_back(
                {static_cast<Line>(i), lastParity ? after[i] : !after[i], last && lastTimed[i]});
        }
    }

    haveCounts_ = sample.counts.has_value();
    if (haveCounts_)
        counts_ = *sample.counts;
    levels_ = after;
    readLevels_ = sample.levels;
    return edges;
}

} // namespace diagnostika
