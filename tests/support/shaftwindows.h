#pragma once
// The serial and speed-trend windows together on a simulated shaft, for tests and benchmarks that
// drive them on a hand-set clock: the port is read only when the caller polls, and the windows'
// timers are stopped so that the caller fires their handlers when their periods say.

#include "com/form2.h"
#include "platform/sim/simseriallines.h"
#include "trend/trendform.h"

#include <QComboBox>
#include <QMdiArea>
#include <QTimer>
#include <memory>

namespace diagnostika::test {

class PolledShaftProvider final : public SerialLinesProvider {
public:
    PolledShaftProvider(const TickClock& clock, SensorBox::Machine machine)
        : clock_(clock), machine_(machine)
    {
    }
    std::unique_ptr<SerialLines> create() override
    {
        auto lines =
            std::make_unique<SimulatedSerialLines>(clock_, SimulatedSerialLines::Reader::Manual);
        lines->setMachine(machine_);
        created = lines.get();
        return lines;
    }
    QString devicePath(int commPort) const override
    {
        return QStringLiteral("COM%1").arg(commPort);
    }
    SimulatedSerialLines* created = nullptr;

private:
    const TickClock& clock_;
    SensorBox::Machine machine_;
};

struct ShaftWindows {
    // Opens both windows and picks COM1, CTS, `pulsesPerRevolution` and "1s" in the serial window.
    ShaftWindows(const TickClock& clock, const SensorBox::Machine& machine,
                 const char* pulsesPerRevolution)
        : provider(clock, machine), form2(provider, clock), trend(*form2.speedInput(), clock)
    {
        area.resize(1000, 800);
        area.show();
        form2.show(&area);
        trend.show(&area);
        for (const char* name : {"Timer1", "Timer2", "Timer3"})
            timer(form2, name)->stop();
        timer(trend, "Timer1")->stop();
        for (const auto& [list, item] : {std::pair{"vstup", "CTS"},
                                         {"snimace", pulsesPerRevolution},
                                         {"interval", "1s"},
                                         {"port", "COM1"}})
            pick(form2, list, item);
    }
    ~ShaftWindows()
    {
        trend.close();
        form2.close();
    }
    ShaftWindows(const ShaftWindows&) = delete;
    ShaftWindows& operator=(const ShaftWindows&) = delete;

    static QTimer* timer(MeasurementForm& form, const char* name)
    {
        return form.client()->findChild<QTimer*>(QString::fromLatin1(name));
    }
    // Picks `item` in the list as the user does.
    static void pick(MeasurementForm& form, const char* list, const char* item)
    {
        auto* combo = form.client()->findChild<QComboBox*>(QString::fromLatin1(list));
        const int index = combo->findText(QString::fromUtf8(item));
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    }
    SimulatedSerialLines& lines() const { return *provider.created; }

    PolledShaftProvider provider;
    QMdiArea area;
    Form2 form2;
    TrendForm trend;
};

} // namespace diagnostika::test
