// Two windows on one vibration input through the shared provider: both get every block, other
// settings are refused while the device is read, a reader that falls behind loses only its own.
#include "platform/sharedvibration.h"
#include "platform/sim/simvibration.h"
#include "support/fakeclock.h"

#include <gtest/gtest.h>

namespace diagnostika {
namespace {

std::vector<std::int64_t> starts(const std::vector<VibrationBlock>& blocks)
{
    std::vector<std::int64_t> us;
    for (const VibrationBlock& b : blocks)
        us.push_back(b.firstSampleUs);
    return us;
}

TEST(SharedVibrationInput, ReadersOfOneDeviceEachGetEveryBlockFromTheirJoining)
{
    test::FakeClock clock(5'000);
    SimulatedVibrationInputProvider devices(clock);
    SharedVibrationInputProvider shared(devices);
    const VibrationSettings settings{SimulatedVibrationInput::sourceId(1), 48'000, 0};
    std::unique_ptr<VibrationInput> a = shared.create();
    std::unique_ptr<VibrationInput> b = shared.create();
    ASSERT_TRUE(a->open(settings, nullptr));
    clock.advance(100);
    EXPECT_EQ(a->takeBlocks().size(), 10u);

    // Other settings while `a` reads: refused, `a` untouched; the same ones: joined.
    VibrationError error;
    EXPECT_FALSE(b->open({settings.source, 44'100, 0}, &error));
    EXPECT_EQ(error.kind, VibrationError::Kind::Busy);
    EXPECT_TRUE(error.reason.contains(QStringLiteral("48000 Hz")));
    ASSERT_TRUE(b->open(settings, nullptr));
    clock.advance(200);
    const std::vector<VibrationBlock> fromA = a->takeBlocks();
    const std::vector<VibrationBlock> fromB = b->takeBlocks();
    EXPECT_EQ(fromA.size(), 20u);
    EXPECT_EQ(starts(fromA), starts(fromB));
    EXPECT_EQ(fromA.back().samples, fromB.back().samples);

    // `b` stops taking for longer than its queue holds: it loses its oldest, `a` nothing.
    for (int step = 0; step < 60; ++step) {
        clock.advance(100);
        EXPECT_EQ(a->takeBlocks().size(), 10u);
    }
    const std::vector<VibrationBlock> late = b->takeBlocks();
    EXPECT_EQ(late.size(), static_cast<std::size_t>(SharedVibrationInputProvider::queueMs / 10));
    EXPECT_EQ(b->lostSamples(), 2'000u * 48u);
    EXPECT_EQ(late.front().lostBefore, b->lostSamples());
    EXPECT_EQ(a->lostSamples(), 0u);

    // The device stays open until its last reader leaves; then another rate may be had.
    a->close();
    EXPECT_TRUE(b->isOpen());
    b.reset();
    EXPECT_FALSE(a->isOpen());
    EXPECT_TRUE(a->open({settings.source, 44'100, 0}, nullptr));
    EXPECT_EQ(a->settings().rate, 44'100);
}

} // namespace
} // namespace diagnostika
