#pragma once
// What both chart benchmarks share: an hour of per-pulse speeds at 200 pulses per second (720,000
// points), then 200 more points a second arriving live and the chart redrawn 20 times a second,
// with the whole hour shown and with the last 10 s shown. Reports the CPU the process used while
// live, and how long one redraw of the whole hour takes (what a zoom or a pan costs).

#include "benchsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace diagnostika::bench {

struct ChartDriver {
    std::function<void(const std::vector<double>& t, const std::vector<double>& v)> append;
    std::function<void(double from, double to)> setRange;
    std::function<void()> redraw;    // asks for a redraw as the window would (queued)
    std::function<void()> redrawNow; // draws at once, for timing one redraw
};

inline double speedAt(double t)
{
    // A shaft near 1000 min^-1 with a slow swing and a little jitter from pulse to pulse.
    return 1000.0 + 200.0 * std::sin(t * 2 * 3.14159265 / 600.0) + 3.0 * std::sin(t * 977.0);
}

inline void points(double from, double to, double rate, std::vector<double>& t,
                   std::vector<double>& v)
{
    t.clear();
    v.clear();
    for (double x = from; x < to; x += 1.0 / rate) {
        t.push_back(x);
        v.push_back(speedAt(x));
    }
}

inline int runChartBench(const char* library, ChartDriver& d, int seconds)
{
    constexpr double rate = 200.0; // pulses a second
    std::vector<double> t, v;
    // Times in CPU seconds of the process: the machine may be shared, and wall time would count
    // others' work.
    const double loadCpu = cpuSeconds();
    points(0, 3600, rate, t, v);
    d.append(t, v);
    d.setRange(0, 3600);
    d.redrawNow();
    std::printf("%s: %zu points loaded and drawn in %.0f ms of CPU\n", library, t.size(),
                (cpuSeconds() - loadCpu) * 1e3);

    std::vector<double> once;
    for (int i = 0; i < 5; ++i) {
        const double cpu = cpuSeconds();
        d.setRange(i * 10.0, 3600);
        d.redrawNow();
        once.push_back((cpuSeconds() - cpu) * 1e3);
    }
    std::sort(once.begin(), once.end());
    std::printf("%s: one redraw of the hour (a zoom or pan): median %.1f ms of CPU\n", library,
                once[2]);
    summary((std::string("trend chart (") + library + "): one redraw of 720,000 points").c_str(),
            "< 50 ms (responsive)", "%.1f ms", once[2]);

    for (const double span : {3600.0, 10.0}) {
        double now = 3600;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            points(now, now + 0.05, rate, t, v);
            now += 0.05;
            d.append(t, v);
            d.setRange(span > 3000 ? 0 : now - span, now);
            d.redraw();
        });
        const double cpu = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        tick.start(50);
        QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        tick.stop();
        const double percent =
            100.0 * (cpuSeconds() - cpu) / (static_cast<double>(wall.nsecsElapsed()) * 1e-9);
        std::printf("%s: live, 200 points/s, 20 redraws/s, %s shown: %.1f %% of a core\n", library,
                    span > 3000 ? "the whole hour" : "the last 10 s", percent);
        summary((std::string("trend chart (") + library + "): CPU with an hour of points, " +
                 (span > 3000 ? "all shown" : "last 10 s shown"))
                    .c_str(),
                "< 5 % of a core", "%.1f %% of a core", percent);
    }
    return 0;
}

} // namespace diagnostika::bench
