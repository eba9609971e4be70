#include "simvibration.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <utility>

namespace diagnostika {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

// The commPort behind a source id, or 0.
int commPortOf(const QString& source)
{
    for (int port = 1; port <= 3; ++port)
        if (source == SimulatedVibrationInput::sourceId(port))
            return port;
    return 0;
}

bool offersRate(int rate)
{
    return std::ranges::find(commonVibrationRates, rate) != std::end(commonVibrationRates);
}

} // namespace

VibrationModel VibratingMachine::defaultModel()
{
    VibrationModel m;
    // Unbalance dominates, misalignment shows at 2x, a little looseness at 3x. The levels are
    // those of a sound machine of a few hundred min^-1: about 2 mm/s RMS velocity in all, zone B
    // of a medium machine on a rigid foundation.
    m.harmonics = {{{1.0, 0.07, 0.3}, {2.0, 0.07, 1.1}, {3.0, 0.05, 2.0}}};
    // An outer-race defect of a bearing with a ball-pass order of 3.58.
    m.bearing = {3.58, 0.08, 0.7};
    m.bearingModulation = 0.5;
    m.resonanceHz = 2'500.0;
    m.resonanceDamping = 0.02;
    m.resonanceRms = 0.06;
    m.noiseRms = 0.01;
    return m;
}

VibratingMachine::VibratingMachine(const SensorBox::Machine& shaft, const VibrationModel& model,
                                   int rate, unsigned seed)
    : shaft_(shaft), model_(model), random_(seed)
{
    // A two-pole resonator at the mode's frequency and damping, scaled so that white noise of unit
    // variance drives it to the set RMS (the variance of an AR(2) process).
    const double w = twoPi * model.resonanceHz / rate;
    const double r = std::exp(-model.resonanceDamping * w);
    a1_ = 2.0 * r * std::cos(w);
    a2_ = -r * r;
    const double variance = (1.0 - a2_) / ((1.0 + a2_) * ((1.0 - a2_) * (1.0 - a2_) - a1_ * a1_));
    gain_ = variance > 0 ? model.resonanceRms / std::sqrt(variance) : 0.0;
}

ShaftTone VibratingMachine::throughMode(const ShaftTone& tone, double shaftHz) const
{
    if (model_.modeHz <= 0)
        return tone;
    const double r = tone.order * shaftHz / model_.modeHz;
    const std::complex<double> h =
        1.0 / std::complex<double>(1.0 - r * r, 2.0 * model_.modeDamping * r);
    return {tone.order, tone.amplitude * std::abs(h), tone.phase + std::arg(h)};
}

std::vector<VibrationComponent> VibratingMachine::truthAt(double us) const
{
    const double shaftHz = shaft_.speedAtUs(us) / 60.0;
    const ShaftTone& b = model_.bearing;
    const double side = b.amplitude * model_.bearingModulation / 2.0;
    const auto& h = model_.harmonics;
    return {
        {"1x", h[0].order * shaftHz, throughMode(h[0], shaftHz).amplitude},
        {"2x", h[1].order * shaftHz, throughMode(h[1], shaftHz).amplitude},
        {"3x", h[2].order * shaftHz, throughMode(h[2], shaftHz).amplitude},
        {"bearing", b.order * shaftHz, b.amplitude},
        {"bearing-1x", (b.order - 1.0) * shaftHz, side},
        {"bearing+1x", (b.order + 1.0) * shaftHz, side},
    };
}

double VibratingMachine::tonesAt(double us) const
{
    const double angle = twoPi * shaft_.revolutionsAtUs(us);
    // The mode's response follows the speed as it is now: the speed changes slowly against the
    // mode's own decay.
    const double shaftHz = model_.modeHz > 0 ? shaft_.speedAtUs(us) / 60.0 : 0.0;
    double a = 0.0;
    for (const ShaftTone& h : model_.harmonics) {
        const ShaftTone t = throughMode(h, shaftHz);
        a += t.amplitude * std::sin(t.order * angle + t.phase);
    }
    // The defect passes through the load zone once a turn: the shaft modulates its level.
    const ShaftTone& b = model_.bearing;
    a += b.amplitude * (1.0 + model_.bearingModulation * std::cos(angle)) *
         std::sin(b.order * angle + b.phase);
    return a;
}

double VibratingMachine::nextSample(double us)
{
    const double y = a1_ * y1_ + a2_ * y2_ + gain_ * normal_(random_);
    y2_ = y1_;
    y1_ = y;
    return tonesAt(us) + y + model_.noiseRms * normal_(random_);
}

SimulatedVibrationInput::SimulatedVibrationInput(const TickClock& clock, QObject* parent)
    : VibrationInput(parent), clock_(clock)
{
    timer_.setInterval(wakeEveryMs);
    connect(&timer_, &QTimer::timeout, this, &SimulatedVibrationInput::wake);
}

