#include "platform/backends.h"
#include "platform/sim/simvibration.h"
#include "support/fakeclock.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <tuple>

using namespace diagnostika;
using diagnostika::test::FakeClock;

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

struct Capture {
    std::vector<VibrationBlock> blocks;
    std::vector<double> samples; // m/s^2, every block's in order
};

// Opens COM1's machine at `rate` at tick `startMs` and takes blocks at the given tick steps.
Capture run(SimulatedVibrationInput& input, FakeClock& clock, int rate,
            const std::vector<int>& stepsMs)
{
    EXPECT_TRUE(input.open({SimulatedVibrationInput::sourceId(1), rate, 0}, nullptr));
    Capture c;
    for (int step : stepsMs) {
        clock.advance(step);
        for (VibrationBlock& b : input.takeBlocks()) {
            for (float s : b.samples)
                c.samples.push_back(input.scale().metresPerSecond2(s));
            c.blocks.push_back(std::move(b));
        }
    }
    return c;
}

TEST(SimulatedVibration, BlocksFollowTheTickClockContiguouslyAndNoneIsLost)
{
    FakeClock clock(123'457);
    SimulatedVibrationInput input(clock);
    const int rate = 44'100;
    // Irregular takes, some shorter than a block: blocks still come whole and in step.
    const Capture c = run(input, clock, rate, {3, 7, 1, 250, 9, 33, 0, 1000, 17});
    ASSERT_FALSE(c.blocks.empty());
    const auto frames = static_cast<std::size_t>(SimulatedVibrationInput::blockFrames(rate));
    std::size_t index = 0;
    for (const VibrationBlock& b : c.blocks) {
        EXPECT_EQ(b.samples.size(), frames);
        EXPECT_EQ(b.rate, rate);
        EXPECT_EQ(b.lostBefore, 0u);
        EXPECT_NEAR(static_cast<double>(b.firstSampleUs),
                    123'457e3 + static_cast<double>(index) * 1e6 / rate, 0.5);
        index += b.samples.size();
    }
    // Every whole block up to the clock's now, and no more.
    const std::size_t due = (1320 * static_cast<std::size_t>(rate) / 1000) / frames * frames;
    EXPECT_EQ(index, due);
    EXPECT_EQ(input.lostSamples(), 0u);
}

TEST(SimulatedVibration, AnOwnerThatFallsBehindLosesCountedSamplesAndTheStampsShowTheGap)
{
    FakeClock clock(5'000);
    SimulatedVibrationInput input(clock);
    const int rate = 8'000;
    Capture c = run(input, clock, rate, {100, SimulatedVibrationInput::bufferMs + 1'000});
    ASSERT_GE(c.blocks.size(), 2u);
    const std::uint64_t lost = input.lostSamples();
    EXPECT_EQ(lost, 1'000u * rate / 1000);
    // The first block after the loss says so, and starts where the lost samples end.
    std::size_t before = 0, i = 0;
    while (c.blocks[i].lostBefore == 0)
        before += c.blocks[i++].samples.size();
    EXPECT_EQ(c.blocks[i].lostBefore, lost);
    EXPECT_NEAR(static_cast<double>(c.blocks[i].firstSampleUs),
                5'000e3 + static_cast<double>(before + lost) * 1e6 / rate, 0.5);
}

// The level of order `order` over whole revolutions, by projecting on the shaft's true angle under
// a Hann window (the bearing tone, half an order away, must not leak in).
double orderAmplitude(const Capture& c, const VibratingMachine& m, double order)
{
    const double startUs = static_cast<double>(c.blocks.front().firstSampleUs);
    const double rate = c.blocks.front().rate;
    auto angleAt = [&](std::size_t k) {
        return twoPi * m.shaft().revolutionsAtUs(startUs + static_cast<double>(k) * 1e6 / rate);
    };
    const double first = std::ceil(angleAt(0) / twoPi) * twoPi;
    const double turns = std::floor((angleAt(c.samples.size() - 1) - first) / twoPi);
    std::complex<double> sum;
    for (std::size_t k = 0; k + 1 < c.samples.size(); ++k) {
        const double a = angleAt(k);
        if (a < first || a >= first + turns * twoPi)
            continue;
        const double w = 0.5 - 0.5 * std::cos((a - first) / turns);
        sum += c.samples[k] * w * std::polar(1.0, -order * a) * (angleAt(k + 1) - a);
    }
    return std::abs(sum) / (0.5 * std::numbers::pi * turns);
}

TEST(SimulatedVibration, TheShaftOrdersHaveTheLevelsTheTruthStates)
{
    FakeClock clock(40'000); // the shaft speeding up through its drift
    SimulatedVibrationInput input(clock);
    std::vector<int> steps(30, 100); // three seconds: over ten turns at COM1's speed
    const Capture c = run(input, clock, 48'000, steps);
    ASSERT_NE(input.machine(), nullptr);
    EXPECT_EQ(input.lostSamples(), 0u);
    const auto truth = input.machine()->truthAt(static_cast<double>(input.startUs()));
    // The same shaft as COM1's simulated serial lines: the 1x frequency is its speed.
    EXPECT_DOUBLE_EQ(truth[0].frequencyHz,
                     SensorBox(1).speedAtUs(static_cast<double>(input.startUs())) / 60.0);
    for (int h = 0; h < 3; ++h) {
        SCOPED_TRACE(truth[static_cast<std::size_t>(h)].name);
        const double expected = truth[static_cast<std::size_t>(h)].amplitude;
        EXPECT_NEAR(orderAmplitude(c, *input.machine(), h + 1.0), expected, 0.01 * expected);
    }
    EXPECT_NEAR(truth[0].rms(), truth[0].amplitude / std::sqrt(2.0), 1e-12);
}

TEST(SimulatedVibration, SimulationPutsTheVibrationOnTheSimulatorAndRefusesWhatItLacks)
{
    BackendOptions options;
    options.simulate = true;
    Backends b = makeBackends(options);
    ASSERT_NE(b.vibration, nullptr);
    const auto sources = b.vibration->sources();
    ASSERT_FALSE(sources.empty());
    EXPECT_EQ(sources.front().id, SimulatedVibrationInput::sourceId(1));
    const auto caps = b.vibration->capabilities(sources.front().id, nullptr);
    ASSERT_TRUE(caps.has_value());
    EXPECT_TRUE(caps->scale.known);
    auto input = b.vibration->create();
    VibrationError error;
    EXPECT_FALSE(input->open({sources.front().id, 12'345, 0}, &error));
    EXPECT_TRUE(error.reason.contains(QStringLiteral("12345")));
    EXPECT_FALSE(input->open({sources.front().id, 48'000, 1}, &error));
    EXPECT_FALSE(input->isOpen());
}

} // namespace

TEST(SimulatedVibration, ARunUpTurnsTheShaftEvenlyAndItsModeShapesTheTones)
{
    // 600 to 3000 min^-1 over 20 s from 2 s: the speed at moments before, during and after, and
    // the revolutions its integral.
    SensorBox::Machine m = SensorBox::machineFor(1);
    m.ramp = SensorBox::Ramp{600, 3000, 2'000, 20'000};
    const SensorBox box(m);
    const struct {
        double seconds, speed, revolutions;
    } moments[] = {
        {1, 600, 10},
        {2, 600, 20},
        {12, 1800, 20 + 10 * (600 + 1800) / 120.0},
        {22, 3000, 20 + 20 * (600 + 3000) / 120.0},
        {25, 3000, 20 + 20 * (600 + 3000) / 120.0 + 150},
    };
    for (const auto& t : moments) {
        EXPECT_NEAR(box.speedAtUs(t.seconds * 1e6), t.speed, 1e-9) << t.seconds;
        EXPECT_NEAR(box.revolutionsAtUs(t.seconds * 1e6), t.revolutions, 1e-9) << t.seconds;
    }

    // A mode at 30 Hz, 5 % damping: 1x at 1800 min^-1 sits on it, magnified 1 / (2 zeta) and
    // lagging a quarter turn; at 600 min^-1 (r = 1/3) magnified 1 / (1 - r^2), in phase.
    VibrationModel model;
    model.harmonics = {{{1, 0.5, 0.4}, {2, 0, 0}, {3.5, 0, 0}}};
    model.modeHz = 30;
    model.modeDamping = 0.05;
    const VibratingMachine machine(m, model, 48'000);
    for (const auto& [shaftHz, gain, lag] :
         {std::tuple{30.0, 10.0, std::numbers::pi / 2}, {10.0, 1.125, 0.0375}}) {
        const ShaftTone out = machine.throughMode(model.harmonics[0], shaftHz);
        EXPECT_NEAR(out.amplitude, 0.5 * gain, 1e-3 * gain) << shaftHz;
        EXPECT_NEAR(out.phase, 0.4 - lag, 1e-3) << shaftHz;
    }
    // The samples carry it: at 12 s (1800 min^-1) the tone is the magnified one.
    const double at = 12e6;
    const double angle = twoPi * box.revolutionsAtUs(at);
    EXPECT_NEAR(machine.tonesAt(at), 5.0 * std::sin(angle + 0.4 - std::numbers::pi / 2), 1e-9);
}
