// Order analysis against shafts and signals known in closed form: a steady run-up's angle from its
// pulses, orders' amplitudes and phases through the resampling, the synchronous average, and a
// resonance's speed on a track.
#include "orders/analysis/orderanalysis.h"
#include "platform/alsa/capturestamps.h"
#include "shaftsignals.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace diagnostika::orders {
namespace {

using test::OrderTone;
using test::Ramp;

double phaseError(double a, double b)
{
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

// Every pulse edge of a ramp, with the inactive edges between them and every `untimedEvery`-th
// pulse not timed (0: all timed).
void feedPulses(Tachometer& tacho, const Ramp& ramp, double perRevolution, int untimedEvery)
{
    int k = 0;
    for (double us : test::pulseMoments(ramp, perRevolution)) {
        const bool timed = untimedEvery == 0 || ++k % untimedEvery != 0;
        tacho.addEdge(false, std::llround(us) - 100, true); // the other direction: not a pulse
        tacho.addEdge(true, std::llround(us), timed);
    }
}

TEST(Tachometer, PlacesEveryAngleOfASteadyRunUpFromItsPulses)
{
    struct Case {
        double perRevolution;
        int untimedEvery;
    };
    for (const Case c : {Case{1, 0}, Case{4, 0}, Case{4, 3}, Case{0.5, 0}}) {
        const Ramp ramp{600, 3000, 20, 0.3};
        Tachometer tacho(c.perRevolution);
        feedPulses(tacho, ramp, c.perRevolution, c.untimedEvery);
        const double reference =
            std::ceil(ramp.startRevolutions * c.perRevolution) / c.perRevolution;
        ASSERT_TRUE(tacho.referenceUs().has_value());
        EXPECT_NEAR(*tacho.referenceUs(), ramp.timeOf(reference) * 1e6, 1.0);
        // Between pulses, well inside the ramp: the moment within 3 us, the angle the inverse.
        for (double r = 3.1; r < 500; r += 7.37) {
            const std::optional<double> us = tacho.timeAt(r);
            ASSERT_TRUE(us.has_value()) << r;
            EXPECT_NEAR(*us, ramp.timeOf(r + reference) * 1e6, 3.0)
                << c.perRevolution << " at " << r;
            EXPECT_NEAR(*tacho.revolutionsAt(*us), r, 1e-6);
        }
        const double lastUs = *tacho.lastPulseUs();
        // The mean speed over the last whole revolution (two for a pulse every second one): the
        // speed at the middle of that span.
        const double span = std::ceil(c.perRevolution) / c.perRevolution;
        const double mid =
            0.5 * (lastUs * 1e-6 + ramp.timeOf(ramp.revolutionsAt(lastUs * 1e-6) - span));
        EXPECT_NEAR(*tacho.lastSpeed(), ramp.speedAt(mid), 0.5) << c.perRevolution;
        EXPECT_FALSE(tacho.timeAt(-1).has_value());
    }
}

struct TrackedRun {
    std::vector<OrderFrame> frames;
    OrderSpectrum spectrum;
    std::vector<float> average;
    double reference = 0; // revolutions of pulse 0
};

// The ramp's vibration (plus a 15 kHz tone that must not fold onto the orders) at 48 kHz in blocks
// of 10 ms, its pulses delivered as each block is: the tracker fed as a window feeds it.
TrackedRun track(const Ramp& ramp, double perRevolution, const std::vector<OrderTone>& tones,
                 const OrderSettings& settings)
{
    OrderTracker tracker(perRevolution, settings);
    const int rate = 48'000, block = 480;
    const std::vector<double> pulses = test::pulseMoments(ramp, perRevolution);
    std::size_t nextPulse = 0;
    TrackedRun run;
    std::vector<float> samples(block);
    for (std::int64_t first = 0; first + block <= static_cast<std::int64_t>(ramp.seconds * rate);
         first += block) {
        for (int i = 0; i < block; ++i) {
            const double s = static_cast<double>(first + i) / rate;
            samples[static_cast<std::size_t>(i)] =
                static_cast<float>(test::toneSum(tones, ramp.revolutionsAt(s)) +
                                   0.05 * std::sin(2 * std::numbers::pi * 15'000 * s));
        }
        const double endUs = static_cast<double>(first + block) * 1e6 / rate;
        for (; nextPulse < pulses.size() && pulses[nextPulse] < endUs; ++nextPulse)
            tracker.addEdge(true, std::llround(pulses[nextPulse]), true);
        tracker.addSamples(static_cast<double>(first) * 1e6 / rate, rate, samples);
        for (OrderFrame& f : tracker.update())
            run.frames.push_back(std::move(f));
    }
    EXPECT_EQ(tracker.breaks(), 0);
    std::int64_t firstIndex = 0;
    const std::span<const float> last = tracker.recent(32, &firstIndex);
    run.spectrum = orderSpectrum(last, settings.samplesPerRevolution, settings.maxOrder);
    run.average = synchronousAverage(last, settings.samplesPerRevolution);
    run.reference = std::ceil(ramp.startRevolutions * perRevolution) / perRevolution;
    return run;
}

TEST(OrderTracker, ReadsOrdersOfARunUpAtTheirTrueAmplitudeAndPhase)
{
    const std::vector<OrderTone> tones{{1, 0.5, 40}, {2, 0.3, 200}, {3.5, 0.2, 300}};
    OrderSettings settings;
    settings.trackedOrders = {1, 2, 3.5};
    for (const double p : {1.0, 4.0}) {
        const Ramp ramp{600, 3000, 20, 0.3};
        const TrackedRun run = track(ramp, p, tones, settings);
        // A frame every 4 revolutions over the run's ~600.
        ASSERT_GT(run.frames.size(), 130u) << p;
        double lastSpeed = 0;
        for (const OrderFrame& f : run.frames) {
            EXPECT_GT(f.speed, lastSpeed);
            lastSpeed = f.speed;
            const double truth = ramp.speedAt(0.5 * (f.startUs + f.endUs) * 1e-6);
            EXPECT_NEAR(f.speed, truth, 0.002 * truth);
            for (std::size_t i = 0; i < tones.size(); ++i) {
                const OrderTone& t = tones[i];
                EXPECT_NEAR(f.tracks[i].amplitude, t.amplitude, 0.005 * t.amplitude)
                    << "p " << p << " order " << t.order << " at " << f.speed;
                const double phase = t.phaseDeg - 360.0 * t.order * run.reference;
                EXPECT_LT(phaseError(f.tracks[i].phaseDeg, phase), 0.5)
                    << "p " << p << " order " << t.order << " at " << f.speed;
            }
        }
        // The order spectrum of the last 32 revolutions: each tone where it is, nothing from the
        // 15 kHz tone (order 300 to 1500 through the run) folded onto the orders shown.
        for (const OrderTone& t : tones) {
            const std::optional<OrderPoint> peak = peakNear(run.spectrum, t.order);
            ASSERT_TRUE(peak.has_value());
            EXPECT_NEAR(peak->order, t.order, 0.01);
            EXPECT_NEAR(peak->amplitude, t.amplitude, 0.01 * t.amplitude);
        }
        for (std::size_t k = 0; k < run.spectrum.amplitude.size(); ++k) {
            const double order = run.spectrum.order(k);
            bool nearTone = false;
            for (const OrderTone& t : tones)
                nearTone = nearTone || std::abs(order - t.order) < 0.1;
            if (!nearTone) {
                EXPECT_LT(run.spectrum.amplitude[k], 1e-3) << "order " << order;
            }
        }
        // The synchronous average of 32 revolutions keeps the whole orders and cancels 3.5x.
        ASSERT_EQ(run.average.size(), 256u);
        for (std::size_t i = 0; i < run.average.size(); i += 16) {
            const double angle = static_cast<double>(i) / 256 + run.reference;
            const double truth = test::toneSum({tones[0], tones[1]}, angle);
            EXPECT_NEAR(run.average[i], truth, 0.005) << i;
        }
    }
}

TEST(OrderTracker, GoesOnAfterTheShaftStopsAndStartsAgain)
{
    // 1200 min^-1 for 4 s, standing 3 s (no pulses), 1200 min^-1 again: no curve through the
    // pulses places the angle across the stop, but the frames after it are whole again.
    const auto revolutionsAt = [](double s) {
        return 20 * std::min(s, 4.0) + 20 * std::max(0.0, s - 7);
    };
    const std::vector<OrderTone> tones{{1, 0.5, 40}};
    OrderSettings settings;
    settings.trackedOrders = {1};
    OrderTracker tracker(1, settings);
    const int rate = 48'000, block = 480;
    std::vector<float> samples(block);
    std::vector<OrderFrame> frames;
    double nextRevolution = 1;
    for (std::int64_t first = 0; first < 12 * rate; first += block) {
        for (int i = 0; i < block; ++i)
            samples[static_cast<std::size_t>(i)] = static_cast<float>(
                test::toneSum(tones, revolutionsAt(static_cast<double>(first + i) / rate)));
        const double endS = static_cast<double>(first + block) / rate;
        for (; nextRevolution <= revolutionsAt(endS); ++nextRevolution) {
            const double s =
                nextRevolution <= 80 ? nextRevolution / 20 : 7 + (nextRevolution - 80) / 20;
            tracker.addEdge(true, std::llround(s * 1e6), true);
        }
        tracker.addSamples(static_cast<double>(first) * 1e6 / rate, rate, samples);
        for (OrderFrame& f : tracker.update())
            frames.push_back(std::move(f));
    }
    int after = 0;
    for (const OrderFrame& f : frames) {
        if (f.startUs < 7.2e6)
            continue;
        ++after;
        EXPECT_NEAR(f.speed, 1200, 1);
        EXPECT_NEAR(f.tracks[0].amplitude, 0.5, 0.005);
    }
    // 4.8 s at 20 revolutions a second, a frame every 4 (less the one the kernel still waits on).
    EXPECT_GE(after, 20);
}

TEST(OrderTracker, FollowsASoundCardsBlocksAsTheirStampsWanderButBreaksAtLostSamples)
{
    // 1500 min^-1, a pulse a revolution; blocks of 10 ms stamped as the ALSA input stamps them from
    // measurements that jitter by up to 0.4 ms. 10 ms of samples are lost at 6 s (an overrun).
    const std::vector<OrderTone> tones{{2, 0.2, 0}, {3.5, 0.1, 0}};
    OrderSettings settings;
    settings.trackedOrders = {2, 3.5};
    OrderTracker tracker(1, settings);
    const int rate = 48'000, block = 480;
    alsa::CaptureStamps stamps(rate);
    std::uint32_t noise = 1;
    std::vector<float> samples(block);
    std::vector<OrderFrame> frames;
    double nextRevolution = 1;
    for (std::int64_t first = 0; first < 10 * rate; first += block) {
        const bool lost = first == 6 * rate;
        if (lost)
            first += block;
        for (int i = 0; i < block; ++i)
            samples[static_cast<std::size_t>(i)] = static_cast<float>(
                test::toneSum(tones, 25.0 * static_cast<double>(first + i) / rate));
        const double endS = static_cast<double>(first + block) / rate;
        for (; nextRevolution <= 25.0 * endS; ++nextRevolution)
            tracker.addEdge(true, std::llround(nextRevolution / 25.0 * 1e6), true);
        noise = noise * 1'664'525u + 1'013'904'223u;
        const double jitterUs = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 800.0;
        const alsa::CaptureStamps::Block stamped =
            stamps.next(block, static_cast<double>(first) * 1e6 / rate + jitterUs, lost);
        tracker.addSamples(static_cast<double>(stamped.firstSampleUs), rate, samples);
        for (OrderFrame& f : tracker.update())
            frames.push_back(std::move(f));
    }
    EXPECT_EQ(tracker.breaks(), 1);
    ASSERT_GT(frames.size(), 40u);
    for (const OrderFrame& f : frames) {
        EXPECT_NEAR(f.speed, 1500, 1);
        for (std::size_t i = 0; i < tones.size(); ++i)
            EXPECT_NEAR(f.tracks[i].amplitude, tones[i].amplitude, 0.01 * tones[i].amplitude)
                << "order " << tones[i].order << " at " << f.startUs * 1e-6 << " s";
    }
}

TEST(OrderAnalysis, PeakBetweenLinesReadsTheComponentsOrderAndAmplitude)
{
    // 16 revolutions: lines 1/16 order apart; components on, a quarter off and half off a line.
    for (const double order : {5.0, 5.015625, 7.03125, 12.3}) {
        const int per = 256, revolutions = 16;
        std::vector<float> x(static_cast<std::size_t>(per * revolutions));
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = static_cast<float>(
                0.7 * std::sin(2 * std::numbers::pi * order * static_cast<double>(i) / per));
        const OrderSpectrum s = orderSpectrum(x, per, 40);
        EXPECT_DOUBLE_EQ(s.orderStep, 1.0 / 16);
        const std::optional<OrderPoint> p = peakNear(s, order);
        ASSERT_TRUE(p.has_value());
        EXPECT_NEAR(p->order, order, 0.003) << order;
        EXPECT_NEAR(p->amplitude, 0.7, 0.007) << order;
        EXPECT_NEAR(orderAt(x, 0, per, order).amplitude, 0.7, 0.007) << order;
    }
}

TEST(OrderAnalysis, TrackPeakFindsAResonancesSpeedBetweenFrames)
{
    // A single-degree-of-freedom resonance at 1800 min^-1, 5 % damping, sampled every 37 min^-1.
    std::vector<OrderFrame> frames;
    for (double speed = 600; speed <= 3000; speed += 37) {
        const double r = speed / 1800;
        OrderFrame f;
        f.speed = speed;
        f.tracks.push_back({1, 1 / std::hypot(1 - r * r, 2 * 0.05 * r), 0});
        frames.push_back(f);
    }
    const double truth = 1800 * std::sqrt(1 - 2 * 0.05 * 0.05);
    EXPECT_NEAR(*trackPeakSpeed(frames, 0), truth, 0.003 * truth);
    EXPECT_FALSE(trackPeakSpeed(frames, 1).has_value());
}

} // namespace
} // namespace diagnostika::orders
