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

double SensorBox::speedAtUs(double us) const
{
    const double t = us * 1e-3;
    if (m_.ramp) {
        const Ramp& r = *m_.ramp;
        const double f = r.durationMs > 0 ? std::clamp((t - r.startMs) / r.durationMs, 0.0, 1.0)
                                          : (t < r.startMs ? 0.0 : 1.0);
        return r.fromSpeed + (r.toSpeed - r.fromSpeed) * f;
    }
    return m_.meanSpeed + m_.swing * std::sin(2.0 * std::numbers::pi * t / m_.periodMs);
}

double SensorBox::revolutionsAtUs(double us) const
{
    // The integral of the speed over time, in revolutions (speed is per 60000 ms).
    const double t = us * 1e-3;
    if (m_.ramp) {
        // Steady before, a trapezoid during, steady after.
        const Ramp& r = *m_.ramp;
        const double before = std::min(t, r.startMs);
        const double during = std::clamp(t - r.startMs, 0.0, r.durationMs);
        const double after = std::max(0.0, t - r.startMs - r.durationMs);
        const double rise = r.durationMs > 0 ? (r.toSpeed - r.fromSpeed) / r.durationMs : 0.0;
        return (r.fromSpeed * before + r.fromSpeed * during + 0.5 * rise * during * during +
                r.toSpeed * after) /
               60'000.0;
    }
    const double w = 2.0 * std::numbers::pi / m_.periodMs;
    return (m_.meanSpeed * t + m_.swing * (1.0 - std::cos(w * t)) / w) / 60'000.0;
}

double SensorBox::positionAtUs(int line, double us) const
{
    const Sensor& sensor = m_.sensors[line];
    return sensor.phase + revolutionsAtUs(us) * sensor.pulsesPerRevolution;
}

double SensorBox::changePosition(int line, std::int64_t change) const
{
    // Rises at whole positions bring the count since position 0 to an even number, falls (duty
    // later) to an odd one.
    const Sensor& sensor = m_.sensors[line];
    const std::int64_t k = change + changesUpTo(sensor.phase, sensor.duty);
    const std::int64_t whole = k >= 0 ? k / 2 : -((1 - k) / 2);
    return static_cast<double>(whole) + (k - 2 * whole == 1 ? sensor.duty : 0.0);
}

