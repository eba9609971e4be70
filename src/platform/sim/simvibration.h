#pragma once
// The simulated vibration: an accelerometer on the machine the simulated serial lines turn.
//
// The machine (SensorBox::machineFor, COM1's by default) shakes with its shaft: the 1x, 2x and 3x
// orders of the shaft's turning at set levels and phases, an outer-race bearing tone at a
// non-integer order whose level the shaft modulates (sidebands at +-1x), a lightly damped
// resonance excited by noise, and broadband noise. The tones follow the shaft's angle, so their
// frequencies follow the speed the serial window shows; truthAt() gives each tone's frequency and
// level at a moment, for tests and benchmarks to measure against.
//
// The sensor is 100 mV/g into a 1 V full-scale input (simulatedScale()), so a sample of 1.0 is
// 10 g. Samples come from the tick clock: the input opened at tick T has sample k at
// T ms + k / rate exactly, and takeBlocks() hands over every whole block up to the clock's now.
// A FakeClock therefore yields exact, repeatable blocks.

#include "platform/sim/simseriallines.h"
#include "platform/tickclock.h"
#include "platform/vibrationinput.h"

#include <QTimer>
#include <array>
#include <random>

namespace diagnostika {

// One tone tied to the shaft: order x shaft frequency, peak level in m/s^2, phase in radians at
// angle 0.
struct ShaftTone {
    double order = 1.0;
    double amplitude = 0.0;
    double phase = 0.0;
};

struct VibrationModel {
    std::array<ShaftTone, 3> harmonics; // 1x, 2x, 3x by default; any orders may be set
    ShaftTone bearing;                  // the outer-race tone
    double bearingModulation = 0.0;     // depth: each sideband is amplitude * depth / 2
    double resonanceHz = 0.0;
    double resonanceDamping = 0.0; // fraction of critical
    double resonanceRms = 0.0;     // m/s^2
    double noiseRms = 0.0;         // m/s^2, white
    // A mode of the machine's structure that the shaft's tones pass through as the speed changes
    // (none at 0): each tone's level is multiplied, and its phase delayed, by a single degree of
    // freedom's response 1 / (1 - r^2 + j 2 zeta r), r its frequency over the mode's.
    double modeHz = 0.0;
    double modeDamping = 0.0; // zeta, fraction of critical
};

// A component's truth at one moment.
struct VibrationComponent {
    const char* name;   // "1x", "2x", "3x", "bearing", "bearing-1x", "bearing+1x"
    double frequencyHz; // at that moment
    double amplitude;   // peak, m/s^2
    double rms() const { return amplitude / 1.4142135623730951; }
};

class VibratingMachine {
public:
    static VibrationModel defaultModel();

    VibratingMachine(const SensorBox::Machine& shaft, const VibrationModel& model, int rate,
                     unsigned seed = 1);

    const SensorBox& shaft() const { return shaft_; }
    const VibrationModel& model() const { return model_; }
    // Every tone's frequency and level at `us` (tick-clock microseconds).
    std::vector<VibrationComponent> truthAt(double us) const;
    // `tone` as it comes out of the structure's mode with the shaft turning at `shaftHz`: its
    // level multiplied and its phase delayed by the mode's response (unchanged without a mode).
    ShaftTone throughMode(const ShaftTone& tone, double shaftHz) const;
    // The tones alone (no resonance, no noise) at `us`, in m/s^2.
    double tonesAt(double us) const;
    // The next sample at `us`, in m/s^2: tones plus the resonance and noise, which run on from the
    // previous call (one call per sample period).
    double nextSample(double us);

private:
    SensorBox shaft_;
    VibrationModel model_;
    // The resonance: y[n] = a1 y[n-1] + a2 y[n-2] + gain e[n], e white of unit variance.
    double a1_ = 0.0, a2_ = 0.0, gain_ = 0.0, y1_ = 0.0, y2_ = 0.0;
    std::mt19937 random_;
    std::normal_distribution<double> normal_;
};

class SimulatedVibrationInput final : public VibrationInput {
    Q_OBJECT
public:
    // The input runs behind by at most this (owner not taking): older samples are counted lost.
    static constexpr int bufferMs = 2'000;
    // How often the owner is told that blocks are waiting.
    static constexpr int wakeEveryMs = 20;

    explicit SimulatedVibrationInput(const TickClock& clock, QObject* parent = nullptr);
    ~SimulatedVibrationInput() override;

    static VibrationScale simulatedScale() { return VibrationScale{1.0, 0.1, true}; }
    // Samples per block at `rate`: 10 ms worth.
    static int blockFrames(int rate) { return rate / 100; }
    // Source ids: "sim:COM1" .. "sim:COM3", the machine of that serial port.
    static QString sourceId(int commPort);

    bool open(const VibrationSettings& settings, VibrationError* error) override;
    void close() override;
    bool isOpen() const override { return machine_ != nullptr; }
    VibrationSettings settings() const override { return settings_; }
    VibrationScale scale() const override { return simulatedScale(); }
    std::vector<VibrationBlock> takeBlocks() override;
    std::uint64_t lostSamples() const override { return lost_; }

    // Puts a different shaft and vibration behind the next openings (tests and benchmarks drive a
    // run-up); none: the machine of the source's port and the default vibration.
    void setMachine(std::optional<SensorBox::Machine> shaft, std::optional<VibrationModel> model)
    {
        shaftOverride_ = std::move(shaft);
        modelOverride_ = std::move(model);
    }
    // The machine of the open input (its truth), or null.
    const VibratingMachine* machine() const { return machine_.get(); }
    // The tick-clock microseconds of sample 0.
    std::int64_t startUs() const { return startMs_ * 1000; }

private:
    std::int64_t samplesDue() const; // sample count up to the clock's now
    void produce();                  // every whole block due into pending_
    void wake();

    const TickClock& clock_;
    std::optional<SensorBox::Machine> shaftOverride_;
    std::optional<VibrationModel> modelOverride_;
    std::unique_ptr<VibratingMachine> machine_;
    VibrationSettings settings_;
    std::int64_t startMs_ = 0;
    std::int64_t next_ = 0; // the next sample's index
    std::uint64_t lost_ = 0;
    std::vector<VibrationBlock> pending_; // made, not yet taken
    bool announced_ = false;
    QTimer timer_;
};

class SimulatedVibrationInputProvider final : public VibrationInputProvider {
public:
    explicit SimulatedVibrationInputProvider(const TickClock& clock) : clock_(clock) {}
    std::vector<VibrationSource> sources() override;
    std::optional<VibrationCapabilities> capabilities(const QString& source,
                                                      VibrationError* error) override;
    std::unique_ptr<VibrationInput> create() override;
    // The shaft and vibration of the inputs made from now on (see SimulatedVibrationInput).
    void setMachine(std::optional<SensorBox::Machine> shaft, std::optional<VibrationModel> model)
    {
        shaft_ = std::move(shaft);
        model_ = std::move(model);
    }

private:
    const TickClock& clock_;
    std::optional<SensorBox::Machine> shaft_;
    std::optional<VibrationModel> model_;
};

} // namespace diagnostika
