#include "simseriallines.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace diagnostika {

SensorBox::Machine SensorBox::machineFor(int commPort)
{
    // Three machines of one kind, each with its own speed, so that switching ports shows it.
    const int k = std::clamp(commPort, 1, 3) - 1;
    const double mean = 300.0 + 150.0 * k;
    return Machine{mean,
                   0.2 * mean,
                   90'000.0 + 30'000.0 * k,
                   {{
                       {4.0, 0.5, 0.10},  // CTS: speed, 4 marks per revolution
                       {0.5, 0.4, 0.30},  // DSR: displacement, one pulse every second revolution
                       {0.6, 0.25, 0.55}, // CD: angle, on the output shaft
                   }}};
}

double SensorBox::speedAt(std::int64_t ms) const
{
    const double t = static_cast<double>(ms);
    return m_.meanSpeed + m_.swing * std::sin(2.0 * std::numbers::pi * t / m_.periodMs);
}

double SensorBox::revolutionsAt(std::int64_t ms) const
{
    // The integral of speedAt over time, in revolutions (speed is per 60000 ms).
    const double t = static_cast<double>(ms);
    const double w = 2.0 * std::numbers::pi / m_.periodMs;
    return (m_.meanSpeed * t + m_.swing * (1.0 - std::cos(w * t)) / w) / 60'000.0;
}

double SensorBox::meanSpeedBetween(std::int64_t fromMs, std::int64_t toMs) const
{
    if (toMs == fromMs)
        return speedAt(fromMs);
    return (revolutionsAt(toMs) - revolutionsAt(fromMs)) * 60'000.0 /
           static_cast<double>(toMs - fromMs);
}

std::int64_t SensorBox::changesUpTo(double p, double duty)
{
    // Rises at every whole position, falls `duty` later; the sensor is active at position 0.
    return static_cast<std::int64_t>(std::floor(p)) +
           static_cast<std::int64_t>(std::floor(p - duty)) + 1;
}

LineSample SensorBox::sampleAt(std::int64_t ms) const
{
    const double revolutions = revolutionsAt(ms);
    LineSample s;
    s.atMs = ms;
    std::array<std::uint32_t, lineCount> counts{};
    for (int i = 0; i < lineCount; ++i) {
        const Sensor& sensor = m_.sensors[i];
        const double start = sensor.phase;
        const double p = start + revolutions * sensor.pulsesPerRevolution;
        counts[i] = static_cast<std::uint32_t>(changesUpTo(p, sensor.duty) -
                                               changesUpTo(start, sensor.duty));
        s.levels[i] = p - std::floor(p) < sensor.duty;
    }
    s.counts = counts;
    return s;
}

std::int64_t SensorBox::pulsesBetween(std::int64_t fromMs, std::int64_t toMs, int line) const
{
    // The changes alternate, so the falls are half of them, corrected by where the line started
    // and ended.
    const LineSample from = sampleAt(fromMs);
    const LineSample to = sampleAt(toMs);
    const std::int64_t changes =
        static_cast<std::uint32_t>((*to.counts)[line] - (*from.counts)[line]);
    return (changes + (from.levels[line] ? 1 : 0) - (to.levels[line] ? 1 : 0)) / 2;
}

SimulatedSerialLines::SimulatedSerialLines(const TickClock& clock, Reader reader, QObject* parent)
    : SerialLines(parent), clock_(clock), reader_(reader),
      queue_(
          this, [this](const LineEvent& e) { deliverEdge(e); }, [](const SerialError&) {})
{
}

SimulatedSerialLines::~SimulatedSerialLines()
{
    stopReader();
    queue_.clear();
}

bool SimulatedSerialLines::open(int commPort, SerialError* error)
{
    close();
    if (commPort < 1 || commPort > 3) {
        if (error) {
            error->kind = SerialError::Kind::Other;
            error->commPort = commPort;
            error->device = QStringLiteral("COM%1").arg(commPort);
            error->reason = QStringLiteral("simulovaná skrinka snímačov má len COM1 až COM3");
        }
        return false;
    }
    box_ = std::make_unique<SensorBox>(machine_ ? *machine_ : SensorBox::machineFor(commPort));
    commPort_ = commPort;
    ++session_;
    openedAt_ = clock_.milliseconds();
    lastReading_ = openedAt_;
    const LineSample now = box_->sampleAt(openedAt_);
    book_.start(now);
    levels_ = LineLevels{now.levels[lineCTS], now.levels[lineDSR], now.levels[lineCD]};
    if (reader_ == Reader::Thread) {
        stop_ = false;
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
                read();
            }
        });
    }
    return true;
}

void SimulatedSerialLines::close()
{
    if (!box_)
        return;
    stopReader();
    read(); // what happened up to the close is delivered, as with a real port
    const std::uint64_t session = session_;
    queue_.deliver();
    if (session != session_)
        return; // a handler opened the port again: that one stays open
    box_.reset();
    levels_ = LineLevels{};
}

void SimulatedSerialLines::stopReader()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void SimulatedSerialLines::read()
{
    const std::int64_t stamp = clock_.milliseconds();
    const std::vector<Edge> edges = book_.update(box_->sampleAt(stamp));
    lastReading_ = stamp;
    std::vector<LineEvent> events;
    events.reserve(edges.size());
    for (const Edge& edge : edges)
        events.push_back(LineEvent{commEventOf(edge.line), edge.level, stamp});
    queue_.post(std::move(events));
}

void SimulatedSerialLines::poll()
{
    if (!box_ || reader_ != Reader::Manual)
        return;
    read();
    queue_.deliver();
}

void SimulatedSerialLines::deliverEdge(const LineEvent& event)
{
    levels_.apply(event);
    Q_EMIT lineChanged(event);
}

std::unique_ptr<SerialLines> SimulatedSerialLinesProvider::create()
{
    return std::make_unique<SimulatedSerialLines>(clock_);
}

QString SimulatedSerialLinesProvider::devicePath(int commPort) const
{
    return QStringLiteral("simulovaný COM%1").arg(commPort);
}

} // namespace diagnostika