double SensorBox::changeTimeUs(int line, std::int64_t change, double fromUs, double toUs) const
{
    // Newton's method on the position from the start of the bracket, kept inside it by bisection
    // where it strays (a shaft turning slowly gives a flat position).
    const double target = changePosition(line, change);
    const double perUs = m_.sensors[line].pulsesPerRevolution / 60e6; // position per (min^-1 us)
    double lo = fromUs, hi = toUs, t = fromUs;
    for (int i = 0; i < 60 && hi - lo > 1e-3; ++i) {
        const double f = positionAtUs(line, t) - target;
        if (f < 0)
            lo = t;
        else
            hi = t;
        const double slope = speedAtUs(t) * perUs;
        double next = slope > 0 ? t - f / slope : 0.5 * (lo + hi);
        if (!(next > lo && next < hi))
            next = 0.5 * (lo + hi);
        if (std::abs(next - t) < 1e-4)
            return next;
        t = next;
    }
    return t;
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
    readCounts_ = *now.counts;
    readAtMs_ = openedAt_;
    lastStampUs_.fill(openedAt_ * 1000);
    latestStampUs_ = openedAt_ * 1000;
    latestStampMs_ = openedAt_;
    wakeRandom_.seed(static_cast<unsigned>(commPort));
    levels_ = LineLevels{now.levels[index(Line::CTS)], now.levels[index(Line::DSR)],
                         now.levels[index(Line::CD)]};
    if (reader_ == Reader::Thread) {
        stop_ = false;
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(readEveryMs));
                const std::lock_guard<std::mutex> guard(readMutex_);
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

void SimulatedSerialLines::deliverPending()
{
    if (box_ && reader_ == Reader::Thread) {
        const std::lock_guard<std::mutex> guard(readMutex_);
        read();
    }
    queue_.deliver();
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
    const LineSample sample = box_->sampleAt(stamp);
    const std::vector<Edge> edges = book_.update(sample);
    lastReading_ = stamp;
    std::vector<LineEvent> events;
    events.reserve(edges.size());
    for (const Edge& edge : edges)
        events.push_back(LineEvent{commEventOf(edge.line), edge.level, stamp});
    stampEdges(edges, sample, events);
    // The book lists a reading's edges line by line; they are handed over as they happened. One
    // watcher sees them one after another: no stamp is earlier than the one before it, whatever
    // the line.
    std::stable_sort(events.begin(), events.end(),
                     [](const LineEvent& a, const LineEvent& b) { return a.stampUs < b.stampUs; });
    for (LineEvent& event : events) {
        event.stampUs = std::max(event.stampUs, latestStampUs_);
        event.stampMs = std::max(event.stampMs, latestStampMs_);
        latestStampUs_ = event.stampUs;
        latestStampMs_ = event.stampMs;
    }
    queue_.post(std::move(events), stamp * 1000);
}

void SimulatedSerialLines::stampEdges(const std::vector<Edge>& edges, const LineSample& sample,
                                      std::vector<LineEvent>& events)
{
    // Within one reading period (a few milliseconds) the shaft's speed is as good as constant, so
    // each line's position is taken as linear between the two readings: a change's time and the
    // position at its wake follow without solving for each edge. After a longer gap (a stalled
    // reader) each change is solved for on its own.
    const double fromUs = static_cast<double>(readAtMs_) * 1e3;
    const double toUs = static_cast<double>(sample.atMs) * 1e3;
    const bool nearlyLinear = toUs - fromUs <= 2e3 * readEveryMs;
    std::array<double, lineCount> startPos{}, perUs{};
    std::array<std::uint32_t, lineCount> seen{}, delta{};
    for (int i = 0; i < lineCount; ++i) {
        delta[i] = (*sample.counts)[i] - readCounts_[i];
        if (delta[i] == 0)
            continue;
        startPos[i] = box_->positionAtUs(i, fromUs);
        perUs[i] =
            toUs > fromUs ? (box_->positionAtUs(i, toUs) - startPos[i]) / (toUs - fromUs) : 0.0;
    }
    std::exponential_distribution<double> tail(1.0 / wakeTailUs);
    for (std::size_t e = 0; e < edges.size(); ++e) {
        const int line = index(edges[e].line);
        LineEvent& event = events[e];
        const std::int64_t change = static_cast<std::int64_t>(readCounts_[line]) + (++seen[line]);
        if (seen[line] > delta[line] || perUs[line] <= 0) {
            // Not a counted change (never so here): the reading's time, not timed.
            event.stampUs = std::max(sample.atMs * 1000, lastStampUs_[line]);
            lastStampUs_[line] = event.stampUs;
            continue;
        }
        const double position = box_->changePosition(line, change);
        double at = fromUs + (position - startPos[line]) / perUs[line];
        double rate = perUs[line];
        if (!nearlyLinear) {
            at = box_->changeTimeUs(line, change, fromUs, toUs);
            rate = box_->speedAtUs(at) * box_->sensor(line).pulsesPerRevolution / 60e6;
        }
        const double delay = wakeMinUs + tail(wakeRandom_);
        // Seen on its own only if its line made no further change before the wake.
        event.timed = position + delay * rate < box_->changePosition(line, change + 1);
        event.stampUs =
            std::max(static_cast<std::int64_t>(std::llround(at + delay)), lastStampUs_[line]);
        lastStampUs_[line] = event.stampUs;
        // The thread reads seldom; its stamps are those of a poller reading every millisecond.
        // Manual readings are the test's own polls, each stamped when it is made.
        if (reader_ == Reader::Thread)
            event.stampMs = std::clamp<std::int64_t>(
                static_cast<std::int64_t>(std::ceil(at / (1e3 * pollMs))) * pollMs, readAtMs_,
                sample.atMs);
    }
    readCounts_ = *sample.counts;
    readAtMs_ = sample.atMs;
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
