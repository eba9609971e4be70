// Edges through the whole serial path into the window, while its thread stalls: the simulated
// sensor box read on its own thread, the edge bookkeeping, the queue, MSComm1_OnComm and the
// readouts it writes. The window does its normal work meanwhile (its three timers tick, the speed
// is evaluated and the graph drawn), and its thread stalls for 250 ms in every second as a busy UI
// thread may. For each rate the pulses the sensors made while the port was open are compared with
// the pulses the window counted, line by line, and the CPU the process used is reported.
//
//   com_window_edges [seconds per rate, default 4]

#include "benchsupport.h"
#include "com/form2.h"
#include "platform/sim/simseriallines.h"
#include "platform/tickclock.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <thread>

using namespace diagnostika;
using bench::cpuSeconds;
using bench::pick;

namespace {

struct Result {
    std::int64_t made[lineCount] = {};
    std::int64_t counted[lineCount] = {};
    double cpuPercent = 0;
};

Result runAt(QMdiArea& area, double edgesPerSecond, int seconds)
{
    const MonotonicClock clock;
    SimulatedSerialLinesProvider serial(clock);
    Form2 form(serial, clock);
    form.show(&area);
    QWidget* client = form.client();

    // The rate spread evenly over CTS, DSR and CD at a steady 1000 min^-1, each line's pulses per
    // revolution giving its share (two edges per pulse).
    const double pulsesPerRevolution = edgesPerSecond / 3.0 / 2.0 / (1000.0 / 60.0);
    SensorBox::Machine machine{1000.0, 0.0, 60'000.0, {}};
    for (int line = 0; line < lineCount; ++line)
        machine.sensors[line] = {pulsesPerRevolution, 0.5, 0.1 * line};
    auto* lines = qobject_cast<SimulatedSerialLines*>(form.MSComm1());
    lines->setMachine(machine);

    // CTS feeds the speed (its count starts again at every Timer1 tick, which tells the count it
    // evaluated through the window's feed, so the ticks add it up here), DSR the displacement and
    // CD the angle, whose counts run on.
    Result r;
    QObject::connect(form.feed(), &Feed::reading, &form, [&](const FeedReading& reading) {
        if (std::string_view(reading.event) != "Timer1")
            return;
        for (const FeedValue& v : reading.values) {
            if (std::string_view(v.name) == "impulzycts")
                r.counted[lineCTS] += static_cast<std::int64_t>(v.value.value_or(0));
        }
    });
    for (const auto& [list, item] : {std::pair{"vstup", "CTS"},
                                     {"snimace", "4"},
                                     {"interval", "1s"},
                                     {"vstupposuvu", "DSR"},
                                     {"vstupuhla", "CD"},
                                     {"vstupintervalu", "CTS"},
                                     {"vstupfrekv", "CTS"}})
        pick(client, list, item);

    QTimer stall;
    stall.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stall, &QTimer::timeout,
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(250)); });

    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    pick(client, "port", "COM1");
    stall.start(1000);
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    stall.stop();
    lines->close(); // hands the last edges to the window
    const double wallSeconds = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    r.cpuPercent = 100.0 * (cpuSeconds() - cpuBefore) / wallSeconds;

    r.counted[lineCTS] += form.impulzycts;
    r.counted[lineDSR] = form.impulzyposuvu;
    r.counted[lineCD] = form.impulzyuhla;
    const SensorBox box(machine);
    for (int line = 0; line < lineCount; ++line)
        r.made[line] = box.pulsesBetween(lines->openedAtMs(), lines->lastReadingMs(), line);
    form.close();
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    QMdiArea area;
    area.resize(560, 340);
    area.show();

    std::printf("serial window: simulated box -> reader thread -> edge bookkeeping -> queue -> "
                "MSComm1_OnComm -> readouts, window thread stalled 250 ms each second, %d s per "
                "rate\n",
                seconds);
    std::printf("%10s %5s %10s %10s %9s %8s  %s\n", "edges/s", "line", "pulses", "counted",
                "counted", "CPU", "goal");
    const char* names[lineCount] = {"CTS", "DSR", "CD"};
    for (const double rate : {1'000.0, 10'000.0, 50'000.0}) {
        const Result r = runAt(area, rate, seconds);
        double worst = 100.0;
        for (int line = 0; line < lineCount; ++line) {
            const double share = r.made[line] ? 100.0 * static_cast<double>(r.counted[line]) /
                                                    static_cast<double>(r.made[line])
                                              : 0.0;
            worst = std::min(worst, share);
            std::printf("%10.0f %5s %10lld %10lld %8.2f%% ", rate, names[line],
                        static_cast<long long>(r.made[line]),
                        static_cast<long long>(r.counted[line]), share);
            if (line == 0)
                std::printf("%7.1f%%  100 %% counted\n", r.cpuPercent);
            else
                std::printf("\n");
        }
        const std::string measure = "serial window: pulses counted at " +
                                    std::to_string(static_cast<int>(rate)) +
                                    " edges/s, stalled 250 ms/s";
        bench::summary(measure.c_str(), "100 % on every line",
                       "%.2f %% on the worst line, %.1f %% CPU", worst, r.cpuPercent);
    }
    return 0;
}
