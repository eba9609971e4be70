// The speed trend as a user watches it: the serial and trend windows together on the simulated
// shaft, the edges handed over in batches every 8 ms as the simulator's reader does, the machine
// busy now and then (no delivery for 40 to 120 ms), Timer1 fired on its own period, the trend
// refreshed every 50 ms and drawn when it decides, with the span "všetko". An hour of simulated
// time (the clock is moved by hand) at 100, 1,000 and 10,000 pulses/s; then, with that hour on the
// chart, the clock runs in real time for a while to time Timer1's ticks with the trend open, and
// again with it closed.
//
// Reports per rate: the trend's shown speed against the shaft's true speed (every second after the
// first two), the trend's CPU per simulated second over the first and the last minute of the hour
// (what it would cost live), and Timer1's period error with the trend open and closed.
//
//   trend_live [simulated minutes, default 60] [real seconds per Timer1 case, default 15]

#include "benchsupport.h"
#include "support/shaftwindows.h"
#include "trend/plotlibrary.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

using namespace diagnostika;
using bench::pick;

namespace {

// Moved by hand, until it is let run in real time from where it stands.
class HandThenLiveClock final : public TickClock {
public:
    std::int64_t milliseconds() const override { return live_ ? atMs_ + since_.elapsed() : atMs_; }
    void advance(std::int64_t ms) { atMs_ += ms; }
    void goLive()
    {
        live_ = true;
        since_.start();
    }

private:
    std::int64_t atMs_ = 1'000'000;
    bool live_ = false;
    QElapsedTimer since_;
};

// Timer1's ticks in real time for `seconds`: the mean and worst distance between ticks from the
// period, in ms. Edges keep coming every 8 ms meanwhile.
std::pair<double, double> timer1Error(Form2& form2, SimulatedSerialLines& lines, int seconds)
{
    QTimer* timer1 = test::ShaftWindows::timer(form2, "Timer1");
    QObject::disconnect(timer1, &QTimer::timeout, &form2, &Form2::Timer1_Timer);
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> ticks;
    const auto tick = QObject::connect(timer1, &QTimer::timeout, [&] {
        ticks.push_back(clock.nsecsElapsed());
        form2.Timer1_Timer();
    });
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, [&] { lines.poll(); });
    poll.start(8);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(tick);
    QObject::connect(timer1, &QTimer::timeout, &form2, &Form2::Timer1_Timer);
    double sum = 0, worst = 0;
    int n = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        const double e =
            std::abs(static_cast<double>(ticks[i] - ticks[i - 1]) / 1e6 - timer1->interval());
        sum += e;
        worst = std::max(worst, e);
        ++n;
    }
    return {n ? sum / n : 0.0, worst};
}

