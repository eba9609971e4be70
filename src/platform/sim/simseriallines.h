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
//
// Edge times: the millisecond stamps are those of a reader polling every millisecond, but a real
// port's watcher is woken by each change a few tens of microseconds after it. So the reader works
// out when each change truly happened (the box knows its shaft exactly) and stamps it that long
// after, with a wake-up delay drawn per edge (20 us plus an exponential tail of mean 12 us: median
// about 28 us, 99th percentile about 75 us). A change followed on its line by another before its
// wake would have been seen together with that one, so it is marked not timed. Stamps never go
// back, on a line or across lines: one watcher sees the changes one after another.
//
// The reader thread itself wakes only every `readEveryMs`, as the window takes edges no more often:
// waking a thread a thousand times a second costs more than the edges. Since the box knows when
// each change happened, each edge still gets the millisecond a 1 ms poller would have seen it at,
// the edges of one reading are handed over in the order they happened, and whoever needs every
// edge up to now (a timer tick, through deliverPending) has the box read at once.

#include "platform/edgebook.h"
#include "platform/edgequeue.h"
#include "platform/seriallines.h"
#include "platform/tickclock.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace diagnostika {

class SensorBox {
public:
    struct Sensor {
        double pulsesPerRevolution;
        double duty;  // the active part of each pulse period
        double phase; // in pulse periods, where the sensor stands at time 0
    };

    // A run-up or coast-down: the speed `fromSpeed` until `startMs`, then changing evenly to
    // `toSpeed` over `durationMs`, and `toSpeed` after. It takes the drift's place.
    struct Ramp {
        double fromSpeed = 0; // min^-1
        double toSpeed = 0;   // min^-1
        double startMs = 0;
        double durationMs = 0;
    };

    struct Machine {
        double meanSpeed; // min^-1
        double swing;     // min^-1, the drift's amplitude
        double periodMs;  // of the drift
        std::array<Sensor, lineCount> sensors;
        std::optional<Ramp> ramp = std::nullopt;
    };

    // The machine behind COM`commPort` (1 to 3).
    static Machine machineFor(int commPort);

    explicit SensorBox(const Machine& machine) : m_(machine) {}
    explicit SensorBox(int commPort) : SensorBox(machineFor(commPort)) {}

    // Shaft speed in min^-1, and revolutions turned since time 0, at `ms` on the tick clock.
    double speedAt(std::int64_t ms) const { return speedAtUs(static_cast<double>(ms) * 1e3); }
    double revolutionsAt(std::int64_t ms) const
    {
        return revolutionsAtUs(static_cast<double>(ms) * 1e3);
    }
    // The same at any moment, in microseconds on the tick clock's scale.
    double speedAtUs(double us) const;
    double revolutionsAtUs(double us) const;
    // When, within [fromUs, toUs], `line` made its change number `change` (counted as the
    // counters of sampleAt count them; the change must lie in that interval).
    double changeTimeUs(int line, std::int64_t change, double fromUs, double toUs) const;
    // Where on its pulse scale `line` stands at `us`.
    double positionAtUs(int line, double us) const;
    // The pulse position of change number `change` of `line`.
    double changePosition(int line, std::int64_t change) const;
    // The shaft's true mean speed in min^-1 over [fromMs, toMs]: what an ideal counter over that
    // interval would show. The speed at `fromMs` when the interval is empty.
    double meanSpeedBetween(std::int64_t fromMs, std::int64_t toMs) const;
    // The lines' change counters (counted from time 0) and levels at `ms`.
    LineSample sampleAt(std::int64_t ms) const;
    // Pulses (changes to inactive) `line` made between two moments: what a window counting that
    // line over the interval must have counted.
    std::int64_t pulsesBetween(std::int64_t fromMs, std::int64_t toMs, int line) const;

    const Sensor& sensor(int line) const { return m_.sensors[line]; }

    // Changes a sensor at pulse position `p` has made since position 0; exposed for the tests.
    static std::int64_t changesUpTo(double p, double duty);

private:
    Machine m_;
};

// Reads the box on a thread of its own, like the Linux watcher, and delivers its edges through the
// same queue to the owner's thread; or, for tests, only when poll() is called.
class SimulatedSerialLines final : public SerialLines {
    Q_OBJECT
public:
    // The poller the millisecond stamps model, and how often the reader thread reads the box.
    static constexpr int pollMs = 1;
    static constexpr int readEveryMs = EdgeQueue::minGapMs;

    enum class Reader { Thread, Manual };

    explicit SimulatedSerialLines(const TickClock& clock, Reader reader = Reader::Thread,
                                  QObject* parent = nullptr);
    // Stops reading; what is still queued is dropped, as nobody may be listening any more.
    ~SimulatedSerialLines() override;

    // Puts a different machine behind the next ports opened (benchmarks drive chosen rates).
    void setMachine(std::optional<SensorBox::Machine> machine) { machine_ = std::move(machine); }

    bool open(int commPort, SerialError* error) override;
    void close() override;
    void deliverPending() override;
    bool isOpen() const override { return box_ != nullptr; }
    int commPort() const override { return commPort_; }
    LineLevels levels() const override { return levels_; }
    CaptureMode captureMode() const override { return CaptureMode::Simulated; }
    std::optional<std::int64_t> seenUntilUs() const override
    {
        return isOpen() ? queue_.seenUntilUs() : std::nullopt;
    }
    // Every wake-up takes its least time and a tail: the tail's 99th percentile, rounded up.
    std::int64_t stampUncertaintyUs() const override { return 60; }

    // Reader::Manual: reads the box now and delivers the edges since the last reading.
    void poll();

    // Tick-clock times of the opening reading and of the latest one (for accounting in benches).
    std::int64_t openedAtMs() const { return openedAt_; }
    std::int64_t lastReadingMs() const { return lastReading_.load(); }
    // The box of the open port, or null.
    const SensorBox* box() const { return box_.get(); }

    // The wake-up delay after a change, in microseconds (see the header's note).
    static constexpr double wakeMinUs = 20.0;
    static constexpr double wakeTailUs = 12.0;

private:
    void read(); // the box into the queue
    // The microsecond stamps of one reading's edges, by the model in the header's note.
    void stampEdges(const std::vector<Edge>& edges, const LineSample& sample,
                    std::vector<LineEvent>& events);
    void stopReader();
    void deliverEdge(const LineEvent& event);

    const TickClock& clock_;
    const Reader reader_;
    std::optional<SensorBox::Machine> machine_;
    std::unique_ptr<SensorBox> box_;
    EdgeBook book_;
    EdgeQueue queue_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex readMutex_; // read() runs on the reader thread and, for deliverPending, the owner's
    int commPort_ = 0;
    // Counts the openings: a handler run while closing may open the port again, which the closing
    // must then leave alone (its reader runs on the new box).
    std::uint64_t session_ = 0;
    LineLevels levels_;
    std::int64_t openedAt_ = 0;
    std::atomic<std::int64_t> lastReading_{0};
    // The reader's own: the previous reading's counters and moment, the latest stamp per line.
    std::array<std::uint32_t, lineCount> readCounts_{};
    std::int64_t readAtMs_ = 0;
    std::array<std::int64_t, lineCount> lastStampUs_{};
    std::int64_t latestStampUs_ = 0, latestStampMs_ = 0; // of any line
    std::minstd_rand wakeRandom_;
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
