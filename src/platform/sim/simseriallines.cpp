#include "simseriallines.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace diagnostika {

SensorBox::SensorBox(int commPort)
{
    // Three machines of one kind, each with its own speed, so that switching ports shows it.
    const int k = std::clamp(commPort, 1, 3) - 1;
    meanSpeed_ = 300.0 + 150.0 * k;
    swing_ = 0.2 * meanSpeed_;
    periodMs_ = 90'000.0 + 30'000.0 * k;
    sensors_ = {{
        {4.0, 0.5, 0.10},   // CTS: speed, 4 marks per revolution
        {0.5, 0.4, 0.30},   // DSR: displacement, one pulse every second revolution
        {0.6, 0.25, 0.55},  // CD: angle, on the output shaft
    }};
}

double SensorBox::speedAt(std::int64_t ms) const
{
    const double t = static_cast<double>(ms);
    return meanSpeed_ + swing_ * std::sin(2.0 * std::numbers::pi * t / periodMs_);
}

double SensorBox::revolutionsAt(std::int64_t ms) const
{
    // The integral of speedAt over time, in revolutions (speed is per 60000 ms).
    const double t = static_cast<double>(ms);
    const double w = 2.0 * std::numbers::pi / periodMs_;
    return (meanSpeed_ * t + swing_ * (1.0 - std::cos(w * t)) / w) / 60'000.0;
}

std::int64_t SensorBox::changesUpTo(double p, double duty)
{
    // Rises at every whole position, falls `duty` later; the sensor is active at position 0.
    return static_cast<std::int64_t>(std::floor(p)) + static_cast<std::int64_t>(std::floor(p - duty)) +
           1;
}

LineSample SensorBox::sampleAt(std::int64_t ms) const
{
    const double revolutions = revolutionsAt(ms);
    LineSample s;
    std::array<std::uint32_t, lineCount> counts{};
    for (int i = 0; i < lineCount; ++i) {
        const Sensor& sensor = sensors_[i];
        const double start = sensor.phase;
        const double p = start + revolutions * sensor.pulsesPerRevolution;
        counts[i] = static_cast<std::uint32_t>(changesUpTo(p, sensor.duty) -
                                               changesUpTo(start, sensor.duty));
        s.levels[i] = p - std::floor(p) < sensor.duty;
    }
    s.counts = counts;
    return s;
}

SimulatedSerialLines::SimulatedSerialLines(const TickClock& clock, QObject* parent)
    : SerialLines(parent), clock_(clock)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(pollMs);
    connect(&timer_, &QTimer::timeout, this, &SimulatedSerialLines::poll);
}

SimulatedSerialLines::~SimulatedSerialLines() = default;

bool SimulatedSerialLines::open(int commPort, SerialError* error)
{
    close();
    if (commPort < 1 || commPort > 3) {
        if (error) {
            error->kind = SerialError::Kind::Other;
            error->commPort = commPort;
            error->device = QStringLiteral("COM%1").arg(commPort);
            error->reason = QStringLiteral("the simulated sensor box has COM1 to COM3 only");
        }
        return false;
    }
    box_ = std::make_unique<SensorBox>(commPort);
    commPort_ = commPort;
    const LineSample now = box_->sampleAt(clock_.milliseconds());
    book_.start(now);
    levels_ = LineLevels{now.levels[lineCTS], now.levels[lineDSR], now.levels[lineCD]};
    timer_.start();
    return true;
}

void SimulatedSerialLines::close()
{
    if (!box_)
        return;
    poll(); // what happened up to the close is delivered, as with a real port
    timer_.stop();
    box_.reset();
    levels_ = LineLevels{};
}

void SimulatedSerialLines::poll()
{
    if (!box_)
        return;
    const std::int64_t stamp = clock_.milliseconds();
    for (const Edge& edge : book_.update(box_->sampleAt(stamp))) {
        if (edge.line == lineCTS)
            levels_.cts = edge.level;
        else if (edge.line == lineDSR)
            levels_.dsr = edge.level;
        else
            levels_.cd = edge.level;
        Q_EMIT lineChanged(LineEvent{commEventOf(edge.line), edge.level, stamp});
        if (!box_)
            return; // a handler closed the port
    }
}

std::unique_ptr<SerialLines> SimulatedSerialLinesProvider::create()
{
    return std::make_unique<SimulatedSerialLines>(clock_);
}

QString SimulatedSerialLinesProvider::devicePath(int commPort) const
{
    return QStringLiteral("simulated COM%1").arg(commPort);
}

} // namespace diagnostika
