// The TLC549 read continuously as a vibration source, on the converter's device model: what comes
// out must be the model's input at the stamped times, on an even grid, and the port must never be
// read by the parallel-port window and the vibration input at once.
#include "lpt/form1.h"
#include "platform/combinedvibration.h"
#include "platform/gridresampler.h"
#include "platform/linux/lptvibrationinput.h"
#include "platform/sim/simtlc549.h"
#include "platform/sim/simvibration.h"
#include "platform/tickclock.h"
#include "support/fakeclock.h"

#include <QComboBox>
#include <QMdiArea>
#include <QSignalSpy>
#include <cmath>
#include <ctime>
#include <gtest/gtest.h>
#include <numbers>

namespace diagnostika {
namespace {

// A slow swing over most of the converter's range, in CLOCK_MONOTONIC time: slow enough that a
// reading thread preempted for a few milliseconds around a stamp stays within a code.
double inputVolts(double us)
{
    return 2.5 + 2.0 * std::sin(2 * std::numbers::pi * 0.2 * us / 1e6);
}

PortIoFactory modelPorts()
{
    return []() -> std::unique_ptr<PortIo> {
        return std::make_unique<SimulatedPortIo>(
            std::initializer_list<std::uint16_t>{lpt1Address, lpt2Address},
            [](std::uint16_t) { return inputVolts(monotonicMicroseconds()); });
    };
}

TEST(GridResampler, InterpolatesOntoTheGridAndCountsAGapLostWithoutBridgingIt)
{
    std::vector<VibrationBlock> blocks;
    std::vector<std::pair<std::size_t, std::uint64_t>> losses; // after how many blocks, how many
    GridResampler grid(
        1'000, 4, 2'500, [&](VibrationBlock b) { blocks.push_back(std::move(b)); },
        [&](std::uint64_t n) { losses.emplace_back(blocks.size(), n); });
    // A ramp of 1 per millisecond read unevenly from 10.3 ms, then nothing from 15.2 to 21.7 ms.
    for (double us :
         {10'300.0, 10'900.0, 12'600.0, 13'050.0, 15'200.0, 21'700.0, 22'000.0, 23'400.0, 24'100.0})
        grid.add(us, static_cast<float>(us / 1'000));
    grid.flush();

    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].firstSampleUs, 11'000);
    EXPECT_EQ(blocks[0].samples.size(), 4u);
    EXPECT_EQ(blocks[1].firstSampleUs, 15'000) << "the block before the gap ends at it";
    EXPECT_EQ(blocks[1].samples.size(), 1u);
    EXPECT_EQ(blocks[2].firstSampleUs, 22'000) << "after the gap, on the same grid";
    EXPECT_EQ(blocks[2].samples.size(), 3u);
    ASSERT_EQ(losses.size(), 1u);
    EXPECT_EQ(losses[0], (std::pair<std::size_t, std::uint64_t>{2, 6})) << "16 to 21 ms";
    for (const VibrationBlock& b : blocks) {
        for (std::size_t i = 0; i < b.samples.size(); ++i)
            EXPECT_NEAR(b.samples[i], b.sampleUs(i) / 1'000, 1e-4) << b.sampleUs(i);
    }
}

TEST(LptVibration, OnTheModelBlocksAreContiguousAtTheOfferedRateAndFollowTheInput)
{
    auto claims = std::make_shared<PortClaims>();
    LptVibrationInputProvider provider(modelPorts(), claims);
    VibrationError error;
    const auto caps = provider.capabilities(LptVibrationInput::sourceId(1), &error);
    ASSERT_TRUE(caps) << error.reason.toStdString();
    ASSERT_FALSE(caps->rates.empty());
    EXPECT_GE(provider.readRate(1), caps->rates.back()) << "offered only what the reads reach";
    EXPECT_EQ(claims->holder(1), std::nullopt) << "asking gives the port back";

    auto input = provider.create();
    const int rate = caps->rates.back();
    ASSERT_TRUE(input->open({LptVibrationInput::sourceId(1), rate, 0}, &error))
        << error.reason.toStdString();
    QSignalSpy ready(input.get(), &VibrationInput::blocksReady);
    std::vector<VibrationBlock> blocks;
    std::size_t samples = 0;
    for (int wait = 0; wait < 50 && samples < static_cast<std::size_t>(rate) * 3 / 10; ++wait) {
        ready.wait(100);
        for (VibrationBlock& b : input->takeBlocks()) {
            samples += b.samples.size();
            blocks.push_back(std::move(b));
        }
    }
    input->close();
    EXPECT_GT(static_cast<LptVibrationInput*>(input.get())->readRate(), rate);
    ASSERT_GE(samples, static_cast<std::size_t>(rate) * 3 / 10);

    const std::int64_t period = 1'000'000 / rate;
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const VibrationBlock& b = blocks[k];
        ASSERT_EQ(b.rate, rate);
        if (k > 0) {
            // Contiguous, or exactly as many grid points apart as were counted lost between.
            const VibrationBlock& a = blocks[k - 1];
            const std::int64_t end =
                a.firstSampleUs + static_cast<std::int64_t>(a.samples.size()) * period;
            EXPECT_EQ(b.firstSampleUs - end,
                      static_cast<std::int64_t>(b.lostBefore - a.lostBefore) * period)
                << "block " << k;
        }
        for (std::size_t i = 0; i < b.samples.size(); ++i) {
            const double code = inputVolts(b.sampleUs(i)) * 255 / 5;
            ASSERT_NEAR(b.samples[i], (code - 128) / 128, 1.0 / 128)
                << "block " << k << " sample " << i;
        }
    }
    EXPECT_LT(input->lostSamples(), samples / 2);
}

TEST(LptVibration, TheWindowAndTheInputNeverHoldAPortAtOnce)
{
    auto claims = std::make_shared<PortClaims>();
    LptVibrationInputProvider provider(modelPorts(), claims);
    ClaimedPortIo windowIo(modelPorts()(), claims, lptWindowHolder);
    ConverterReader reader;
    auto input = provider.create();
    VibrationError error;

    // The window reads LPT1 first: the input is refused LPT1 as busy, naming the window, but may
    // have LPT2.
    reader.citanieprevodnika(windowIo, QStringLiteral("LPT1"));
    EXPECT_FALSE(input->open({LptVibrationInput::sourceId(1), 1'000, 0}, &error));
    EXPECT_EQ(error.kind, VibrationError::Kind::Busy);
    EXPECT_TRUE(error.reason.contains(QStringLiteral("Meranie LPT"))) << error.reason.toStdString();
    EXPECT_TRUE(error.reason.contains(QStringLiteral("LPT1")));
    EXPECT_FALSE(provider.capabilities(LptVibrationInput::sourceId(1), &error));
    EXPECT_EQ(error.kind, VibrationError::Kind::Busy);
    ASSERT_TRUE(input->open({LptVibrationInput::sourceId(2), 1'000, 0}, &error));
    EXPECT_FALSE(provider.create()->open({LptVibrationInput::sourceId(2), 1'000, 0}, &error))
        << "nor may a second input";
    EXPECT_EQ(error.kind, VibrationError::Kind::Busy);

    // The window moves to LPT2 while the input reads it: the window says who holds it.
    QMdiArea area;
    Form1 form(windowIo);
    form.show(&area);
    const auto pick = [&](const char* port) {
        auto* combo = form.client()->findChild<QComboBox*>(QStringLiteral("port"));
        const int index = combo->findText(QString::fromLatin1(port));
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    };
    pick("LPT1");
    form.Timer1_Timer();
    EXPECT_EQ(form.portProblem(), QString());
    pick("LPT2");
    form.Timer1_Timer();
    EXPECT_TRUE(form.portProblem().contains(QStringLiteral("lpt:LPT2")))
        << form.portProblem().toStdString();
    EXPECT_EQ(claims->holder(2), LptVibrationInput::holderName(2));
    EXPECT_EQ(claims->holder(1), std::nullopt) << "the window gave LPT1 back on moving";

    // Closed, the input lets the window have the port.
    input->close();
    form.Timer1_Timer();
    EXPECT_EQ(form.portProblem(), QString());
    EXPECT_EQ(claims->holder(2), lptWindowHolder);
}

TEST(LptVibration, TheCombinedProviderOffersBothKindsAndRoutesEachSource)
{
    test::FakeClock clock(1'000);
    auto claims = std::make_shared<PortClaims>();
    CombinedVibrationInputProvider provider(
        {{QString(), std::make_shared<SimulatedVibrationInputProvider>(clock)},
         {QStringLiteral("lpt:"),
          std::make_shared<LptVibrationInputProvider>(modelPorts(), claims)}});
    const auto sources = provider.sources();
    ASSERT_GE(sources.size(), 3u);
    EXPECT_EQ(sources.front().id, SimulatedVibrationInput::sourceId(1)) << "sound first";
    EXPECT_EQ(sources[sources.size() - 2].id, QStringLiteral("lpt:LPT1"));
    EXPECT_EQ(sources.back().id, QStringLiteral("lpt:LPT2"));

    const auto sound = provider.capabilities(sources.front().id, nullptr);
    const auto converter = provider.capabilities(QStringLiteral("lpt:LPT1"), nullptr);
    ASSERT_TRUE(sound && converter);
    EXPECT_GE(sound->rates.front(), minVibrationRate);
    EXPECT_LE(converter->rates.back(), 8'000);

    auto input = provider.create();
    ASSERT_TRUE(input->open({sources.front().id, 48'000, 0}, nullptr));
    EXPECT_EQ(claims->holder(1), std::nullopt);
    ASSERT_TRUE(input->open({QStringLiteral("lpt:LPT1"), 1'000, 0}, nullptr));
    EXPECT_TRUE(input->isOpen());
    EXPECT_EQ(input->settings().source, QStringLiteral("lpt:LPT1"));
    EXPECT_TRUE(input->scale().known);
    EXPECT_EQ(claims->holder(1), LptVibrationInput::holderName(1));
    input->close();
    EXPECT_EQ(claims->holder(1), std::nullopt);
}

} // namespace
} // namespace diagnostika
