#include "signals.h"
#include "vibration/analysis/averager.h"
#include "vibration/analysis/peaks.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace diagnostika::vibration;
using namespace diagnostika::vibration::test;

namespace {

double db(double ratio)
{
    return 20 * std::log10(ratio);
}

} // namespace

TEST(Spectrum, ToneReadsItsFrequencyAndAmplitudeWhereverItFalls)
{
    struct Case {
        WindowKind window;
        AmplitudeScale scale;
        int lines;
        double offsetLines; // the tone's place between two lines
        double toleranceDb;
    };
    const std::vector<Case> cases = {
        {WindowKind::FlatTop, AmplitudeScale::Peak, 400, 0.0, 0.1},
        {WindowKind::FlatTop, AmplitudeScale::Rms, 1600, 0.25, 0.1},
        {WindowKind::FlatTop, AmplitudeScale::Peak, 25600, 0.5, 0.1},
        {WindowKind::FlatTop, AmplitudeScale::Rms, 3200, -0.37, 0.1},
        // Hann loses up to 1.42 dB between lines; the peak's correction brings it back.
        {WindowKind::Hann, AmplitudeScale::Peak, 800, 0.5, 0.1},
        {WindowKind::Hann, AmplitudeScale::Rms, 6400, 0.13, 0.1},
    };
    const double rate = 25600, amplitude = 3.0;
    for (const Case& c : cases) {
        SpectrumSettings s;
        s.sampleRate = rate;
        s.lines = c.lines;
        s.window = c.window;
        s.scale = c.scale;
        s.averages = 2;
        SpectrumAnalyzer analyzer(s);
        const double spacing = rate / static_cast<double>(analyzer.frameSize());
        const double hz = (c.lines / 3 + c.offsetLines) * spacing;
        const double duration = 3.0 * static_cast<double>(analyzer.frameSize()) / rate;
        ASSERT_GE(analyzer.add(tones(rate, duration, {{hz, amplitude}})), 1);
        const std::vector<SpectrumPeak> peaks = findPeaks(analyzer.spectrum());
        ASSERT_FALSE(peaks.empty());
        const SpectrumPeak& top = peaks.front();
        const double truth = c.scale == AmplitudeScale::Peak ? amplitude : amplitude / std::sqrt(2);
        const char* name = c.window == WindowKind::Hann ? "Hann" : "flat-top";
        EXPECT_LT(std::abs(top.frequency - hz), 0.5 * spacing) << name << " " << c.lines;
        EXPECT_LT(std::abs(db(top.amplitude / truth)), c.toleranceDb) << name << " " << c.lines;
        // Whatever the window, the line nearest the tone is the peak's own.
        EXPECT_EQ(top.line, static_cast<std::size_t>(std::lround(hz / spacing)));
    }
}

TEST(Spectrum, PeaksAreRankedAndTheMeanIsLineZero)
{
    SpectrumSettings s;
    s.sampleRate = 10240;
    s.lines = 1600; // 4 Hz lines
    s.window = WindowKind::FlatTop;
    s.scale = AmplitudeScale::Peak;
    s.averages = 1;
    SpectrumAnalyzer analyzer(s);
    // Three tones a shaft at 25 Hz would make (orders 1, 2 and 4.4), and an offset.
    const std::vector<Tone> components = {{25.0, 1.0}, {50.0, 4.0}, {110.0, 2.0}};
    ASSERT_EQ(analyzer.add(tones(10240, 0.4, components, 0.5)), 1);
    EXPECT_NEAR(analyzer.spectrum().amplitude[0], 0.5, 0.01);
    const std::vector<SpectrumPeak> peaks = findPeaks(analyzer.spectrum(), 3, 25.0);
    ASSERT_EQ(peaks.size(), 3u);
    const double orders[] = {2.0, 4.4, 1.0};
    const double amplitudes[] = {4.0, 2.0, 1.0};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(*peaks[i].order, orders[i], 0.02) << i;
        EXPECT_NEAR(peaks[i].amplitude, amplitudes[i], 0.012 * amplitudes[i]) << i;
    }
}

TEST(Spectrum, OverlapAndAveragingDecideWhenSpectraComeAndAnyBlockingGivesTheSame)
{
    struct Case {
        double overlap;
        Averaging averaging;
        int averages;
        int expected; // spectra from 10 frames' worth of samples (10 * 1024)
    };
    // Frames: 10 without overlap, 19 at 50 % (a hop of 512), 37 at 75 % (a hop of 256).
    const std::vector<Case> cases = {
        {0.0, Averaging::Linear, 4, 2},       {0.5, Averaging::Linear, 4, 4},
        {0.75, Averaging::Linear, 4, 9},      {0.5, Averaging::Exponential, 4, 19},
        {0.9, Averaging::Exponential, 1, 37}, // overlap beyond 75 % is held at 75 %
    };
    SpectrumSettings s;
    s.sampleRate = 2560;
    // Lines the instruments do not have become the next they do: 1,000 lines are 1,600.
    EXPECT_EQ(frameSizeForLines(1000), 0u);
    s.lines = 1000;
    EXPECT_EQ(SpectrumAnalyzer(s).frameSize(), 4096u);
    const std::vector<float> x = tones(2560, 4.0, {{300.0, 1.0}, {417.3, 0.2}});
    for (const Case& c : cases) {
        s.lines = 400;
        s.overlap = c.overlap;
        s.averaging = c.averaging;
        s.averages = c.averages;
        SpectrumAnalyzer whole(s), pieces(s);
        EXPECT_EQ(whole.add(x), c.expected) << c.overlap;
        int total = 0;
        for (std::size_t at = 0; at < x.size(); at += 333)
            total +=
                pieces.add(std::span(x).subspan(at, std::min<std::size_t>(333, x.size() - at)));
        EXPECT_EQ(total, c.expected) << c.overlap;
        ASSERT_EQ(whole.spectrum().amplitude.size(), 401u);
        for (std::size_t k = 0; k < 401; ++k)
            ASSERT_DOUBLE_EQ(whole.spectrum().amplitude[k], pieces.spectrum().amplitude[k]) << k;
    }
}

TEST(Spectrum, AveragesAreMeansOfPower)
{
    struct Case {
        Averaging averaging;
        int averages;
        std::vector<double> amplitudes; // of the tone, frame by frame
        double expected;                // the last spectrum's amplitude of the tone
    };
    const std::vector<Case> cases = {
        {Averaging::Linear, 4, {1, 2, 1, 2}, std::sqrt(2.5)},
        // Linear until `averages` frames are in, then each new frame weighs 1 / averages.
        {Averaging::Exponential, 2, {1, 1, 1, 3}, std::sqrt(5.0)},
        {Averaging::Exponential, 4, {2, 2, 2, 2, 2, 1}, std::sqrt(4 - 3.0 / 4)},
    };
    for (const Case& c : cases) {
        SpectrumSettings s;
        s.sampleRate = 1024;
        s.lines = 400;
        s.window = WindowKind::FlatTop;
        s.scale = AmplitudeScale::Peak;
        s.overlap = 0;
        s.averaging = c.averaging;
        s.averages = c.averages;
        SpectrumAnalyzer analyzer(s);
        for (const double a : c.amplitudes) // 100 Hz: whole periods in every 1-s frame
            analyzer.add(tones(1024, 1.0, {{100.0, a}}));
        EXPECT_NEAR(analyzer.spectrum().amplitude[100], c.expected, 1e-4) << c.averages;
    }
}
