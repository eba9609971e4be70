#include "lpt/converterreader.h"
#include "platform/sim/simtlc549.h"
#include "support/fakeclock.h"

#include <gtest/gtest.h>
#include <vector>

namespace diagnostika {
namespace {

// Each read returns the previous conversion first, so the second read of a steady input is the
// first that shows only that input.
TEST(SimulatedTlc549, GivesTheCodeOfASteadyInputFromTheSecondRead)
{
    struct Case {
        double volts;
        int code;
    };
    for (const Case& c : {Case{0, 0}, Case{1, 51}, Case{2.5, 128}, Case{3.3, 168}, Case{5, 255},
                          Case{4.99, 254}, Case{6, 255}, Case{-1, 0}}) {
        SCOPED_TRACE(c.volts);
        SimulatedPortIo io({888, 956}, [&](std::uint16_t) { return c.volts; });
        ConverterReader reader;
        reader.citanieprevodnika(io, u"LPT1");
        EXPECT_DOUBLE_EQ(reader.napatievstupu, 5.0 * c.code / 510) << "power-up result is 0";
        reader.citanieprevodnika(io, u"LPT1");
        EXPECT_DOUBLE_EQ(reader.napatievstupu, 5.0 * c.code / 255);
        EXPECT_EQ(io.read(888), 5) << "the data register holds the closing write";
    }
}

TEST(SimulatedTlc549, SamplesAfterTheEighthClockAndShiftsThatResultOutNext)
{
    // The input moves on each time the chip samples it.
    std::vector<int> codes = {10, 20, 30, 40, 50, 60};
    std::size_t samples = 0;
    SimulatedPortIo io({956}, [&](std::uint16_t) { return 5.0 * codes.at(samples++) / 255; });
    ConverterReader reader;

    reader.citanieprevodnika(io, u"LPT2");
    EXPECT_EQ(samples, 2u);
    EXPECT_DOUBLE_EQ(reader.napatievstupu, 5.0 * (0 + 10) / 510);
    reader.citanieprevodnika(io, u"");
    EXPECT_EQ(samples, 4u);
    EXPECT_DOUBLE_EQ(reader.napatievstupu, 5.0 * (20 + 30) / 510);
}

TEST(SimulatedTlc549, PortsAreSeparateAndOnlyTheGivenOnesExist)
{
    SimulatedPortIo io({888, 956}, [](std::uint16_t base) { return base == 888 ? 5.0 : 0.0; });
    ConverterReader lpt1, lpt2;
    for (int i = 0; i < 2; ++i) {
        lpt1.citanieprevodnika(io, u"LPT1");
        lpt2.citanieprevodnika(io, u"LPT2");
    }
    EXPECT_DOUBLE_EQ(lpt1.napatievstupu, 5.0);
    EXPECT_DOUBLE_EQ(lpt2.napatievstupu, 0.0);

    // A deselected chip's output floats high: status bit 7 reads 0.
    EXPECT_EQ(io.read(889) & 0x80, 0);
    io.write(890, 0x0C);
    EXPECT_EQ(io.read(890), 0x0C);

    SimulatedPortIo onlyOne({888}, {});
    EXPECT_THROW(onlyOne.read(957), PortIoError);
    EXPECT_THROW(onlyOne.write(632, 0), PortIoError);
}

TEST(SimulatedTlc549, DriftingInputStaysInItsBandAndMovesSlowly)
{
    test::FakeClock clock;
    const SimulatedPortIo::Inputs inputs = SimulatedPortIo::driftingInputs(clock);
    double low = 5, high = 0, largestStep = 0;
    double previous = inputs(888);
    bool portsDiffer = false;
    for (int tick = 0; tick < 4 * 3600 * 4 / 3; ++tick) { // four hours at 750 ms
        clock.advance(750);
        const double v = inputs(888);
        low = std::min(low, v);
        high = std::max(high, v);
        largestStep = std::max(largestStep, std::abs(v - previous));
        previous = v;
        portsDiffer = portsDiffer || std::abs(inputs(956) - v) > 0.1;
    }
    EXPECT_GE(low, 0.9);
    EXPECT_LE(high, 4.1);
    EXPECT_GT(high - low, 2.0) << "it should sweep most of its band";
    EXPECT_LT(largestStep, 0.1) << "a slow, temperature-like signal";
    EXPECT_TRUE(portsDiffer);
}

} // namespace
} // namespace diagnostika