void run(double pulsesPerSecond, int minutes, int realSeconds)
{
    HandThenLiveClock clock;
    SensorBox::Machine machine = SensorBox::machineFor(1);
    machine.sensors[index(Line::CTS)].pulsesPerRevolution = 8;
    machine.meanSpeed = pulsesPerSecond * 60 / 8;
    machine.swing = 0;
    const double truth = machine.meanSpeed;
    test::ShaftWindows w(clock, machine, "8");
    Form2& form2 = w.form2;
    TrendForm& trend = w.trend;
    pick(trend.client(), "rozsah", "všetko");

    std::mt19937 random(7);
    std::uniform_int_distribution<int> stall(40, 120);
    QTimer* timer1 = test::ShaftWindows::timer(form2, "Timer1");
    std::int64_t nextTick = timer1->interval();
    std::int64_t stalledUntil = 0;
    double worst = 0, sum = 0;
    int shown = 0, missing = 0;
    double firstCpu = 0, lastCpu = 0;
    double replotCpu = 0, replotStart = 0;
    QObject::connect(trend.chart(), &QCustomPlot::beforeReplot,
                     [&] { replotStart = bench::threadCpuSeconds(); });
    QObject::connect(trend.chart(), &QCustomPlot::afterReplot,
                     [&] { replotCpu += bench::threadCpuSeconds() - replotStart; });
    const std::int64_t totalMs = std::int64_t{minutes} * 60'000;
    for (std::int64_t ms = 1; ms <= totalMs; ++ms) {
        clock.advance(1);
        // A busy machine: every ten seconds the deliveries stop for a while.
        if (ms % 10'000 == 5'000)
            stalledUntil = ms + stall(random);
        if (ms % 8 == 0 && ms >= stalledUntil)
            w.lines().poll();
        if (ms == nextTick) {
            form2.Timer1_Timer();
            nextTick += timer1->interval();
        }
        if (ms % TrendForm::redrawMs == 0) {
            // The trend's own work: its refresh, and the chart's redraw when it asked for one
            // (not the other windows' painting, which the same turn of the event loop does).
            double before = bench::threadCpuSeconds();
            trend.refresh();
            double spent = bench::threadCpuSeconds() - before;
            replotCpu = 0;
            QCoreApplication::processEvents();
            spent += replotCpu;
            if (ms <= 60'000)
                firstCpu += spent;
            else if (ms > totalMs - 60'000)
                lastCpu += spent;
        }
        if (ms % 1000 == 0 && ms > 2000) {
            ++shown;
            if (!trend.current()) {
                ++missing;
                continue;
            }
            const double e = std::abs(*trend.current() - truth) / truth;
            worst = std::max(worst, e);
            sum += e;
        }
    }
    const auto minuteMs = static_cast<double>(std::min<std::int64_t>(60'000, totalMs));
    std::printf("%6.0f pulses/s (%.0f min^-1, p = 8), %d simulated minutes, %lld per-pulse "
                "points, %lld windowed points\n",
                pulsesPerSecond, truth, minutes,
                static_cast<long long>(trend.perPulsePoints().count()),
                static_cast<long long>(trend.windowedPoints().count()));
    std::printf("  shown speed vs truth, every second: worst %.4f %%, mean %.5f %%, none shown "
                "%d of %d\n",
                100 * worst, 100 * sum / std::max(1, shown - missing), missing, shown);
    std::printf("  trend CPU per simulated second: first minute %.2f %%, last minute %.2f %%\n",
                100 * firstCpu * 1000 / minuteMs, 100 * lastCpu * 1000 / minuteMs);
    char measure[120];
    std::snprintf(measure, sizeof measure, "trend live, %.0f pulses/s: shown speed, worst error",
                  pulsesPerSecond);
    bench::summary(measure, "within 0.1 % every second", "%.4f %%", 100 * worst);
    std::snprintf(measure, sizeof measure,
                  "trend live, %.0f pulses/s, \"všetko\": CPU at start / after %d min",
                  pulsesPerSecond, minutes);
    bench::summary(measure, "equal within noise, < 5 %", "%.2f %% / %.2f %%",
                   100 * firstCpu * 1000 / minuteMs, 100 * lastCpu * 1000 / minuteMs);

    if (realSeconds <= 0)
        return;
    // Live: the windows' own timers, the hour on the chart.
    clock.goLive();
    for (const char* name : {"Timer1", "Timer2", "Timer3"})
        test::ShaftWindows::timer(form2, name)->start();
    test::ShaftWindows::timer(trend, "Timer1")->start();
    const auto open = timer1Error(form2, w.lines(), realSeconds);
    trend.close();
    const auto closed = timer1Error(form2, w.lines(), realSeconds);
    std::printf("  Timer1 period error in real time: trend open mean %.3f ms worst %.3f ms; "
                "closed mean %.3f ms worst %.3f ms\n",
                open.first, open.second, closed.first, closed.second);
    std::snprintf(measure, sizeof measure,
                  "trend live, %.0f pulses/s: Timer1 period error, trend open / closed (mean)",
                  pulsesPerSecond);
    bench::summary(measure, "mean < 1 ms, as closed", "%.3f ms / %.3f ms", open.first,
                   closed.first);
}

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    const int minutes = argc > 1 ? std::max(2, std::atoi(argv[1])) : 60;
    const int realSeconds = argc > 2 ? std::atoi(argv[2]) : 15;
    for (const double rate : {100.0, 1000.0, 10000.0})
        run(rate, minutes, realSeconds);
    return 0;
}
