#include "platform/edgebook.h"

#include <gtest/gtest.h>
#include <string>

using namespace diagnostika;

namespace {

using Counts = std::array<std::uint32_t, lineCount>;
using Levels = std::array<bool, lineCount>;

LineSample counted(Counts c, Levels l, std::int64_t atMs = 0)
{
    return LineSample{c, l, atMs};
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
        s += e.line == Line::CTS ? 'C' : e.line == Line::DSR ? 'D' : 'K';
        s += e.level ? '1' : '0';
    }
    return s;
}

struct OneLineCase {
    const char* name;
    std::uint32_t delta;
    bool before;
    bool now;
    const char* edges; // on DSR, at the reading
    const char* later; // on DSR, when the same reading comes again once the counter has settled
};

class OneLine : public ::testing::TestWithParam<OneLineCase> {};

TEST_P(OneLine, EdgesAlternateAndEndAtTheLevelReadOnceTheCounterAgrees)
{
    const OneLineCase& c = GetParam();
    EdgeBook book;
    // Counters that have been seen to move, as a working driver's have.
    book.start(counted({6, 100, 0}, {false, c.before, false}));
    ASSERT_EQ(text(book.update(counted({7, 100, 0}, {true, c.before, false}))), "C1");
    EXPECT_EQ(text(book.update(counted({7, 100 + c.delta, 0}, {true, c.now, false}, 1000))),
              c.edges);
    // Nothing moved since; the level still says what it said.
    EXPECT_EQ(text(book.update(
                  counted({7, 100 + c.delta, 0}, {true, c.now, false}, 1000 + EdgeBook::settleMs))),
              c.later);
    EXPECT_EQ(book.levels()[index(Line::DSR)], c.now);
    EXPECT_EQ(text(book.update(counted({7, 100 + c.delta, 0}, {true, c.now, false}, 5000))), "");
}

INSTANTIATE_TEST_SUITE_P(
    Deltas, OneLine,
    ::testing::Values(OneLineCase{"nothing", 0, false, false, "", ""},
                      OneLineCase{"nothingHigh", 0, true, true, "", ""},
                      OneLineCase{"rise", 1, false, true, "D1", ""},
                      OneLineCase{"fall", 1, true, false, "D0", ""},
                      OneLineCase{"pulse", 2, false, false, "D1 D0", ""},
                      OneLineCase{"gap", 2, true, true, "D0 D1", ""},
                      OneLineCase{"threeEndingLow", 3, true, false, "D0 D1 D0", ""},
                      OneLineCase{"threeEndingHigh", 3, false, true, "D1 D0 D1", ""},
                      // The level disagrees with the counter: the counted edges at once, and once
                      // the disagreement has lasted, the one change the counter missed.
                      OneLineCase{"evenDeltaNewLevel", 2, false, true, "D1 D0", "D1"},
                      OneLineCase{"zeroDeltaNewLevel", 0, true, false, "", "D0"},
                      OneLineCase{"oddDeltaSameLevel", 1, false, false, "D1", "D0"},
                      OneLineCase{"threeSameLevel", 3, true, true, "D0 D1 D0", "D1"}),
    [](const ::testing::TestParamInfo<OneLineCase>& p) { return std::string(p.param.name); });

TEST(EdgeBook, ALevelAheadOfItsCounterIsOneEdgeWhenTheCounterCatchesUp)
{
    // A USB adapter reads the level live; its counter moves with the next status report.
    EdgeBook book;
    book.start(counted({0, 0, 0}, {false, false, false}, 0));
    ASSERT_EQ(text(book.update(counted({0, 2, 0}, {false, false, false}, 5))), "D1 D0");
    EXPECT_EQ(text(book.update(counted({0, 2, 0}, {false, true, false}, 100))), "");
    EXPECT_EQ(text(book.update(counted({0, 2, 0}, {false, true, false}, 110))), "");
    EXPECT_EQ(text(book.update(counted({0, 3, 0}, {false, true, false}, 116))), "D1");
    EXPECT_EQ(text(book.update(counted({0, 3, 0}, {false, true, false}, 300))), "");
    EXPECT_EQ(book.disagreements(), 0u);
}

TEST(EdgeBook, ALevelBehindItsCounterAddsNothing)
{
    // A reading taken while the line moves pairs a level with counters from just after it.
    EdgeBook book;
    book.start(counted({4, 0, 0}, {false, false, false}, 0));
    EXPECT_EQ(text(book.update(counted({5, 0, 0}, {false, false, false}, 10))), "C1");
    EXPECT_EQ(text(book.update(counted({5, 0, 0}, {true, false, false}, 12))), "");
    EXPECT_EQ(text(book.update(counted({6, 0, 0}, {true, false, false}, 30))), "C0");
    EXPECT_EQ(text(book.update(counted({6, 0, 0}, {false, false, false}, 31))), "");
    EXPECT_EQ(text(book.update(counted({6, 0, 0}, {false, false, false}, 500))), "");
    EXPECT_EQ(book.disagreements(), 0u);
}

