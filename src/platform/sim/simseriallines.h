#pragma once
// The simulated serial lines: a sensor box on a turning shaft, wired to COM1, COM2 and COM3.
//
// The shaft turns at a few hundred min^-1, its speed drifting slowly up and down. Three sensors
// switch the handshake lines: a speed sensor on CTS (4 pulses per revolution), a displacement
// sensor on DSR (one pulse every second revolution, through a feed gear) and an angle sensor on CD
// (on a slower output shaft). Each COM port has its own machine, turning at its own speed.
//
// The box behaves like a UART: it keeps a change counter and a level per line, and the port reads
// them and turns them into edges through the same EdgeBook as the Linux backend, so a busy UI
// thread batches edges but never loses one.

#include "platform/edgebook.h"
#include "platform/seriallines.h"
#include "platform/tickclock.h"

#include <QTimer>

namespace diagnostika {

class SensorBox {
public:
    struct Sensor {
        double pulsesPerRevolution;
        double duty;  // the active part of each pulse period
        double phase; // in pulse periods, where the sensor stands at time 0
    };

    // The machine behind COM`commPort` (1 to 3).
    explicit SensorBox(int commPort);

    // Shaft speed in min^-1, and revolutions turned since time 0, at `ms` on the tick clock.
    double speedAt(std::int64_t ms) const;
    double revolutionsAt(std::int64_t ms) const;
    // The lines' change counters (counted from time 0) and levels at `ms`.
    LineSample sampleAt(std::int64_t ms) const;

    const Sensor& sensor(int line) const { return sensors_[line]; }

    // Changes a sensor at pulse position `p` has made since position 0; exposed for the tests.
    static std::int64_t changesUpTo(double p, double duty);

private:
    double meanSpeed_;  // min^-1
    double swing_;      // min^-1, the drift's amplitude
    double periodMs_;   // of the drift
    std::array<Sensor, lineCount> sensors_;
};

class SimulatedSerialLines final : public SerialLines {
    Q_OBJECT
public:
    // How often the box is read while a port is open.
    static constexpr int pollMs = 2;

    explicit SimulatedSerialLines(const TickClock& clock, QObject* parent = nullptr);
    ~SimulatedSerialLines() override;

    bool open(int commPort, SerialError* error) override;
    void close() override;
    bool isOpen() const override { return box_ != nullptr; }
    int commPort() const override { return commPort_; }
    LineLevels levels() const override { return levels_; }
    CaptureMode captureMode() const override { return CaptureMode::Simulated; }

    // Reads the box now and delivers the edges since the last reading. The timer calls it; tests
    // call it directly after moving their clock.
    void poll();

private:
    const TickClock& clock_;
    std::unique_ptr<SensorBox> box_;
    EdgeBook book_;
    QTimer timer_;
    int commPort_ = 0;
    LineLevels levels_;
};

class SimulatedSerialLinesProvider final : public SerialLinesProvider {
public:
    explicit SimulatedSerialLinesProvider(const TickClock& clock) : clock_(clock) {}
    std::unique_ptr<SerialLines> create() override;
    QString devicePath(int commPort) const override;

private:
    const TickClock& clock_;
};

} // namespace diagnostika
