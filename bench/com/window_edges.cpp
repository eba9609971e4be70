// Edges through the whole serial path into the window, while its thread stalls: the simulated
// sensor box read on its own thread, the edge bookkeeping, the queue, MSComm1_OnComm and the
// readouts it writes. The window does its normal work meanwhile (its three timers tick, the speed
// is evaluated and the graph drawn), and its thread stalls for 250 ms in every second as a busy UI
// thread may. For each rate the pulses the sensors made while the port was open are compared with
// the pulses the window counted, line by line, and the CPU the process used is reported.
//
//   com_window_edges [seconds per rate, default 4]

#include "benchsupport.h"
#include "windowload.h"

#include <QApplication>
#include <QMdiArea>
#include <algorithm>
#include <cstdio>
#include <string>

using namespace diagnostika;

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
        const bench::WindowLoad r = bench::runSerialWindow(area, rate, seconds);
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