SimulatedVibrationInput::~SimulatedVibrationInput() = default;

QString SimulatedVibrationInput::sourceId(int commPort)
{
    return QStringLiteral("sim:COM%1").arg(commPort);
}

bool SimulatedVibrationInput::open(const VibrationSettings& settings, VibrationError* error)
{
    close();
    QString reason;
    const int port = commPortOf(settings.source);
    if (port == 0)
        reason = QStringLiteral("taký simulovaný vstup nie je");
    else if (!offersRate(settings.rate))
        reason = QStringLiteral("vzorkovacia frekvencia %1 Hz nie je ponúkaná").arg(settings.rate);
    else if (settings.channel != 0)
        reason = QStringLiteral("simulovaný snímač má len kanál 0");
    if (!reason.isEmpty()) {
        if (error)
            *error = VibrationError{VibrationError::Kind::Other, settings.source, reason};
        return false;
    }
    settings_ = settings;
    machine_ = std::make_unique<VibratingMachine>(
        shaftOverride_.value_or(SensorBox::machineFor(port)),
        modelOverride_.value_or(VibratingMachine::defaultModel()), settings.rate,
        static_cast<unsigned>(port));
    startMs_ = clock_.milliseconds();
    next_ = 0;
    lost_ = 0;
    pending_.clear();
    announced_ = false;
    timer_.start();
    return true;
}

void SimulatedVibrationInput::close()
{
    // What was due up to now stays to be taken, as with a device.
    if (machine_)
        produce();
    timer_.stop();
    machine_.reset();
}

std::int64_t SimulatedVibrationInput::samplesDue() const
{
    return (clock_.milliseconds() - startMs_) * settings_.rate / 1000;
}

void SimulatedVibrationInput::wake()
{
    if (!machine_ || announced_ || samplesDue() - next_ < blockFrames(settings_.rate))
        return;
    announced_ = true;
    Q_EMIT blocksReady();
}

std::vector<VibrationBlock> SimulatedVibrationInput::takeBlocks()
{
    announced_ = false;
    if (machine_)
        produce();
    return std::exchange(pending_, {});
}

void SimulatedVibrationInput::produce()
{
    const int rate = settings_.rate;
    const std::int64_t frames = blockFrames(rate);
    const std::int64_t due = samplesDue();
    // What the bounded buffer of a real capture could not have held is lost, oldest first.
    const std::int64_t keep = static_cast<std::int64_t>(bufferMs) * rate / 1000 / frames * frames;
    const std::int64_t backlog = (due - next_) / frames * frames;
    if (backlog > keep) {
        lost_ += static_cast<std::uint64_t>(backlog - keep);
        next_ += backlog - keep;
    }
    const double startUs = static_cast<double>(startMs_) * 1e3;
    const double periodUs = 1e6 / rate;
    while (due - next_ >= frames) {
        VibrationBlock block;
        block.rate = rate;
        block.lostBefore = lost_;
        block.firstSampleUs = std::llround(startUs + static_cast<double>(next_) * periodUs);
        block.samples.resize(static_cast<std::size_t>(frames));
        const VibrationScale scale = simulatedScale();
        for (std::int64_t i = 0; i < frames; ++i) {
            const double us = startUs + static_cast<double>(next_ + i) * periodUs;
            const double s = scale.sampleOf(machine_->nextSample(us));
            block.samples[static_cast<std::size_t>(i)] =
                static_cast<float>(std::clamp(s, -1.0, 1.0));
        }
        next_ += frames;
        pending_.push_back(std::move(block));
    }
}

std::vector<VibrationSource> SimulatedVibrationInputProvider::sources()
{
    std::vector<VibrationSource> list;
    for (int port = 1; port <= 3; ++port)
        list.push_back({SimulatedVibrationInput::sourceId(port),
                        QStringLiteral("Simulovaný snímač vibrácií (stroj na COM%1)").arg(port)});
    return list;
}

std::optional<VibrationCapabilities>
SimulatedVibrationInputProvider::capabilities(const QString& source, VibrationError* error)
{
    if (commPortOf(source) == 0) {
        if (error)
            *error = VibrationError{VibrationError::Kind::Other, source,
                                    QStringLiteral("taký simulovaný vstup nie je")};
        return std::nullopt;
    }
    VibrationCapabilities c;
    c.rates.assign(std::begin(commonVibrationRates), std::end(commonVibrationRates));
    c.channels = 1;
    c.format = QStringLiteral("FLOAT_LE");
    c.scale = SimulatedVibrationInput::simulatedScale();
    return c;
}

std::unique_ptr<VibrationInput> SimulatedVibrationInputProvider::create()
{
    auto input = std::make_unique<SimulatedVibrationInput>(clock_);
    input->setMachine(shaft_, model_);
    return input;
}

} // namespace diagnostika
