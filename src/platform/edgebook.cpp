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
}

std::uint32_t EdgeBook::edgesFor(std::uint32_t delta, bool before, bool now)
{
    const bool flipped = before != now;
    const bool odd = (delta & 1u) != 0;
    return odd == flipped ? delta : delta + 1;
}

std::vector<Edge> EdgeBook::update(const LineSample& sample)
{
    if (!started_) {
        start(sample);
        return {};
    }

    std::array<std::uint32_t, lineCount> n{};
    std::uint32_t most = 0;
    std::size_t total = 0;
    const bool counted = haveCounts_ && sample.counts.has_value();
    for (int i = 0; i < lineCount; ++i) {
        std::uint32_t delta = 0;
        if (counted) {
            // Unsigned difference: a counter that wrapped past 2^32 still gives the true delta.
            delta = (*sample.counts)[i] - counts_[i];
            if (delta > maxPlausibleDelta)
                delta = 0;
        }
        const bool changed = sample.levels[i] != levels_[i];
        if (delta != 0)
            countersMoved_ = true;
        else if (changed && counted)
            ++levelOnlyChanges_;
        n[i] = edgesFor(delta, levels_[i], sample.levels[i]);
        if (counted && n[i] != delta)
            ++disagreements_;
        most = std::max(most, n[i]);
        total += n[i];
    }

    std::vector<Edge> edges;
    edges.reserve(total);
    for (std::uint32_t round = 0; round < most; ++round) {
        for (int i = 0; i < lineCount; ++i) {
            if (round >= n[i])
                continue;
            // The last edge of a line ends at the level read now; earlier ones alternate.
            const bool lastParity = ((n[i] - 1 - round) & 1u) == 0;
            edges.push_back({i, lastParity ? sample.levels[i] : !sample.levels[i]});
        }
    }

    haveCounts_ = sample.counts.has_value();
    if (haveCounts_)
        counts_ = *sample.counts;
    levels_ = sample.levels;
    return edges;
}

} // namespace diagnostika
