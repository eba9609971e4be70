#include "platform/edgebook.h"

#include <gtest/gtest.h>
#include <string>

using namespace diagnostika;

namespace {

using Counts = std::array<std::uint32_t, lineCount>;
using Levels = std::array<bool, lineCount>;

LineSample counted(Counts c, Levels l)
{
    return LineSample{c, l};
}

LineSample levelsOnly(Levels l)
{
    return LineSample{std::nullopt, l};
}

// Edges as text, e.g. "C1 D0 K1" (C = CTS, D = DSR, K = CD; 1 = active), to compare whole
// sequences.
std::string text(const std::vector<Edge>& edges)
{
    std::string s;
    for (const Edge& e : edges) {
        if (!s.empty())
            s += ' ';
        s += e.line == lineCTS ? 'C' : e.line == lineDSR ? 'D' : 'K';
        s += e.level ? '1' : '0';
    }
    return s;
}

struct OneLineCase {
    const char* name;
    std::uint32_t delta;
    bool before;
    bool now;
    const char* edges; // on DSR
};

class OneLine : public ::testing::TestWithParam<OneLineCase> {};

TEST_P(OneLine, EdgesAlternateAndEndAtTheLevelReadNow)
{
    const OneLineCase& c = GetParam();
    EdgeBook book;
    book.start(counted({7, 100, 0}, {true, c.before, false}));
    const auto edges = book.update(counted({7, 100 + c.delta, 0}, {true, c.now, false}));
    EXPECT_EQ(text(edges), c.edges);
    EXPECT_EQ(book.levels()[lineDSR], c.now);
}

INSTANTIATE_TEST_SUITE_P(
    Deltas, OneLine,
    ::testing::Values(
        OneLineCase{"nothing", 0, false, false, ""}, OneLineCase{"nothingHigh", 0, true, true, ""},
        OneLineCase{"rise", 1, false, true, "D1"}, OneLineCase{"fall", 1, true, false, "D0"},
        OneLineCase{"pulse", 2, false, false, "D1 D0"}, OneLineCase{"gap", 2, true, true, "D0 D1"},
        OneLineCase{"threeEndingLow", 3, true, false, "D0 D1 D0"},
        OneLineCase{"threeEndingHigh", 3, false, true, "D1 D0 D1"},
        // The level disagrees with the counter: the level wins, with one edge more than counted.
        OneLineCase{"evenDeltaNewLevel", 2, false, true, "D1 D0 D1"},
        OneLineCase{"zeroDeltaNewLevel", 0, true, false, "D0"},
        OneLineCase{"oddDeltaSameLevel", 1, false, false, "D1 D0"},
        OneLineCase{"threeSameLevel", 3, true, true, "D0 D1 D0 D1"}),
    [](const ::testing::TestParamInfo<OneLineCase>& p) { return std::string(p.param.name); });

TEST(EdgeBook, TheBaselineYieldsNoEdgesWhateverTheCountersSay)
{
    EdgeBook book;
    EXPECT_FALSE(book.started());
    EXPECT_EQ(text(book.update(counted({5, 9, 1000}, {true, false, true}))), "");
    EXPECT_TRUE(book.started());
    EXPECT_EQ(book.levels(), (Levels{true, false, true}));
}

TEST(EdgeBook, SeveralLinesInOneReadingAreInterleavedLineByLine)
{
    EdgeBook book;
    book.start(counted({0, 0, 0}, {false, false, false}));
    // CTS made 3 changes, DSR 1, CD 2.
    EXPECT_EQ(text(book.update(counted({3, 1, 2}, {true, true, false}))), "C1 D1 K1 C0 K0 C1");
    // Then each line once more: back to low, low, high.
    EXPECT_EQ(text(book.update(counted({4, 2, 3}, {false, false, true}))), "C0 D0 K1");
}

TEST(EdgeBook, CountersThatWrapPast32BitsStillGiveTheTrueDelta)
{
    EdgeBook book;
    book.start(counted({0xfffffffeu, 0xffffffffu, 5}, {false, true, false}));
    const auto edges = book.update(counted({1u, 0u, 5}, {true, false, false}));
    // CTS: 0xfffffffe -> 1 is 3 changes; DSR: 0xffffffff -> 0 is 1 change.
    EXPECT_EQ(text(edges), "C1 D0 C0 C1");
    EXPECT_EQ(book.disagreements(), 0u);
}

TEST(EdgeBook, ACounterThatWentBackOnlyResynchronises)
{
    EdgeBook book;
    book.start(counted({1000, 1000, 1000}, {false, false, false}));
    // A driver that reset its counters must not be read as four billion edges.
    EXPECT_EQ(text(book.update(counted({0, 0, 0}, {false, true, false}))), "D1");
    EXPECT_EQ(text(book.update(counted({2, 0, 0}, {false, true, false}))), "C1 C0");
}

TEST(EdgeBook, WithoutCountersEveryLevelChangeIsOneEdge)
{
    EdgeBook book;
    book.start(levelsOnly({false, false, false}));
    EXPECT_EQ(text(book.update(levelsOnly({true, false, true}))), "C1 K1");
    EXPECT_EQ(text(book.update(levelsOnly({true, false, true}))), "");
    EXPECT_EQ(text(book.update(levelsOnly({false, true, true}))), "C0 D1");
    // No counters means nothing to disagree with: these are not counted as misses.
    EXPECT_EQ(book.disagreements(), 0u);
    EXPECT_EQ(book.levelOnlyChanges(), 0u);
    EXPECT_FALSE(book.countersMoved());
}

TEST(EdgeBook, CountersThatNeverMoveWhileLevelsDoAreNoticed)
{
    EdgeBook book;
    book.start(counted({0, 0, 0}, {false, false, false}));
    EXPECT_EQ(text(book.update(counted({0, 0, 0}, {true, false, false}))), "C1");
    EXPECT_EQ(text(book.update(counted({0, 0, 0}, {false, false, true}))), "C0 K1");
    EXPECT_EQ(book.levelOnlyChanges(), 3u);
    EXPECT_FALSE(book.countersMoved());
    EXPECT_EQ(text(book.update(counted({2, 0, 0}, {false, false, true}))), "C1 C0");
    EXPECT_TRUE(book.countersMoved());
}

TEST(EdgeBook, ReadingsThatLoseTheirCountersFallBackToLevels)
{
    EdgeBook book;
    book.start(counted({4, 4, 4}, {false, false, false}));
    EXPECT_EQ(text(book.update(levelsOnly({true, false, false}))), "C1");
    // Counters back again: that reading is a new baseline for them, not a jump from the old one.
    EXPECT_EQ(text(book.update(counted({900, 4, 4}, {true, false, false}))), "");
    EXPECT_EQ(text(book.update(counted({902, 4, 4}, {true, false, false}))), "C0 C1");
}

TEST(EdgeBook, ManyEdgesInOneReadingAreAllKeptInOrder)
{
    EdgeBook book;
    book.start(counted({0, 0, 0}, {false, false, false}));
    const auto edges = book.update(counted({20000, 0, 0}, {false, false, false}));
    ASSERT_EQ(edges.size(), 20000u);
    int pulses = 0;
    bool level = false;
    for (const Edge& e : edges) {
        ASSERT_NE(e.level, level) << "two edges to the same level";
        level = e.level;
        if (!e.level)
            ++pulses;
    }
    EXPECT_EQ(pulses, 10000);
}

TEST(EdgeBook, EdgesForAgreesWithTheSequencesProduced)
{
    for (std::uint32_t d = 0; d < 6; ++d)
        for (int b = 0; b < 2; ++b)
            for (int n = 0; n < 2; ++n) {
                EdgeBook book;
                book.start(counted({0, 0, 0}, {b != 0, false, false}));
                const auto edges = book.update(counted({d, 0, 0}, {n != 0, false, false}));
                EXPECT_EQ(edges.size(), EdgeBook::edgesFor(d, b != 0, n != 0))
                    << "delta " << d << " before " << b << " now " << n;
                if (!edges.empty()) {
                    EXPECT_NE(edges.front().level, b != 0) << "first edge must leave the old level";
                }
            }
}

} // namespace
