// The edge bookkeeping fed arbitrary readings: counters that move by any amount (forwards, back,
// past 2^32), come and go, and levels that agree with them or not. The input is the baseline:
//   3 x 4 bytes: counters; 1 byte: levels (bits 0-2), counters present (bit 3), taken by update()
//   rather than start() (bit 4),
// then readings of
//   1 byte: levels (bits 0-2), counters present (bit 3), a 4-byte change for line i instead of a
//   1-byte one (bit 4 + i), a 2-byte time step instead of a 1-byte one (bit 7); each line's
//   counter change (when present); the milliseconds since the previous reading.
//
// Invariants, for each reading and line, with d the counter's change since the previous reading
// where both readings have counters and d <= maxEdgesPerReading, else d = 0:
//  - the line's edges alternate from its previous level and end at the level the book reports;
//  - there are d or d + 1 of them: never more than the counter moved, plus at most one step to
//    the level read;
//  - while the counters have not moved yet, or this line's counter is absent or not believed,
//    the level read is taken at once;
//  - otherwise the edges end where the counter leads, and a level read that disagrees with it
//    becomes the one extra edge only at the first reading at least settleMs after the disagreement
//    was first seen (counted in disagreements());
//  - a reading whose counters went back or jumped adds one to counterFaults(), and no reading
//    reserves room for more than 3 x (maxEdgesPerReading + 1) edges;
//  - the book's counts never decrease.
// So over a run a line never has more edges than its believed counter changes plus one per
// reading, and once the counters move, plus one per settleMs of disagreement.

#include "platform/edgebook.h"

#include "check.h"

#include <cstddef>
#include <cstdint>
#include <optional>

using namespace diagnostika;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return size_ == 0; }
    // Little-endian, zero beyond the end.
    std::uint32_t take(int bytes)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes && size_ > 0; ++i, ++data_, --size_)
            value |= std::uint32_t{*data_} << (8 * i);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

std::array<bool, lineCount> levelsOf(std::uint32_t bits)
{
    return {(bits & 1u) != 0, (bits & 2u) != 0, (bits & 4u) != 0};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Enough readings for every state the book has. Counter changes the book believes cost an
    // edge each: an input stops at the reading that would pass 2^16 of them, which keeps the
    // search at thousands of inputs a second (the largest believed change is the unit test's).
    // Changes beyond the bound cost nothing and are not limited.
    constexpr int maxReadings = 64;
    constexpr std::size_t maxEdges = lineCount * (std::size_t{EdgeBook::maxEdgesPerReading} + 1);
    std::size_t budget = std::size_t{1} << 16;

    Input input(data, size);
    LineSample sample;
    sample.counts = {input.take(4), input.take(4), input.take(4)};
    const std::uint32_t baseline = input.take(1);
    sample.levels = levelsOf(baseline);
    if ((baseline & 8u) == 0)
        sample.counts.reset();
    // The baseline is taken by start() or, as the first reading of a new book, by update().
    EdgeBook book;
    if ((baseline & 16u) != 0)
        FUZZ_CHECK(book.update(sample).empty());
    else
        book.start(sample);

    std::array<std::optional<std::int64_t>, lineCount> disagreeingSince{};
    for (int reading = 0; reading < maxReadings && !input.empty(); ++reading) {
        const std::uint32_t flags = input.take(1);
        const std::optional<std::array<std::uint32_t, lineCount>> previous = sample.counts;
        std::array<std::uint32_t, lineCount> deltas{};
        if ((flags & 8u) != 0) {
            for (int i = 0; i < lineCount; ++i)
                deltas[i] = input.take((flags & (16u << i)) != 0 ? 4 : 1);
            std::array<std::uint32_t, lineCount> counts = previous.value_or(deltas);
            for (int i = 0; i < lineCount; ++i)
                counts[i] += previous ? deltas[i] : 0;
            sample.counts = counts;
        } else {
            sample.counts.reset();
        }
        sample.levels = levelsOf(flags);
        sample.atMs += input.take((flags & 128u) != 0 ? 2 : 1);
        const bool counted = previous && sample.counts;
        std::size_t counterEdges = 0;
        for (int i = 0; i < lineCount; ++i)
            counterEdges += counted && deltas[i] <= EdgeBook::maxEdgesPerReading ? deltas[i] : 0;
        if (counterEdges > budget)
            break;
        budget -= counterEdges;

        const std::array<bool, lineCount> before = book.levels();
        const std::uint64_t levelOnlyChanges = book.levelOnlyChanges();
        const std::uint64_t disagreements = book.disagreements();
        const std::uint64_t faults = book.counterFaults();
        const std::vector<Edge> edges = book.update(sample);
        const std::array<bool, lineCount> after = book.levels();

        FUZZ_CHECK(edges.capacity() <= maxEdges);
        FUZZ_CHECK(book.levelOnlyChanges() >= levelOnlyChanges);
        bool jumped = false;
        for (int i = 0; i < lineCount; ++i)
            jumped = jumped || (counted && deltas[i] > EdgeBook::maxEdgesPerReading);
        FUZZ_CHECK(book.counterFaults() == faults + (jumped ? 1 : 0));

        std::array<std::uint32_t, lineCount> n{};
        std::array<bool, lineCount> level = before;
        for (const Edge& edge : edges) {
            const int line = index(edge.line);
            FUZZ_CHECK(line >= 0 && line < lineCount);
            FUZZ_CHECK(edge.level != level[line]);
            level[line] = edge.level;
            ++n[line];
        }
        FUZZ_CHECK(level == after);

        std::uint64_t extras = 0;
        for (int i = 0; i < lineCount; ++i) {
            const bool believed = counted && deltas[i] <= EdgeBook::maxEdgesPerReading;
            const std::uint32_t d = believed ? deltas[i] : 0;
            FUZZ_CHECK(n[i] == d || n[i] == d + 1);
            const bool read = sample.levels[i];
            if (!believed || !book.countersMoved()) {
                FUZZ_CHECK(after[i] == read);
                disagreeingSince[i].reset();
                continue;
            }
            const bool counterLevel = before[i] != ((d & 1u) != 0);
            if (counterLevel == read) {
                disagreeingSince[i].reset();
            } else if (disagreeingSince[i] &&
                       sample.atMs - *disagreeingSince[i] >= EdgeBook::settleMs) {
                FUZZ_CHECK(n[i] == d + 1);
                ++extras;
                disagreeingSince[i].reset();
                continue;
            } else if (!disagreeingSince[i]) {
                disagreeingSince[i] = sample.atMs;
            }
            FUZZ_CHECK(n[i] == d);
        }
        FUZZ_CHECK(book.disagreements() == disagreements + extras);
    }
    return 0;
}
