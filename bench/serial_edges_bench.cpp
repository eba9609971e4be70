// Edges through the serial-lines path while the UI thread is busy: a simulated sensor box read on
// its own thread, the edge bookkeeping, the queue to the owner's thread, and lineChanged there.
// The owner's thread stalls for 250 ms in every second, as a UI thread may. For each rate, the
// edges the box made up to the last reading are compared with the edges delivered, and the CPU
// the process used is reported.
//
//   serial_edges_bench [seconds per rate, default 4]
//
// The window's handler is not part of this path; whatever it costs comes on top.

#include "benchsupport.h"
#include "platform/sim/simseriallines.h"
#include "platform/tickclock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

using namespace diagnostika;
using bench::cpuSeconds;

namespace {

struct Result {
    double edgesPerSecond = 0;
    std::uint64_t generated = 0;
    std::uint64_t delivered = 0;
    std::uint64_t notAlternating = 0;
    double cpuPercent = 0;
    std::int64_t worstLatencyMs = 0;
};

Result runAt(double edgesPerSecond, int seconds)
{
    const MonotonicClock clock;
    SimulatedSerialLines lines(clock);
    // The rate spread evenly over CTS, DSR and CD, at a steady speed: 1000 min^-1, so each line's
    // pulses per revolution give its share (two edges per pulse).
    const double revolutionsPerSecond = 1000.0 / 60.0;
    const double pulsesPerRevolution = edgesPerSecond / 3.0 / 2.0 / revolutionsPerSecond;
    SensorBox::Machine machine{1000.0, 0.0, 60'000.0, {}};
    for (int line = 0; line < lineCount; ++line)
        machine.sensors[line] = {pulsesPerRevolution, 0.5, 0.1 * line};
    lines.setMachine(machine);

    Result r;
    r.edgesPerSecond = edgesPerSecond;
    bool level[6] = {};
    std::uint64_t perLine[6] = {};
    QObject::connect(&lines, &SerialLines::lineChanged, [&](LineEvent e) {
        if (perLine[e.commEvent] > 0 && level[e.commEvent] == e.level)
            ++r.notAlternating;
        level[e.commEvent] = e.level;
        ++perLine[e.commEvent];
        ++r.delivered;
        r.worstLatencyMs = std::max(r.worstLatencyMs, clock.milliseconds() - e.stampMs);
    });

    QTimer stall;
    stall.setTimerType(Qt::PreciseTimer);
    stall.setInterval(1000);
    QObject::connect(&stall, &QTimer::timeout,
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(250)); });

    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    lines.open(1, nullptr);
    stall.start();
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    stall.stop();
    lines.close(); // delivers the rest
    const double wallSeconds = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    r.cpuPercent = 100.0 * (cpuSeconds() - cpuBefore) / wallSeconds;

    const SensorBox box(machine);
    const LineSample first = box.sampleAt(lines.openedAtMs());
    const LineSample last = box.sampleAt(lines.lastReadingMs());
    for (int line = 0; line < lineCount; ++line)
        r.generated += (*last.counts)[line] - (*first.counts)[line];
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    std::printf("serial edges: simulated box -> watcher thread -> edge bookkeeping -> queue -> "
                "lineChanged on a thread stalled 250 ms each second, %d s per rate\n",
                seconds);
    std::printf("%10s %12s %12s %9s %8s %12s %6s  %s\n", "edges/s", "generated", "delivered",
                "counted", "CPU", "worst delay", "order", "goal");
    for (const double rate : {1'000.0, 10'000.0, 50'000.0}) {
        const Result r = runAt(rate, seconds);
        const double counted = r.generated ? 100.0 * static_cast<double>(r.delivered) /
                                                 static_cast<double>(r.generated)
                                           : 0.0;
        std::printf("%10.0f %12llu %12llu %8.2f%% %7.1f%% %10lld ms %6s  100 %% counted\n",
                    r.edgesPerSecond, static_cast<unsigned long long>(r.generated),
                    static_cast<unsigned long long>(r.delivered), counted, r.cpuPercent,
                    static_cast<long long>(r.worstLatencyMs), r.notAlternating ? "BAD" : "ok");
        const std::string measure = "serial lines: edges delivered at " +
                                    std::to_string(static_cast<int>(r.edgesPerSecond)) +
                                    "/s, stalled 250 ms/s";
        bench::summary(measure.c_str(), "100 %, in order", "%.2f %%%s, %.1f %% CPU", counted,
                       r.notAlternating ? " OUT OF ORDER" : "", r.cpuPercent);
    }
    return 0;
}
