#include "platform/captureprobe.h"

#include <gtest/gtest.h>

using namespace diagnostika;

namespace {

LineSample reading(std::uint32_t cts, bool ctsLevel)
{
    return LineSample{std::array<std::uint32_t, lineCount>{cts, 0, 0}, {ctsLevel, false, false}};
}

TEST(CaptureProbe, RefusedCallsDecideTheMode)
{
    struct Case {
        bool refuseCounters;
        bool refuseWait;
        CaptureMode mode;
    };
    for (const Case c :
         {Case{false, false, CaptureMode::Counted},
          Case{false, true, CaptureMode::Counted}, // polling counters lose nothing
          Case{true, false, CaptureMode::Levels}, Case{true, true, CaptureMode::Polled}}) {
        CaptureProbe probe;
        if (c.refuseCounters)
            probe.countersRefused();
        if (c.refuseWait)
            probe.waitRefused();
        EXPECT_EQ(probe.mode(), c.mode) << c.refuseCounters << c.refuseWait;
        EXPECT_EQ(probe.useCounters(), !c.refuseCounters);
        EXPECT_EQ(probe.useWait(), !c.refuseWait);
    }
}

TEST(CaptureProbe, CountersThatStandStillWhileLevelsChangeAreDropped)
{
    CaptureProbe probe;
    EdgeBook book;
    book.start(reading(7, false));
    book.update(reading(7, true));
    probe.afterFirstReading(true, true, book);
    EXPECT_TRUE(probe.useCounters()) << "one level-only change may be a glitch";
    book.update(reading(7, false));
    probe.afterFirstReading(true, true, book);
    EXPECT_FALSE(probe.useCounters());
    EXPECT_EQ(probe.mode(), CaptureMode::Levels);
}

TEST(CaptureProbe, CountersThatHaveMovedAreNeverDropped)
{
    CaptureProbe probe;
    EdgeBook book;
    book.start(reading(0, false));
    book.update(reading(2, false));
    probe.afterFirstReading(true, true, book);
    for (int i = 0; i < 10; ++i) {
        book.update(reading(2, i % 2 == 0));
        probe.afterFirstReading(true, true, book);
    }
    EXPECT_TRUE(probe.useCounters());
    EXPECT_EQ(probe.mode(), CaptureMode::Counted);
}

TEST(CaptureProbe, CountersThatJumpTwiceAreDropped)
{
    CaptureProbe probe;
    EdgeBook book;
    book.start(reading(0, false));
    book.update(reading(2, false));
    book.update(reading(0x40000000u, true));
    probe.afterFirstReading(true, true, book);
    EXPECT_TRUE(probe.useCounters()) << "one jump may be a glitch";
    book.update(reading(0x40000002u, true));
    book.update(reading(5, false));
    probe.afterFirstReading(true, true, book);
    EXPECT_EQ(probe.mode(), CaptureMode::Levels);
}

TEST(CaptureProbe, AWaitThatNeverWakesIsGivenUpAfterThreeChangesInARow)
{
    EdgeBook book;
    book.start(reading(0, false));
    {
        CaptureProbe probe;
        probe.afterFirstReading(false, true, book);
        probe.afterFirstReading(false, true, book);
        probe.afterFirstReading(false, false, book); // a quiet re-check proves nothing
        probe.afterFirstReading(true, true, book);   // a real wake: the wait works
        probe.afterFirstReading(false, true, book);
        probe.afterFirstReading(false, true, book);
        EXPECT_TRUE(probe.useWait());
        probe.afterFirstReading(false, true, book);
        EXPECT_FALSE(probe.useWait());
        EXPECT_EQ(probe.mode(), CaptureMode::Counted);
    }
    {
        CaptureProbe probe;
        probe.countersRefused();
        for (int i = 0; i < CaptureProbe::missedWakesToGiveUp; ++i)
            probe.afterFirstReading(false, true, book);
        EXPECT_EQ(probe.mode(), CaptureMode::Polled);
    }
}

} // namespace
