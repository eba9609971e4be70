// The precise speed against the simulated shaft's truth, beside the counting method: at steady
// speeds of 100, 300, 1000 and 3000 min^-1 and on a run-up and a coast-down (100 to 1900 min^-1 and
// back over 40 s, up to 140 min^-1 per second), with 1, 4 and 8 pulses per revolution. The
// simulated port stamps each edge a modelled wake-up after its true time; the speed unit turns the
// stamps into the speed over the last second, compared each second with the shaft's true speed at
// the middle of the span measured. The counting method is what the serial window shows at "1s":
// the pulses of the last second times 60 / p, compared with the true speed at the middle of that
// second. Also reports the stamps' own spread: how late after the true edge each timed edge is
// stamped.
//
//   speed_precise_accuracy
#include "benchsupport.h"
#include "com/serialformulas.h"
#include "platform/sim/simseriallines.h"
#include "speed/precisespeed.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace diagnostika;

namespace {

class SetClock final : public TickClock {
public:
    std::int64_t milliseconds() const override { return now; }
    std::int64_t now = 0;
};

struct Worst {
    double precise = 0; // relative
    double counted = 0;
};

// Runs the shaft from `fromMs` to `toMs` on the tick clock and compares once a second.
Worst run(const SensorBox::Machine& machine, double p, std::int64_t fromMs, std::int64_t toMs,
          std::vector<double>* delays)
{
    SetClock clock;
    clock.now = fromMs;
    SimulatedSerialLines lines(clock, SimulatedSerialLines::Reader::Manual);
    lines.setMachine(machine);
    speed::PreciseSpeed precise(p);
    const SensorBox box(machine);
    const com::SpeedInterval second = *com::intervalOfText(u"1s");
    std::int64_t counted = 0;
    std::int64_t changes = 0;
    QObject::connect(&lines, &SerialLines::lineChanged, [&](const LineEvent& e) {
        if (e.commEvent != comEvCTS)
            return;
        ++changes;
        if (delays && e.timed) {
            const double at = static_cast<double>(e.stampMs) * 1e3;
            delays->push_back(static_cast<double>(e.stampUs) -
                              box.changeTimeUs(index(Line::CTS), changes, at - 1e3, at));
        }
        if (e.level)
            return;
        ++counted;
        precise.addPulse(e.stampUs, e.timed);
    });
    lines.open(1, nullptr);
    changes = (*box.sampleAt(fromMs).counts)[index(Line::CTS)];
    Worst w;
    for (std::int64_t ms = fromMs + 1; ms <= toMs; ++ms) {
        clock.now = ms;
        lines.poll();
        if ((ms - fromMs) % 1000 != 0)
            continue;
        // The first seconds only fill the window.
        if (ms - fromMs > 2000) {
            const std::int64_t nowUs = ms * 1000;
            if (const auto v = precise.windowed(nowUs)) {
                const double truth =
                    box.speedAtUs(static_cast<double>(*precise.windowMiddleUs(nowUs)));
                w.precise = std::max(w.precise, std::abs(*v - truth) / truth);
            }
            const double shown = com::speed(counted, second, p);
            const double truth = box.speedAtUs(static_cast<double>(ms) * 1e3 - 5e5);
            w.counted = std::max(w.counted, std::abs(shown - truth) / truth);
        }
        counted = 0;
    }
    return w;
}

SensorBox::Machine machine(double meanSpeed, double swing, double p)
{
    SensorBox::Machine m = SensorBox::machineFor(1);
    m.meanSpeed = meanSpeed;
    m.swing = swing;
    m.periodMs = 40'000;
    m.sensors[index(Line::CTS)] = {p, 0.5, 0.1};
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("precise speed (over the last second, from the stamps) against the counting "
                "method (pulses of the last second), worst error against the true speed\n");
    std::printf("%-22s %3s %16s %16s\n", "shaft", "p", "precise", "counting");
    Worst steady, ramps;
    std::vector<double> delays;
    for (const double n : {100.0, 300.0, 1000.0, 3000.0}) {
        for (const double p : {1.0, 4.0, 8.0}) {
            const Worst w =
                run(machine(n, 0, p), p, 0, 12'000, n == 1000.0 && p == 4.0 ? &delays : nullptr);
            std::printf("%-18.0f min^-1 %3.0f %15.4f%% %15.2f%%\n", n, p, 100 * w.precise,
                        100 * w.counted);
            steady.precise = std::max(steady.precise, w.precise);
            steady.counted = std::max(steady.counted, w.counted);
        }
    }
    // The swing from 100 min^-1 at 30 s: run-up to 1900 at 50 s, coast-down to 100 at 70 s.
    for (const auto& [name, from, to] : {std::tuple{"run-up 100 -> 1900", 30'000, 50'000},
                                         std::tuple{"coast-down 1900 -> 100", 50'000, 70'000}}) {
        for (const double p : {1.0, 4.0, 8.0}) {
            const Worst w = run(machine(1000, 900, p), p, from, to, nullptr);
            std::printf("%-22s %3.0f %15.4f%% %15.2f%%\n", name, p, 100 * w.precise,
                        100 * w.counted);
            ramps.precise = std::max(ramps.precise, w.precise);
            ramps.counted = std::max(ramps.counted, w.counted);
        }
    }
    bench::summary("precise speed vs truth, steady 100-3000 min^-1, p = 1, 4, 8",
                   "within 0.1 % (counting: one pulse per second)",
                   "%.4f %% worst (counting %.1f %%)", 100 * steady.precise, 100 * steady.counted);
    bench::summary("precise speed vs truth, run-up and coast-down, p = 1, 4, 8", "within 1 %",
                   "%.3f %% worst (counting %.1f %%)", 100 * ramps.precise, 100 * ramps.counted);

    std::sort(delays.begin(), delays.end());
    const auto at = [&](double q) {
        return delays[std::min(delays.size() - 1,
                               static_cast<std::size_t>(q * static_cast<double>(delays.size())))];
    };
    std::printf("stamp delay after the true edge, simulator, %zu timed edges: median %.1f us, "
                "p99 %.1f us, max %.1f us\n",
                delays.size(), at(0.5), at(0.99), delays.back());
    bench::summary("timing floor: stamp after true edge, simulator", "tens of us (a 16550 wake)",
                   "median %.0f us, p99 %.0f us", at(0.5), at(0.99));
    return 0;
}
