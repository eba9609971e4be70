#pragma once
// The serial window under load, shared by the benchmarks that drive it: the simulated sensor box
// makes edges at a given rate, spread evenly over CTS, DSR and CD at a steady 1000 min^-1, while
// the window does its normal work (its three timers tick, the speed is evaluated, the graph drawn)
// and its thread stalls for 250 ms in every second as a busy UI thread may. The pulses the sensors
// made while the port was open are compared with those the window counted, line by line.

#include "platform/edgebook.h"

#include <cstdint>
#include <functional>

class QMdiArea;

namespace diagnostika {
class Form2;
}

namespace diagnostika::bench {

struct WindowLoad {
    std::int64_t made[lineCount] = {};
    std::int64_t counted[lineCount] = {};
    double cpuPercent = 0; // the whole process, over the run
};

// Runs the window at `edgesPerSecond` for `seconds`. `beforeOpen` is called with the window shown
// and set up, before its port opens; `atStall` at each stall, before the thread sleeps;
// `beforeClose` once the port is closed and every edge counted, before the window closes.
WindowLoad runSerialWindow(QMdiArea& area, double edgesPerSecond, int seconds,
                           const std::function<void(Form2&)>& beforeOpen = {},
                           const std::function<void()>& atStall = {},
                           const std::function<void()>& beforeClose = {});

} // namespace diagnostika::bench
