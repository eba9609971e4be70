// The serial window's arithmetic on its own.
#include "com/serialformulas.h"
#include "platform/seriallines.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace diagnostika::com {
namespace {

TEST(SerialFormulas, EventCodesAndListTextsNameTheLines)
{
    EXPECT_EQ(lineOfEvent(3), Line::CTS);
    EXPECT_EQ(lineOfEvent(4), Line::DSR);
    EXPECT_EQ(lineOfEvent(5), Line::CD);
    for (int code : {0, 1, 2, 6, 8002, -4})
        EXPECT_FALSE(lineOfEvent(code)) << code;

    for (Line line : allLines) {
        EXPECT_EQ(lineOfEvent(commEventOf(line)), line);
        EXPECT_EQ(lineOfName(QString::fromLatin1(lineName(line))), line);
    }
    for (const char* text : {"", "cts", "CTS ", "Cd", "RI"})
        EXPECT_FALSE(lineOfName(QString::fromUtf8(text))) << text;
}

TEST(SerialFormulas, PulseDuration)
{
    struct Case {
        std::optional<std::int64_t> start;
        std::int64_t end;
        std::optional<std::int64_t> duration;
    };
    const std::int64_t big = std::int64_t{1} << 40;
    const Case cases[] = {
        {1000, 1250, 250},
        {big, big + 99998, 99998},
        {big, big + 99999, std::nullopt},
        {std::nullopt, 40, std::nullopt}, // a clock's own value is no duration
        {0, 0, 0},
        {big, big, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pulseDuration(c.start, c.end), c.duration) << c.end;
}

TEST(SerialFormulas, KnobPositionAndTurn)
{
    EXPECT_EQ(knobLeft(1, 2), 14.0f);
    EXPECT_EQ(knobLeft(180, 2), 2520.0f);
    EXPECT_EQ(knobLeft(52, 7), 2548.0f);
    EXPECT_EQ(knobLeft(3, -1), -21.0f);
    EXPECT_EQ(knobLeft(2, 1e300), std::numeric_limits<float>::max());
    EXPECT_EQ(knobLeft(2, -1e300), -std::numeric_limits<float>::max());

    EXPECT_TRUE(knobCompletesTurn(180, 2));
    EXPECT_TRUE(knobCompletesTurn(1, 360));
    EXPECT_FALSE(knobCompletesTurn(51, 7));
    EXPECT_FALSE(knobCompletesTurn(52, 7));
    EXPECT_FALSE(knobCompletesTurn(0, 2));
}

TEST(SerialFormulas, Displacement)
{
    EXPECT_DOUBLE_EQ(displacementMetres(5, 10), 0.05);
    EXPECT_DOUBLE_EQ(displacementMetres(21, 10), 0.21);
    EXPECT_DOUBLE_EQ(displacementMetres(0, 10), 0);
    EXPECT_DOUBLE_EQ(displacementMetres(3, -2), -0.006);
}

TEST(SerialFormulas, SpeedForEachInterval)
{
    struct Case {
        const char* interval;
        std::int64_t pulses;
        double p;
        double speed;
        int period;
    };
    const Case cases[] = {
        {"1s", 10, 4, 150, 1000},    {"1s", 8, 4, 120, 1000}, {"10s", 25, 1, 150, 10000},
        {"1min", 7, 4, 1.75, 60000}, {"1s", 1, 8, 7.5, 1000}, {"1s", 0, 6, 0, 1000},
    };
    for (const Case& c : cases) {
        const std::optional<SpeedInterval> interval = intervalOfText(QString::fromUtf8(c.interval));
        ASSERT_TRUE(interval) << c.interval;
        EXPECT_EQ(interval->periodMs, c.period) << c.interval;
        EXPECT_DOUBLE_EQ(speed(c.pulses, *interval, c.p), c.speed) << c.interval << " " << c.pulses;
    }
    for (const char* text : {"", "1S", "1 s", "60s", "1m"})
        EXPECT_FALSE(intervalOfText(QString::fromUtf8(text))) << text;
    // Never negative, whatever the sign of its inputs.
    EXPECT_EQ(speed(3, {60, 1000}, -1), 180);
}

TEST(SerialFormulas, PulsesPerRevolutionNeedsAPositiveChoice)
{
    const QLocale sk(QLocale::Slovak, QLocale::Slovakia);
    for (const char* text : {"1", "4", "6", "8"})
        EXPECT_EQ(pulsesPerRevolution(QString::fromUtf8(text), sk), std::atof(text)) << text;
    for (const char* text : {"", "0", "-4", "x"})
        EXPECT_FALSE(pulsesPerRevolution(QString::fromUtf8(text), sk)) << text;
}

TEST(SerialFormulas, NoSpeedIsTheSeparatorAloneInAnyLocale)
{
    const QLocale sk(QLocale::Slovak, QLocale::Slovakia);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    EXPECT_TRUE(isNoSpeedText(u"", sk));
    EXPECT_TRUE(isNoSpeedText(u",", sk));
    EXPECT_TRUE(isNoSpeedText(u"", us));
    EXPECT_TRUE(isNoSpeedText(u".", us));
    EXPECT_FALSE(isNoSpeedText(u".", sk));
    EXPECT_FALSE(isNoSpeedText(u",", us));
    EXPECT_FALSE(isNoSpeedText(u"150,", sk));
    EXPECT_FALSE(isNoSpeedText(u",5", sk));
}

TEST(SerialFormulas, VelocityAndItsChangePerPeriod)
{
    EXPECT_DOUBLE_EQ(velocity(150), 15.7);
    EXPECT_DOUBLE_EQ(velocity(-150), 15.7);
    EXPECT_DOUBLE_EQ(velocityPerPeriod(150, 1000), 15.7);
    EXPECT_DOUBLE_EQ(velocityPerPeriod(150, 10000), 1.57);
    EXPECT_NEAR(velocityPerPeriod(1.75, 60000), 0.00305, 1e-5);
    // The classic 500 ms period before an interval is applied doubles the value.
    EXPECT_DOUBLE_EQ(velocityPerPeriod(150, 500), 31.4);
}

TEST(SerialFormulas, SpeedSumAndAverageRoundHalfToEven)
{
    struct Case {
        std::int64_t sum;
        double speed;
        std::int64_t newSum;
    };
    const Case cases[] = {
        {0, 150, 150}, {150, 120, 270}, {0, 7.5, 8}, {8, 7.5, 16},
        {0, 1.75, 2},  {0, 0.5, 0},     {0, 2.5, 2}, {1, 0.5, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(addToSpeedSum(c.sum, c.speed), c.newSum) << c.sum << " + " << c.speed;

    EXPECT_EQ(averageSpeed(270, 2), 135);
    EXPECT_EQ(averageSpeed(16, 2), 8);
    EXPECT_EQ(averageSpeed(5, 2), 2);
    EXPECT_EQ(averageSpeed(7, 2), 4);
    EXPECT_EQ(averageSpeed(0, 0), 0);

    // Far beyond the 16- and 32-bit fields of old, and saturating rather than wrapping at the end.
    EXPECT_EQ(averageSpeed(addToSpeedSum(0, 3e9), 1), 3'000'000'000);
    const std::int64_t top = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(addToSpeedSum(top, 1e30), top);
    EXPECT_GT(averageSpeed(top, 1), 0);
}

TEST(SerialFormulas, GraphScale)
{
    EXPECT_DOUBLE_EQ(graphY(10, 4), 1325);
    EXPECT_DOUBLE_EQ(graphY(0, 4), 1400);
    EXPECT_DOUBLE_EQ(graphY(47, 1), -10);
    EXPECT_DOUBLE_EQ(graphY(188, 4), -10);
    EXPECT_NEAR(graphY(68, 3), 720, 1e-9); // 22 2/3 revolutions reach the reference line
}

TEST(SerialFormulas, DisplacementRate)
{
    EXPECT_DOUBLE_EQ(displacementRate(3, 0), 0.12);
    EXPECT_DOUBLE_EQ(displacementRate(4, 3), 0.04);
    EXPECT_DOUBLE_EQ(displacementRate(0, 100), -4);
}

} // namespace
} // namespace diagnostika::com
