// The speed-trend window's CPU with an hour of points: the window opens, an hour of edges at 200
// pulses per second (720,000 per-pulse points) is fed to it through a serial window's speed input,
// then edges keep coming live at that rate for a while, with the whole hour shown and with the last
// 10 s shown. Reports the CPU the process used while live.
//
//   trend_window_cpu [seconds per case, default 5]
#include "benchsupport.h"
#include "trend/trendform.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>

using namespace diagnostika;

namespace {

// The monotonic clock moved by a settable offset, so that an hour can pass at once.
class ShiftedClock final : public TickClock {
public:
    std::int64_t milliseconds() const override { return offset + steady.elapsed(); }
    QElapsedTimer steady;
    std::int64_t offset = 0;
};

// Pulse k of a shaft at 200 pulses a second (3000 min^-1 with 4 pulses per revolution), its
// pulses slightly uneven so that the chart has something to draw.
std::int64_t pulseUs(std::int64_t k)
{
    const double t = static_cast<double>(k) / 200.0;
    return static_cast<std::int64_t>(std::llround((t + 0.002 * std::sin(t / 30.0)) * 1e6));
}

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    ShiftedClock clock;
    clock.steady.start();
    SpeedInput input;
    input.publishSettings({1, Line::CTS, 4.0, 1000, CaptureMode::Simulated});
    QMdiArea area;
    area.resize(900, 700);
    area.show();
    TrendForm trend(input, clock);
    trend.show(&area);
    auto* span = trend.client()->findChild<QComboBox*>(QStringLiteral("rozsah"));

    // An hour of pulses, at once.
    std::int64_t k = 0;
    const auto edge = [&](std::int64_t us, bool level) {
        input.publishEdge(LineEvent{comEvCTS, level, us / 1000, us, true});
    };
    const double loadCpu = bench::cpuSeconds();
    for (; pulseUs(k) < 3'600'000'000; ++k) {
        edge(pulseUs(k) - 1000, true);
        edge(pulseUs(k), false);
    }
    clock.offset += 3'600'000;
    std::printf("trend window: %lld pulses of an hour taken in %.0f ms of CPU\n",
                static_cast<long long>(k), (bench::cpuSeconds() - loadCpu) * 1e3);

    // Live: the pulses due by now, every 5 ms, as a serial window hands them over.
    QTimer live;
    QObject::connect(&live, &QTimer::timeout, [&] {
        const std::int64_t nowUs = clock.milliseconds() * 1000;
        for (; pulseUs(k) <= nowUs; ++k) {
            edge(pulseUs(k) - 1000, true);
            edge(pulseUs(k), false);
        }
    });
    live.start(5);
    for (const char* shown : {"všetko", "10 s"}) {
        span->setCurrentIndex(span->findText(QString::fromUtf8(shown)));
        const double cpu = bench::cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        const double percent =
            100.0 * (bench::cpuSeconds() - cpu) / (static_cast<double>(wall.nsecsElapsed()) * 1e-9);
        std::printf("trend window: live at 200 pulses/s with an hour of points, %s shown: %.1f %% "
                    "of a core\n",
                    shown, percent);
        bench::summary((std::string("trend window: CPU with an hour of points, ") +
                        (span->currentIndex() == 3 ? "all shown" : "last 10 s shown"))
                           .c_str(),
                       "< 5 % of a core", "%.1f %% of a core", percent);
    }
    trend.close();
    return 0;
}
