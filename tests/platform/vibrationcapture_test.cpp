// The ALSA input's pieces that need no device: sample conversion, block stamps and overrun
// accounting, and the bounded buffer between the capture thread and the owner.
#include "platform/alsa/capturestamps.h"
#include "platform/alsa/sampleformat.h"
#include "platform/vibrationbuffer.h"

#include <gtest/gtest.h>

using namespace diagnostika;
using namespace diagnostika::alsa;

namespace {

std::vector<std::byte> bytes(std::initializer_list<int> values)
{
    std::vector<std::byte> out;
    for (int v : values)
        out.push_back(static_cast<std::byte>(v));
    return out;
}

struct FormatCase {
    SampleFormat format;
    std::vector<std::byte> sample; // one sample, little-endian
    float expected;
};

TEST(SampleFormat, EachFormatMapsItsFullScaleToOne)
{
    const FormatCase cases[] = {
        {SampleFormat::S16_LE, bytes({0x00, 0x80}), -1.0f},
        {SampleFormat::S16_LE, bytes({0xff, 0x7f}), 32767.0f / 32768},
        {SampleFormat::S16_LE, bytes({0x00, 0xc0}), -0.5f},
        {SampleFormat::S16_LE, bytes({0x01, 0x00}), 1.0f / 32768},
        {SampleFormat::S24_3LE, bytes({0x00, 0x00, 0x80}), -1.0f},
        {SampleFormat::S24_3LE, bytes({0x00, 0x00, 0x40}), 0.5f},
        {SampleFormat::S24_3LE, bytes({0xff, 0xff, 0xff}), -1.0f / 8388608},
        // The top byte of S24_LE's container is padding, whatever it holds.
        {SampleFormat::S24_LE, bytes({0x00, 0x00, 0x80, 0x00}), -1.0f},
        {SampleFormat::S24_LE, bytes({0x00, 0x00, 0x40, 0xff}), 0.5f},
        {SampleFormat::S24_LE, bytes({0xff, 0xff, 0xff, 0xff}), -1.0f / 8388608},
        {SampleFormat::S32_LE, bytes({0x00, 0x00, 0x00, 0x80}), -1.0f},
        {SampleFormat::S32_LE, bytes({0x00, 0x00, 0x00, 0x20}), 0.25f},
        {SampleFormat::FLOAT_LE, bytes({0x00, 0x00, 0x40, 0xbf}), -0.75f},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(formatName(c.format));
        ASSERT_EQ(c.sample.size(), bytesPerSample(c.format));
        float out = 99.0f;
        toFloat(c.sample.data(), c.format, 1, 0, 1, &out);
        EXPECT_FLOAT_EQ(out, c.expected);
    }
}

TEST(SampleFormat, TakesOnlyTheChosenChannelOfInterleavedFrames)
{
    // Three channels of S24_3LE, two frames: channel 1 holds 0.5 and -0.5.
    const auto data = bytes({0, 0, 0x10, 0, 0, 0x40, 0, 0, 0x20, //
                             0, 0, 0x30, 0, 0, 0xc0, 0, 0, 0x50});
    float out[2] = {};
    toFloat(data.data(), SampleFormat::S24_3LE, 3, 1, 2, out);
    EXPECT_FLOAT_EQ(out[0], 0.5f);
    EXPECT_FLOAT_EQ(out[1], -0.5f);
}

TEST(CaptureStamps, JitteryMeasurementsGiveContiguousStampsThatFollowTheCardsClock)
{
    const int rate = 48'000;
    const std::size_t frames = 480; // 10 ms
    CaptureStamps stamps(rate);
    // The card runs 50 ppm fast against the monotonic clock; each measurement jitters +-300 us.
    const double jitter[] = {300, -300, 120, -50, 0, 250, -280};
    std::int64_t previous = 0;
    double cardUs = 1e9;
    for (int i = 0; i < 2000; ++i) {
        const auto b = stamps.next(frames, cardUs + jitter[i % 7], false);
        EXPECT_EQ(b.lostBefore, 0u);
        if (i > 0) {
            EXPECT_NEAR(static_cast<double>(b.firstSampleUs - previous), 10'000.0,
                        CaptureStamps::maxStepUs + 1);
        }
        previous = b.firstSampleUs;
        cardUs += 10'000.0 * (1.0 - 50e-6);
    }
    // After 20 s the stamps have followed the drift (1 ms) and settled within the jitter.
    EXPECT_NEAR(static_cast<double>(previous), cardUs - 10'000.0 * (1.0 - 50e-6), 60.0);
}

TEST(CaptureStamps, AnOverrunCountsTheSamplesInItsGapAndStampsFromTheMeasurement)
{
    struct Case {
        double gapUs; // from where the next sample was due to the first one after the restart
        std::uint64_t lost;
    };
    const Case cases[] = {{250'000.0, 12'000}, {20.8, 1}, {0.0, 1}, {1'000'000.0 / 3, 16'000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gapUs);
        CaptureStamps stamps(48'000);
        stamps.next(480, 0.0, false);
        const auto before = stamps.next(480, 10'000.0, false);
        EXPECT_EQ(before.lostBefore, 0u);
        const auto after = stamps.next(480, 20'000.0 + c.gapUs, true);
        EXPECT_EQ(after.lostBefore, c.lost);
        EXPECT_EQ(after.firstSampleUs, std::llround(20'000.0 + c.gapUs));
    }
}

TEST(VibrationBuffer, WhatDoesNotFitIsCountedAndTheNextBlockCarriesTheCount)
{
    VibrationBuffer buffer(1000);
    auto block = [](std::size_t n, std::int64_t us) {
        VibrationBlock b;
        b.samples.assign(n, 0.1f);
        b.firstSampleUs = us;
        b.rate = 1000;
        return b;
    };
    EXPECT_TRUE(buffer.push(block(600, 0))) << "the first block wakes the owner";
    EXPECT_FALSE(buffer.push(block(300, 600'000))) << "one wake-up until the owner takes";
    EXPECT_FALSE(buffer.push(block(300, 900'000))); // does not fit
    buffer.addLost(50);                             // the device overran
    auto taken = buffer.take();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[1].lostBefore, 0u);
    EXPECT_TRUE(buffer.push(block(100, 1'250'000)));
    taken = buffer.take();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].lostBefore, 350u);
    EXPECT_EQ(buffer.lost(), 350u);
}

} // namespace
