#include "windowload.h"

#include "benchsupport.h"
#include "com/form2.h"
#include "common/feed.h"
#include "platform/sim/simseriallines.h"
#include "platform/tickclock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QTimer>
#include <chrono>
#include <string_view>
#include <thread>

namespace diagnostika::bench {

WindowLoad runSerialWindow(QMdiArea& area, double edgesPerSecond, int seconds,
                           const std::function<void(Form2&)>& beforeOpen,
                           const std::function<void()>& atStall,
                           const std::function<void()>& beforeClose)
{
    const MonotonicClock clock;
    SimulatedSerialLinesProvider serial(clock);
    Form2 form(serial, clock);
    form.show(&area);
    QWidget* client = form.client();

    // Each line's pulses per revolution give it a third of the rate (two edges per pulse).
    const double pulsesPerRevolution = edgesPerSecond / 3.0 / 2.0 / (1000.0 / 60.0);
    SensorBox::Machine machine{1000.0, 0.0, 60'000.0, {}};
    for (int line = 0; line < lineCount; ++line)
        machine.sensors[line] = {pulsesPerRevolution, 0.5, 0.1 * line};
    auto* lines = qobject_cast<SimulatedSerialLines*>(form.MSComm1());
    lines->setMachine(machine);

    // CTS feeds the speed (its count starts again at every Timer1 tick, which tells the count it
    // evaluated through the window's feed, so the ticks add it up here), DSR the displacement and
    // CD the angle, whose counts run on.
    WindowLoad r;
    QObject::connect(form.feed(), &Feed::reading, &form, [&](const FeedReading& reading) {
        if (std::string_view(reading.event) != "Timer1")
            return;
        for (const FeedValue& v : reading.values) {
            if (std::string_view(v.name) == "impulzycts")
                r.counted[index(Line::CTS)] += static_cast<std::int64_t>(v.value.value_or(0));
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
    if (beforeOpen)
        beforeOpen(form);

    QTimer stall;
    stall.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stall, &QTimer::timeout, [&] {
        if (atStall)
            atStall();
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    });

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

    r.counted[index(Line::CTS)] += form.impulzycts;
    r.counted[index(Line::DSR)] = form.impulzyposuvu;
    r.counted[index(Line::CD)] = form.impulzyuhla;
    const SensorBox box(machine);
    for (int line = 0; line < lineCount; ++line)
        r.made[line] = box.pulsesBetween(lines->openedAtMs(), lines->lastReadingMs(), line);
    if (beforeClose)
        beforeClose();
    form.close();
    return r;
}

} // namespace diagnostika::bench
