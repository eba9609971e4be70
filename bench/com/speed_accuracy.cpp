// How close the serial window's shown speed comes to the shaft's true speed. The window runs on the
// simulated sensor box in real time, as with --simulate: the reader thread, the edge bookkeeping
// and queue, Timer1 at "1s" with CTS as the speed input and 4 pulses per revolution, and the other
// two timers doing their work. On every Timer1 tick the shown speed (read back from "otacky") is
// held against the shaft's mean speed over the same interval, and the pulses the window counted
// against those the sensor made.
//
// Prints per-interval figures and a summary over 25 intervals of 1 s. Runs about 30 s.

#include "benchsupport.h"
#include "com/form2.h"
#include "common/numbertext.h"
#include "platform/sim/simseriallines.h"
#include "platform/tickclock.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QMdiArea>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace diagnostika;
using bench::pick;

namespace {

struct Interval {
    std::int64_t fromMs, toMs;
    double shown;         // min^-1, as read back from the window
    double truth;         // the shaft's mean speed over the interval
    std::int64_t counted; // CTS pulses the window counted
    std::int64_t made;    // CTS pulses the sensor made
};

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));

    constexpr int intervals = 25;
    constexpr int pulsesPerRevolution = 4;
    const double pulseWorth = 60.0 / pulsesPerRevolution;

    MonotonicClock clock;
    SimulatedSerialLinesProvider serial(clock);
    QMdiArea area;
    area.resize(560, 340);
    area.show();
    Form2 form(serial, clock);
    form.show(&area);
    QWidget* client = form.client();
    pick(client, "port", "COM1");
    auto* lines = qobject_cast<SimulatedSerialLines*>(form.MSComm1());
    if (!lines || !lines->isOpen()) {
        std::fprintf(stderr, "the simulated COM1 did not open\n");
        return 1;
    }
    const SensorBox box = *lines->box();
    for (const auto& [list, item] : {std::pair{"vstup", "CTS"},
                                     {"snimace", "4"},
                                     {"vstupposuvu", "DSR"},
                                     {"vstupuhla", "CD"},
                                     {"vstupintervalu", "CTS"},
                                     {"vstupfrekv", "CTS"},
                                     {"interval", "1s"}})
        pick(client, list, item);

    // The recorder takes Timer1's place: it notes the moment and the count the handler is about
    // to evaluate, runs the handler, and reads back what it showed.
    auto* timer1 = client->findChild<QTimer*>(QStringLiteral("Timer1"));
    auto* otacky = client->findChild<QLabel*>(QStringLiteral("otacky"));
    QObject::disconnect(timer1, &QTimer::timeout, &form, &Form2::Timer1_Timer);
    std::vector<Interval> seen;
    std::int64_t previous = -1;
    QEventLoop loop;
    QObject::connect(timer1, &QTimer::timeout, [&] {
        const std::int64_t now = clock.milliseconds();
        // The handler first takes the edges seen before the tick; so does the recorder.
        form.MSComm1()->deliverPending();
        const std::int64_t counted = form.impulzycts;
        form.Timer1_Timer();
        // The first tick only starts counting over whole seconds.
        if (previous >= 0) {
            const QString text = otacky->text();
            const double shown = text == QLocale().decimalPoint()
                                     ? 0.0
                                     : readNumber(text, QLocale()).value_or(std::nan(""));
            seen.push_back({previous, now, shown, box.meanSpeedBetween(previous, now), counted,
                            box.pulsesBetween(previous, now, index(Line::CTS))});
        }
        previous = now;
        if (static_cast<int>(seen.size()) == intervals)
            loop.quit();
    });
    timer1->start(1000);
    loop.exec();

    std::printf("%9s %9s %12s %12s %10s %8s %6s\n", "from ms", "length", "shown", "true", "error",
                "counted", "made");
    double meanAbs = 0, worst = 0;
    std::int64_t counted = 0, made = 0;
    int within = 0;
    for (const Interval& i : seen) {
        const double error = i.shown - i.truth;
        std::printf("%9lld %6lld ms %8.2f min^-1 %8.2f %+10.2f %8lld %6lld\n",
                    static_cast<long long>(i.fromMs - seen.front().fromMs),
                    static_cast<long long>(i.toMs - i.fromMs), i.shown, i.truth, error,
                    static_cast<long long>(i.counted), static_cast<long long>(i.made));
        meanAbs += std::abs(error);
        worst = std::max(worst, std::abs(error));
        within += std::abs(error) <= pulseWorth ? 1 : 0;
        counted += i.counted;
        made += i.made;
    }
    meanAbs /= static_cast<double>(seen.size());
    std::printf("\nshown speed against the shaft, %d intervals of \"1s\", p = %d "
                "(one pulse's worth = %.0f min^-1)\n",
                intervals, pulsesPerRevolution, pulseWorth);
    std::printf("  mean |error| %.2f min^-1, worst %.2f min^-1; %d of %d within one pulse's worth "
                "(goal: all)\n",
                meanAbs, worst, within, intervals);
    std::printf("  CTS pulses counted %lld, made by the sensor %lld (the edges in flight at the "
                "ticks move between neighbouring intervals)\n",
                static_cast<long long>(counted), static_cast<long long>(made));
    bench::summary("serial window: shown speed vs the shaft, 25 s at \"1s\", p = 4",
                   "every one within 15 min^-1", "worst %.1f min^-1, %d of %d within", worst,
                   within, intervals);
    bench::summary("serial window: CTS pulses counted vs made, same run", "equal", "%lld of %lld",
                   static_cast<long long>(counted), static_cast<long long>(made));
    return 0;
}
