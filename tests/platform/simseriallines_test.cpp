#include "platform/sim/simseriallines.h"
#include "support/fakeclock.h"

#include <QTest>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace diagnostika;

namespace {

TEST(SensorBox, ChangeCountsMatchASensorFollowedStepByStep)
{
    for (const double duty : {0.5, 0.25, 0.9}) {
        SCOPED_TRACE(duty);
        // Walk the position in small steps and count the level changes seen.
        std::int64_t seen = 0;
        bool level = true; // active at position 0
        for (int step = 1; step <= 20000; ++step) {
            const double p = step * 0.001 + 0.0004;
            const bool now = p - std::floor(p) < duty;
            if (now != level)
                ++seen;
            level = now;
            if (step % 997 == 0) {
                ASSERT_EQ(SensorBox::changesUpTo(p, duty) - SensorBox::changesUpTo(0, duty), seen)
                    << "at " << p;
            }
        }
    }
}

TEST(SensorBox, EveryPortTurnsAtAFewHundredWithASlowDrift)
{
    for (int com = 1; com <= 3; ++com) {
        SCOPED_TRACE(com);
        const SensorBox box(com);
        double low = 1e9, high = 0;
        for (std::int64_t ms = 0; ms < 300'000; ms += 500) {
            const double n = box.speedAt(ms);
            low = std::min(low, n);
            high = std::max(high, n);
            // Levels agree with the counters' parity, as a UART's do.
            const LineSample s = box.sampleAt(ms);
            for (int line = 0; line < lineCount; ++line) {
                const double start = box.sensor(line).phase;
                const bool activeAtStart = start - std::floor(start) < box.sensor(line).duty;
                EXPECT_EQ(s.levels[line], activeAtStart == ((*s.counts)[line] % 2 == 0));
            }
        }
        EXPECT_GE(low, 200.0);
        EXPECT_LE(high, 1000.0);
        EXPECT_GT(high - low, 0.1 * low) << "the speed should drift";
        // Slowly: within one second it changes by no more than a few per cent.
        EXPECT_LT(std::abs(box.speedAt(61'000) - box.speedAt(60'000)), 0.03 * box.speedAt(60'000));
    }
}

TEST(SensorBox, MeanSpeedIsWhatTheShaftTurnedOverTheInterval)
{
    const SensorBox box(2);
    const SensorBox::Machine m = SensorBox::machineFor(2);
    const auto period = static_cast<std::int64_t>(m.periodMs);
    // Over whole drift periods the swing cancels out, wherever they start.
    for (const std::int64_t from : {std::int64_t{0}, std::int64_t{12'345}, std::int64_t{4'000'000}})
        EXPECT_NEAR(box.meanSpeedBetween(from, from + 2 * period), m.meanSpeed, 1e-6) << from;
    // Over one second it lies between the speeds at its ends, near the middle one, and agrees
    // with the revolutions the sensors count.
    for (std::int64_t from = 0; from < period; from += period / 7) {
        const double mean = box.meanSpeedBetween(from, from + 1000);
        EXPECT_GE(mean, std::min(box.speedAt(from), box.speedAt(from + 1000)) - 1e-9);
        EXPECT_LE(mean, std::max(box.speedAt(from), box.speedAt(from + 1000)) + 1e-9);
        EXPECT_NEAR(mean, box.speedAt(from + 500), 0.05);
        EXPECT_NEAR(mean / 60.0, box.revolutionsAt(from + 1000) - box.revolutionsAt(from), 1e-9);
    }
    EXPECT_DOUBLE_EQ(box.meanSpeedBetween(777, 777), box.speedAt(777));
}

TEST(SensorBox, PulsesBetweenTwoMomentsFollowTheRevolutions)
{
    const SensorBox box(1);
    for (int line = 0; line < lineCount; ++line) {
        const double perRevolution = box.sensor(line).pulsesPerRevolution;
        for (const std::int64_t from :
             {std::int64_t{0}, std::int64_t{3'333}, std::int64_t{90'001}}) {
            const double expected =
                (box.revolutionsAt(from + 10'000) - box.revolutionsAt(from)) * perRevolution;
            EXPECT_NEAR(static_cast<double>(box.pulsesBetween(from, from + 10'000, line)), expected,
                        1.0)
                << line << " from " << from;
            // Split anywhere, the parts add up to the whole.
            EXPECT_EQ(box.pulsesBetween(from, from + 4'321, line) +
                          box.pulsesBetween(from + 4'321, from + 10'000, line),
                      box.pulsesBetween(from, from + 10'000, line));
        }
    }
}

struct Tally {
    int edges[6] = {};
    int pulses[6] = {};
    bool level[6] = {};
    bool alternates = true;
    std::int64_t lastStamp = 0;
    bool stampsInOrder = true;
    void add(const LineEvent& e)
    {
        if (edges[e.commEvent] > 0 && level[e.commEvent] == e.level)
            alternates = false;
        if (e.stampMs < lastStamp)
            stampsInOrder = false;
        lastStamp = e.stampMs;
        level[e.commEvent] = e.level;
        ++edges[e.commEvent];
        if (!e.level)
            ++pulses[e.commEvent];
    }
};

class SimulatedPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        QObject::connect(&lines, &SerialLines::lineChanged, [this](LineEvent e) { tally.add(e); });
    }
    // Runs the port for `ms` of simulated time, read every `everyMs`.
    void run(std::int64_t ms, std::int64_t everyMs)
    {
        for (std::int64_t t = 0; t < ms; t += everyMs) {
            clock.advance(everyMs);
            lines.poll();
        }
    }
    test::FakeClock clock{5'000'000};
    SimulatedSerialLines lines{clock, SimulatedSerialLines::Reader::Manual};
    Tally tally;
};

TEST_F(SimulatedPort, SpeedPulsesFollowTheShaftAndEveryLineMoves)
{
    ASSERT_TRUE(lines.open(1, nullptr));
    EXPECT_EQ(lines.captureMode(), CaptureMode::Simulated);
    const SensorBox box(1);
    const double revolutions =
        box.revolutionsAt(clock.milliseconds() + 60'000) - box.revolutionsAt(clock.milliseconds());
    run(60'000, 2);
    EXPECT_NEAR(tally.pulses[comEvCTS], revolutions * 4, 1.0);
    EXPECT_NEAR(tally.pulses[comEvDSR], revolutions * 0.5, 1.0);
    EXPECT_NEAR(tally.pulses[comEvCD], revolutions * 0.6, 1.0);
    EXPECT_GT(tally.pulses[comEvCD], 60) << "the angle should move visibly";
    EXPECT_TRUE(tally.alternates);
    EXPECT_TRUE(tally.stampsInOrder);
    // Stamped when read: the edges carry reading times, within the last reading period.
    EXPECT_LE(tally.lastStamp, clock.milliseconds());
    EXPECT_GT(tally.lastStamp, clock.milliseconds() - 2000);
    EXPECT_EQ(tally.lastStamp % 2, 0);
}

TEST_F(SimulatedPort, AStalledReaderGetsEveryEdgeLate)
{
    ASSERT_TRUE(lines.open(2, nullptr));
    SimulatedSerialLines steady(clock, SimulatedSerialLines::Reader::Manual);
    Tally steadyTally;
    QObject::connect(&steady, &SerialLines::lineChanged, [&](LineEvent e) { steadyTally.add(e); });
    ASSERT_TRUE(steady.open(2, nullptr));
    // One reader every 2 ms, the other only once after 10 s, as behind a busy UI thread.
    for (int i = 0; i < 5000; ++i) {
        clock.advance(2);
        steady.poll();
    }
    lines.poll();
    for (int c : {comEvCTS, comEvDSR, comEvCD}) {
        EXPECT_EQ(tally.edges[c], steadyTally.edges[c]) << c;
        EXPECT_EQ(tally.level[c], steadyTally.level[c]) << c;
    }
    EXPECT_GT(tally.pulses[comEvCTS], 200);
    EXPECT_TRUE(tally.alternates);
}

TEST_F(SimulatedPort, OnlyComOneToThreeOpenAndAClosedPortIsSilent)
{
    SerialError error;
    EXPECT_FALSE(lines.open(4, &error));
    EXPECT_EQ(error.kind, SerialError::Kind::Other);
    EXPECT_EQ(error.commPort, 4);
    EXPECT_FALSE(lines.isOpen());

    ASSERT_TRUE(lines.open(3, nullptr));
    run(1000, 2);
    lines.close();
    EXPECT_FALSE(lines.isOpen());
    EXPECT_FALSE(lines.levels().cts || lines.levels().dsr || lines.levels().cd);
    const int before = tally.edges[comEvCTS];
    run(5000, 2);
    EXPECT_EQ(tally.edges[comEvCTS], before);
}

TEST_F(SimulatedPort, EdgesUpToTheCloseAreDelivered)
{
    ASSERT_TRUE(lines.open(1, nullptr));
    SimulatedSerialLines reference(clock, SimulatedSerialLines::Reader::Manual);
    Tally referenceTally;
    QObject::connect(&reference, &SerialLines::lineChanged,
                     [&](LineEvent e) { referenceTally.add(e); });
    ASSERT_TRUE(reference.open(1, nullptr));
    clock.advance(3000);
    reference.poll();
    lines.close(); // no poll since the open: the close must read the box one last time
    EXPECT_GT(tally.edges[comEvCTS], 0);
    EXPECT_EQ(tally.edges[comEvCTS], referenceTally.edges[comEvCTS]);
}

TEST_F(SimulatedPort, APortOpenedAgainWhileClosingIsLeftOpen)
{
    ASSERT_TRUE(lines.open(1, nullptr));
    clock.advance(3000);
    // The close hands over the edges since the open; the first of them opens another port.
    bool reopened = false;
    QObject::connect(&lines, &SerialLines::lineChanged, [&] {
        if (!reopened) {
            reopened = true;
            EXPECT_TRUE(lines.open(2, nullptr));
        }
    });
    lines.close();
    ASSERT_TRUE(reopened);
    ASSERT_TRUE(lines.isOpen()) << "the closing took the box from the port opened meanwhile";
    EXPECT_EQ(lines.commPort(), 2);
    clock.advance(3000);
    lines.poll(); // reads the new box
    EXPECT_EQ(lines.lastReadingMs(), clock.milliseconds());
}

TEST(SimulatedPortOnItsThread, DeliversQueuedEdgesOnTheOwnersThreadAndAllByTheClose)
{
    test::FakeClock clock{7'000'000};
    SimulatedSerialLines lines(clock); // reads on its own thread
    Tally tally;
    bool onOwnerThread = true;
    QObject::connect(&lines, &SerialLines::lineChanged, [&](LineEvent e) {
        onOwnerThread = onOwnerThread && QThread::currentThread() == lines.thread();
        tally.add(e);
    });
    // A fast machine, so that a few simulated seconds make many edges on every line.
    auto machine = SensorBox::machineFor(1);
    machine.meanSpeed = 6000;
    lines.setMachine(machine);
    ASSERT_TRUE(lines.open(1, nullptr));
    clock.advance(5000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tally.edges[comEvCTS] > 0; }, 5000));
    clock.advance(5000);
    lines.close();
    EXPECT_TRUE(onOwnerThread);
    EXPECT_TRUE(tally.alternates);
    const SensorBox box(machine);
    const LineSample first = box.sampleAt(lines.openedAtMs());
    const LineSample last = box.sampleAt(lines.lastReadingMs());
    EXPECT_EQ(lines.lastReadingMs(), clock.milliseconds());
    for (const Line line : allLines)
        EXPECT_EQ(static_cast<std::uint32_t>(tally.edges[commEventOf(line)]),
                  (*last.counts)[index(line)] - (*first.counts)[index(line)])
            << lineName(line);
    EXPECT_GT(tally.pulses[comEvCTS], 3000);
}

} // namespace

namespace {

TEST_F(SimulatedPort, EdgesAreStampedATypicalWakeAfterTheirTrueTimeUnlessTooCloseToBeSeenAlone)
{
    const SensorBox box(1);
    std::vector<double> delays;
    int untimed = 0;
    std::int64_t changes = 0;
    QObject::connect(&lines, &SerialLines::lineChanged, [&](LineEvent e) {
        if (e.commEvent != comEvCTS)
            return;
        ++changes;
        if (!e.timed) {
            ++untimed;
            return;
        }
        const double us = static_cast<double>(e.stampMs) * 1e3;
        delays.push_back(static_cast<double>(e.stampUs) -
                         box.changeTimeUs(index(Line::CTS), changes, us - 1e3, us));
    });
    ASSERT_TRUE(lines.open(1, nullptr));
    changes = (*box.sampleAt(lines.openedAtMs()).counts)[index(Line::CTS)]; // counted from time 0
    run(20'000, 1);
    ASSERT_GT(delays.size(), 400u);
    EXPECT_EQ(untimed, 0) << "a few hundred min^-1 leaves milliseconds between changes";
    std::sort(delays.begin(), delays.end());
    EXPECT_GE(delays.front(), SimulatedSerialLines::wakeMinUs - 0.5);
    EXPECT_NEAR(delays[delays.size() / 2], 28, 4);
    EXPECT_LT(delays.back(), 300);

    // Changes 10 us apart: no wake sees one alone.
    auto fast = SensorBox::machineFor(1);
    fast.meanSpeed = 60'000;
    fast.swing = 0;
    fast.sensors[index(Line::CTS)].pulsesPerRevolution = 50;
    lines.setMachine(fast);
    ASSERT_TRUE(lines.open(1, nullptr));
    untimed = 0;
    delays.clear();
    run(10, 1);
    EXPECT_GT(untimed, 500);
    EXPECT_TRUE(delays.empty());
}

TEST(SimulatedReaderThread, ATickTakesEveryEdgeUpToNowInOrderStampedAsAMillisecondPollerWould)
{
    // The thread reads seldom: whoever asks for the pending edges has the box read at once, and
    // each edge carries the millisecond a reader polling every millisecond would have seen it at.
    test::FakeClock clock{5'000'000};
    SimulatedSerialLines lines(clock);
    const SensorBox box(1);
    std::vector<LineEvent> seen;
    QObject::connect(&lines, &SerialLines::lineChanged, [&](LineEvent e) { seen.push_back(e); });
    ASSERT_TRUE(lines.open(1, nullptr));
    const std::int64_t opened = lines.openedAtMs();
    std::int64_t change = (*box.sampleAt(opened).counts)[index(Line::CTS)]; // counted from time 0
    clock.advance(3000);
    lines.deliverPending();
    std::int64_t pulses = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const LineEvent& e = seen[i];
        if (i > 0) {
            EXPECT_LE(seen[i - 1].stampUs, e.stampUs) << "in the order they happened";
        }
        if (e.commEvent != comEvCTS)
            continue;
        pulses += e.level ? 0 : 1;
        const double at =
            box.changeTimeUs(index(Line::CTS), ++change, static_cast<double>(opened) * 1e3,
                             static_cast<double>(e.stampUs));
        EXPECT_EQ(e.stampMs, static_cast<std::int64_t>(std::ceil(at / 1e3))) << i;
    }
    EXPECT_EQ(pulses, box.pulsesBetween(opened, opened + 3000, index(Line::CTS)));
    EXPECT_GT(pulses, 50);
    lines.close();
}

} // namespace
