#pragma once
// The vibration input: one channel of a sound input that an accelerometer (through its conditioner)
// is wired to, delivered as blocks of samples.
//
// A `VibrationInput` belongs to the thread that created it (the UI thread); every method is called
// there and every signal is emitted there. Once opened, the capture runs on a thread of its own and
// keeps what it has captured in a bounded buffer; the owner takes it with takeBlocks(). Samples
// that do not fit (the owner took nothing for too long) or that the device itself dropped (an
// overrun) are counted in lostSamples() and in each block's `lostBefore`: never skipped silently,
// and a block after a loss starts at its own time, so the gap shows in the stamps too.
//
// Why a pull and not one queued signal per block: a queued signal's event queue has no bound, so a
// busy UI thread would make the buffer grow without limit. Here the buffer is the only store and it
// is bounded; `blocksReady` is only a wake-up, at most one outstanding at a time, so a slow owner
// costs one event however far behind it is. A window may as well ignore the signal and take blocks
// on its own timer.

#include <QMetaType>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace diagnostika {

// Standard gravity, for turning g into m/s^2.
inline constexpr double standardGravity = 9.80665;

// The rates a source may be opened at lie in this range (Hz).
inline constexpr int minVibrationRate = 8'000;
inline constexpr int maxVibrationRate = 96'000;
// The common rates inside it, in the order sources are asked about them.
inline constexpr int commonVibrationRates[] = {8'000,  11'025, 16'000, 22'050, 32'000,
                                               44'100, 48'000, 88'200, 96'000};

// How a sample (-1..1 of the input's full scale) becomes an acceleration: the input's full scale in
// volts and the sensor's sensitivity. `known` is false where the program cannot know them (a sound
// card's full scale depends on its gain): the defaults are a starting point for the user to set.
struct VibrationScale {
    double fullScaleVolts = 1.0;  // the voltage that gives a sample of 1.0
    double sensorVoltsPerG = 0.1; // 100 mV/g, the usual industrial accelerometer
    bool known = false;

    double metresPerSecond2(double sample) const
    {
        return sample * fullScaleVolts / sensorVoltsPerG * standardGravity;
    }
    double sampleOf(double metresPerSecond2) const
    {
        return metresPerSecond2 / standardGravity * sensorVoltsPerG / fullScaleVolts;
    }
};

// A source the input can open, as listed for the user.
struct VibrationSource {
    QString id;   // what open() takes: "hw:CARD=PCH,DEV=0", "plughw:...", "default", "sim:COM1"
    QString name; // for people, e.g. "HDA Intel PCH: ALC892 Analog (hw)"
};

// What a source offers; asking may open the device briefly.
struct VibrationCapabilities {
    std::vector<int> rates; // those of commonVibrationRates it can run at, ascending
    int channels = 0;       // channels 0 .. channels-1 may be chosen
    QString format;         // the sample format it will deliver in, e.g. "S24_3LE"
    VibrationScale scale;
};

struct VibrationSettings {
    QString source; // a VibrationSource::id
    int rate = 48'000;
    int channel = 0;
};

struct VibrationBlock {
    // CLOCK_MONOTONIC microseconds of the first sample: the scale of LineEvent::stampUs.
    std::int64_t firstSampleUs = 0;
    int rate = 0;
    // The samples lost since the input was opened, up to this block's first sample.
    std::uint64_t lostBefore = 0;
    std::vector<float> samples; // -1..1 of full scale

    // When sample `i` was taken, in microseconds (fractional).
    double sampleUs(std::size_t i) const
    {
        return static_cast<double>(firstSampleUs) + static_cast<double>(i) * 1e6 / rate;
    }
};

// Why opening failed, or why an open input was lost.
struct VibrationError {
    enum class Kind {
        Busy,  // another program holds the device
        Other, // no such device, no permission, rate or channel not offered, ...
        Gone,  // the device went away while open (a USB sound card unplugged)
    };
    Kind kind = Kind::Other;
    QString device; // the source id, e.g. hw:CARD=Device,DEV=0
    QString reason; // the system's reason, e.g. snd_strerror()
};

class VibrationInput : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~VibrationInput() override = default;

    // Opens `settings.source` at `settings.rate` and starts capturing `settings.channel`. An input
    // that is open is closed first; blocks not yet taken are dropped and the lost count restarts.
    // Returns false and fills `error` (may be null) when it fails; the input then stays closed.
    virtual bool open(const VibrationSettings& settings, VibrationError* error) = 0;
    // Stops the capture; the thread has ended when this returns. Blocks captured up to then stay
    // available to takeBlocks(). Harmless when closed.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // What was opened last (the rate as running).
    virtual VibrationSettings settings() const = 0;
    virtual VibrationScale scale() const = 0;

    // Hands over, oldest first, every block captured so far. Consecutive blocks are contiguous
    // unless samples were lost between them (lostBefore grows) or the device's clock was
    // re-measured; a block's first-sample time never goes back.
    virtual std::vector<VibrationBlock> takeBlocks() = 0;
    // Samples lost since the last open().
    virtual std::uint64_t lostSamples() const = 0;

Q_SIGNALS:
    // Blocks are waiting; emitted again only after a takeBlocks().
    void blocksReady();
    // The open device went away or failed for good; the input is closed now, and what was captured
    // before is still in takeBlocks() (blocksReady came first). Emitted once per loss.
    void inputLost(diagnostika::VibrationError error);
};

// Lists sources and makes inputs. The backend factory picks the implementation.
class VibrationInputProvider {
public:
    virtual ~VibrationInputProvider() = default;
    // The sources present now; the one to offer first comes first.
    virtual std::vector<VibrationSource> sources() = 0;
    // What `source` offers; none, with `error` filled (may be null), when it cannot be asked.
    virtual std::optional<VibrationCapabilities> capabilities(const QString& source,
                                                              VibrationError* error) = 0;
    virtual std::unique_ptr<VibrationInput> create() = 0;
    // The rate `source` is read at now by another window, where a second can only join it at
    // that rate; none where the source is free to open at any rate it offers.
    virtual std::optional<int> rateInUse(const QString& source) const
    {
        (void)source;
        return std::nullopt;
    }
};

} // namespace diagnostika

Q_DECLARE_METATYPE(diagnostika::VibrationError)