TEST(EdgeBook, APulseTheCounterMergedIsCompletedOnceTheLevelHasLasted)
{
    // Shorter than the driver's interrupt latency: counted once, and the line is back.
    EdgeBook book;
    book.start(counted({0, 0, 9}, {false, false, true}, 0));
    EXPECT_EQ(text(book.update(counted({0, 0, 10}, {false, false, true}, 100))), "K0");
    EXPECT_EQ(text(book.update(counted({0, 0, 10}, {false, false, true}, 120))), "");
    EXPECT_EQ(text(book.update(counted({0, 0, 10}, {false, false, true}, 150))), "K1");
    EXPECT_EQ(book.disagreements(), 1u);
    // While the line keeps pulsing the same way, the counter goes on being trusted.
    EXPECT_EQ(text(book.update(counted({0, 0, 12}, {false, false, true}, 160))), "K0 K1");
}

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

TEST(EdgeBook, ACounterThatWentBackOrJumpedFurtherThanALineCanOnlyResynchronises)
{
    // A driver that reset its counters, or a corrupt reading, must not be read as millions of
    // edges, nor have room reserved for them.
    for (const std::uint32_t to : {0u, 1001u + EdgeBook::maxEdgesPerReading, 0x80000000u}) {
        SCOPED_TRACE(to);
        EdgeBook book;
        book.start(counted({1000, 1000, 1000}, {false, false, false}));
        const auto edges = book.update(counted({to, 1000, to}, {false, true, false}));
        EXPECT_EQ(text(edges), "D1");
        EXPECT_LE(edges.capacity(), 1u);
        EXPECT_EQ(book.counterFaults(), 1u);
        EXPECT_EQ(text(book.update(counted({to + 2, 1000, to}, {false, true, false}))), "C1 C0");
        EXPECT_EQ(book.counterFaults(), 1u);
    }
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

TEST(EdgeBook, AsManyEdgesAsALineCanMakeInOneReadingAreAllKeptInOrder)
{
    EdgeBook book;
    book.start(counted({0, 0, 0}, {false, false, false}));
    const auto edges =
        book.update(counted({EdgeBook::maxEdgesPerReading, 0, 0}, {false, false, false}));
    ASSERT_EQ(edges.size(), EdgeBook::maxEdgesPerReading);
    EXPECT_EQ(book.counterFaults(), 0u);
    int pulses = 0;
    bool level = false;
    for (const Edge& e : edges) {
        ASSERT_NE(e.level, level) << "two edges to the same level";
        level = e.level;
        if (!e.level)
            ++pulses;
    }
    EXPECT_EQ(pulses, EdgeBook::maxEdgesPerReading / 2);
}

TEST(EdgeBook, EveryReadingLeavesTheOldLevelAndAlternates)
{
    for (std::uint32_t d = 0; d < 6; ++d)
        for (int b = 0; b < 2; ++b)
            for (int n = 0; n < 2; ++n) {
                SCOPED_TRACE(testing::Message()
                             << "delta " << d << " before " << b << " now " << n);
                EdgeBook book;
                book.start(counted({0, 0, 0}, {b != 0, false, false}, 0));
                std::vector<Edge> edges =
                    book.update(counted({d, 0, 0}, {n != 0, false, false}, 1));
                const auto later =
                    book.update(counted({d, 0, 0}, {n != 0, false, false}, 1 + EdgeBook::settleMs));
                edges.insert(edges.end(), later.begin(), later.end());
                // The counted changes, and one more when the level cannot be reached by them.
                const bool flipped = b != n;
                const std::uint32_t expected = d + (((d & 1u) != 0) != flipped ? 1u : 0u);
                ASSERT_EQ(edges.size(), expected);
                bool level = b != 0;
                for (const Edge& e : edges) {
                    EXPECT_NE(e.level, level);
                    level = e.level;
                }
                EXPECT_EQ(level, n != 0);
            }
}

} // namespace

TEST(EdgeBookTiming, OnlyALinesLastEdgeOfAReadingIsTimedAndNeverAnEdgeTheCounterMissed)
{
    EdgeBook book;
    book.start(counted({0, 0, 0}, {false, false, false}));
    book.update(counted({1, 0, 0}, {true, false, false}, 0)); // counters seen moving
    // CTS changed three times, DSR once: CTS's first two were not seen on their own.
    std::string timed;
    for (const Edge& e : book.update(counted({4, 1, 0}, {false, true, false}, 10)))
        timed += e.timed ? '+' : '-';
    EXPECT_EQ(timed, "-+-+"); // C0 D1 C1 C0
    // CD's level moved without its counter; the change made once it has lasted is untimed.
    book.update(counted({4, 1, 0}, {false, true, true}, 20));
    const std::vector<Edge> late =
        book.update(counted({4, 1, 0}, {false, true, true}, 20 + EdgeBook::settleMs));
    ASSERT_EQ(text(late), "K1");
    EXPECT_FALSE(late[0].timed);
}
