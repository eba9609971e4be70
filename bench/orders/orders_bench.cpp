// Order analysis as a user sees it, against the simulator's truth.
//
// Accuracy (a hand-set clock, so exact and repeatable): the serial window counting the simulated
// shaft's pulses and publishing them, the simulated accelerometer on the same shaft, the order
// window fed by both as on screen. A run-up from 600 to 3000 min^-1 in 20 s with orders 1, 2 and
// 3.5, with 1 and with 4 pulses a revolution: the worst error over the run of each order's peak in
// the order spectrum (drawn every 2 s), of the tracks' amplitudes and of 1x's phase. Beside it, an
// ordinary spectrum: of the same samples over the same revolutions the order spectrum took, and of
// each component alone over the whole run, its highest line as a share of its true amplitude. A
// coast-down through a structural mode at 1800 min^-1: where the Bode plot peaks.
//
// Live: the same windows in real time on a shaft sweeping 600..3000 min^-1, the order window
// capturing (its map and Bode plot growing and drawn), 48 kHz. The order window's CPU is the
// process's with it open less the process's with it closed, each run as long.
//
//   orders_bench [live seconds per case, default 30]

#include "benchsupport.h"
#include "orders/orderform.h"
#include "platform/sim/simvibration.h"
#include "support/shaftwindows.h"
#include "trend/plotlibrary.h"
#include "vibration/analysis/fft.h"
#include "vibration/analysis/window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

using namespace diagnostika;

namespace {

class HandClock final : public TickClock {
public:
    std::int64_t milliseconds() const override { return ms_; }
    void advance(std::int64_t ms) { ms_ += ms; }

private:
    std::int64_t ms_ = 10'000;
};

// The sim input, keeping a copy of every sample the window takes (m/s^2) and the CPU spent making
// them.
class KeptInput final : public VibrationInput {
public:
    explicit KeptInput(std::unique_ptr<VibrationInput> inner) : inner_(std::move(inner))
    {
        connect(inner_.get(), &VibrationInput::blocksReady, this, &VibrationInput::blocksReady);
    }
    bool open(const VibrationSettings& s, VibrationError* e) override { return inner_->open(s, e); }
    void close() override { inner_->close(); }
    bool isOpen() const override { return inner_->isOpen(); }
    VibrationSettings settings() const override { return inner_->settings(); }
    VibrationScale scale() const override { return inner_->scale(); }
    std::uint64_t lostSamples() const override { return inner_->lostSamples(); }
    std::vector<VibrationBlock> takeBlocks() override
    {
        const double before = bench::threadCpuSeconds();
        std::vector<VibrationBlock> blocks = inner_->takeBlocks();
        makingCpu += bench::threadCpuSeconds() - before;
        if (keep)
            for (const VibrationBlock& b : blocks) {
                if (samples.empty())
                    firstUs = static_cast<double>(b.firstSampleUs);
                for (float s : b.samples)
                    samples.push_back(static_cast<float>(inner_->scale().metresPerSecond2(s)));
            }
        return blocks;
    }
    bool keep = false;
    double firstUs = 0;
    std::vector<float> samples;
    double makingCpu = 0;

private:
    std::unique_ptr<VibrationInput> inner_;
};

class KeptProvider final : public VibrationInputProvider {
public:
    KeptProvider(const TickClock& clock, const SensorBox::Machine& machine,
                 const VibrationModel& model, bool keep)
        : inner_(clock), keep_(keep)
    {
        inner_.setMachine(machine, model);
    }
    std::vector<VibrationSource> sources() override { return inner_.sources(); }
    std::optional<VibrationCapabilities> capabilities(const QString& s, VibrationError* e) override
    {
        return inner_.capabilities(s, e);
    }
    std::unique_ptr<VibrationInput> create() override
    {
        auto input = std::make_unique<KeptInput>(inner_.create());
        input->keep = keep_;
        last = input.get();
        return input;
    }
    KeptInput* last = nullptr;

private:
    SimulatedVibrationInputProvider inner_;
    bool keep_;
};

VibrationModel orderModel(double modeHz)
{
    VibrationModel m;
    m.harmonics = {{{1.0, 0.5, 0.4}, {2.0, 0.3, 1.2}, {3.5, 0.2, 2.0}}};
    m.bearing = {5.3, 0.0, 0.0};
    m.resonanceHz = 2'500;
    m.resonanceDamping = 0.02;
    m.resonanceRms = 0.05;
    m.noiseRms = 0.02;
    m.modeHz = modeHz;
    m.modeDamping = 0.05;
    return m;
}

SensorBox::Machine rampMachine(double from, double to, double pulses)
{
    SensorBox::Machine m = SensorBox::machineFor(1);
    m.sensors[index(Line::CTS)].pulsesPerRevolution = pulses;
    m.ramp = SensorBox::Ramp{from, to, 12'000, 20'000};
    return m;
}

double phaseError(double a, double b)
{
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

// The highest line of a Hann-windowed ordinary spectrum of `x` (rate Hz) between two frequencies,
// as a share of `amplitude`.
double ordinaryPeakShare(std::span<const float> x, double rate, double fromHz, double toHz,
                         double amplitude)
{
    const std::size_t n = x.size() / 2 * 2;
    std::vector<float> windowed(n);
    const std::vector<float> w = vibration::makeWindow(vibration::WindowKind::Hann, n);
    for (std::size_t i = 0; i < n; ++i)
        windowed[i] = x[i] * w[i];
    std::vector<std::complex<float>> bins(n / 2 + 1);
    vibration::RealFft(n).forward(windowed, bins);
    double top = 0;
    const double spacing = rate / static_cast<double>(n);
    for (auto k = static_cast<std::size_t>(fromHz / spacing);
         k <= static_cast<std::size_t>(toHz / spacing) + 1 && k < bins.size(); ++k)
        top = std::max(top, 2.0 * std::abs(bins[k]) / (static_cast<double>(n) * 0.5));
    return top / amplitude;
}

struct Figures {
    double order = 0, amplitude = 0, phase = 0;
    double ordinarySegment[3] = {}, orderSegment[3] = {}, ordinaryWhole[3] = {};
};

Figures runUp(double pulses)
{
    const SensorBox::Machine machine = rampMachine(600, 3000, pulses);
    const VibrationModel model = orderModel(0);
    HandClock clock;
    const QByteArray pulsesText = QByteArray::number(static_cast<int>(pulses));
    test::ShaftWindows shaft(clock, machine, pulsesText.constData());
    KeptProvider inputs(clock, machine, model, true);
    OrderForm form(inputs, *shaft.form2.speedInput());
    form.show(&shaft.area);
    test::ShaftWindows::timer(form, "Timer1")->stop();
    auto* orders = form.client()->findChild<QLineEdit*>(QStringLiteral("rady"));
    orders->setText(QStringLiteral("1; 2; 3.5"));
    Q_EMIT orders->editingFinished();
    auto* start = form.client()->findChild<QPushButton*>(QStringLiteral("start"));
    Figures f;
    bool started = false;
    int segments = 0;
    while (clock.milliseconds() < 12'000 + 20'000) {
        clock.advance(1);
        shaft.lines().poll();
        if (clock.milliseconds() % OrderForm::refreshMs != 0)
            continue;
        form.refresh();
        if (!started && clock.milliseconds() >= 12'000) {
            start->click();
            started = true;
        }
        if (clock.milliseconds() % 2'000 != 0 || clock.milliseconds() < 14'000)
            continue;
        form.draw();
        const double speed = form.shownFrames().empty() ? 0 : form.shownFrames().back().speed;
        const double seconds = 32 * 60.0 / speed; // the revolutions the order spectrum took
        const std::vector<float>& x = inputs.last->samples;
        const auto n = static_cast<std::size_t>(seconds * 48'000);
        for (std::size_t i = 0; i < 3; ++i) {
            const ShaftTone& t = model.harmonics[i];
            const auto peak = orders::peakNear(form.orderSpectrum(), t.order);
            if (!peak)
                continue;
            f.order = std::max(f.order, std::abs(peak->order - t.order));
            f.orderSegment[i] += peak->amplitude / t.amplitude;
            // The shaft's frequency over that span: from a little below to the speed now.
            const double toHz = t.order * speed / 60.0;
            const double fromHz = t.order * (speed - 120.0 * seconds) / 60.0;
            f.ordinarySegment[i] +=
                ordinaryPeakShare(std::span(x).last(std::min(n, x.size())), 48'000, 0.9 * fromHz,
                                  1.1 * toHz, t.amplitude);
        }
        ++segments;
    }
    start->click();
    for (double& s : f.orderSegment)
        s /= segments;
    for (double& s : f.ordinarySegment)
        s /= segments;
    // The whole run: each component alone (the components' sweeps overlap in frequency), as the
    // simulator makes it over the ramp's samples.
    for (std::size_t i = 0; i < 3; ++i) {
        VibrationModel alone;
        alone.harmonics = {{{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}};
        alone.harmonics[i] = model.harmonics[i];
        const VibratingMachine tone(machine, alone, 48'000);
        std::vector<float> x(20 * 48'000);
        for (std::size_t k = 0; k < x.size(); ++k)
            x[k] = static_cast<float>(tone.tonesAt(12e6 + static_cast<double>(k) * 1e6 / 48'000));
        const double order = model.harmonics[i].order;
        f.ordinaryWhole[i] =
            ordinaryPeakShare(x, 48'000, order * 9.0, order * 51.0, model.harmonics[i].amplitude);
    }
    // The tracks: every point of the captured run.
    const SensorBox box(machine);
    const double us = *form.tracker()->tachometer().referenceUs();
    const int cts = index(Line::CTS);
    const double reference =
        (std::floor(box.positionAtUs(cts, us)) - box.sensor(cts).phase) / pulses;
    for (const orders::OrderFrame& frame : form.shownFrames()) {
        for (std::size_t i = 0; i < 3; ++i)
            f.amplitude =
                std::max(f.amplitude,
                         std::abs(frame.tracks[i].amplitude / model.harmonics[i].amplitude - 1));
        const double truth =
            90.0 - model.harmonics[0].phase * 180 / std::numbers::pi - 360.0 * reference;
        f.phase = std::max(f.phase, phaseError(frame.tracks[0].phaseDeg, truth));
    }
    form.close();
    return f;
}

double coastDownPeak()
{
    const SensorBox::Machine machine = rampMachine(3000, 600, 4);
    HandClock clock;
    test::ShaftWindows shaft(clock, machine, "4");
    KeptProvider inputs(clock, machine, orderModel(30), false);
    OrderForm form(inputs, *shaft.form2.speedInput());
    form.show(&shaft.area);
    test::ShaftWindows::timer(form, "Timer1")->stop();
    auto* start = form.client()->findChild<QPushButton*>(QStringLiteral("start"));
    while (clock.milliseconds() < 32'000) {
        clock.advance(1);
        shaft.lines().poll();
        if (clock.milliseconds() % OrderForm::refreshMs == 0)
            form.refresh();
        if (clock.milliseconds() == 12'000)
            start->click();
    }
    start->click();
    form.draw();
    std::vector<orders::OrderFrame> drawn;
    for (const QCPGraphData& d : *form.amplitudeChart()->graph(0)->data())
        drawn.push_back({d.key, 0, 0, {}, {{1, d.value, 0}}});
    const double peak = orders::trackPeakSpeed(drawn, 0).value_or(0);
    form.close();
    return peak;
}

// The process's CPU over `seconds` of real time, the order window open or not, and the share the
// simulator spent making samples.
std::pair<double, double> liveCpu(int seconds, bool withOrders)
{
    MonotonicClock clock;
    SensorBox::Machine machine = SensorBox::machineFor(1);
    machine.meanSpeed = 1800;
    machine.swing = 1200;
    machine.periodMs = 40'000;
    test::ShaftWindows shaft(clock, machine, "4");
    test::ShaftWindows::timer(shaft.form2, "Timer1")->start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { shaft.lines().poll(); });
    poll.start(8);
    KeptProvider inputs(clock, machine, orderModel(30), false);
    OrderForm form(inputs, *shaft.form2.speedInput());
    if (withOrders) {
        form.show(&shaft.area);
        form.client()->findChild<QPushButton*>(QStringLiteral("start"))->click();
    }
    QEventLoop settle;
    QTimer::singleShot(2'000, &settle, &QEventLoop::quit);
    settle.exec();
    const double making = inputs.last ? inputs.last->makingCpu : 0;
    const double cpu = bench::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    const double total = 100.0 * (bench::cpuSeconds() - cpu) / elapsed;
    const double sim = inputs.last ? 100.0 * (inputs.last->makingCpu - making) / elapsed : 0;
    if (withOrders)
        std::printf("live %d s: %zu frames captured, %d graphs on the Bode plot\n", seconds,
                    form.shownFrames().size(), form.amplitudeChart()->graphCount());
    form.close();
    return {total, sim};
}

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    const char* names[] = {"1x", "2x", "3.5x"};
    for (const double p : {1.0, 4.0}) {
        const Figures f = runUp(p);
        std::printf("run-up 600..3000 min^-1 in 20 s, p = %g: worst peak %.4f orders off, worst "
                    "track amplitude %.2f %% off, worst 1x phase %.2f deg off\n",
                    p, f.order, 100 * f.amplitude, f.phase);
        for (int i = 0; i < 3; ++i)
            std::printf("  %s: order spectrum of the last 32 revolutions reads %.1f %% of the "
                        "truth; an ordinary spectrum of the same span %.1f %%, of the whole run "
                        "%.1f %%\n",
                        names[i], 100 * f.orderSegment[i], 100 * f.ordinarySegment[i],
                        100 * f.ordinaryWhole[i]);
        char what[120];
        std::snprintf(what, sizeof what, "order run-up, p = %g: worst order peak off", p);
        bench::summary(what, "< 0.01 order", "%.4f order", f.order);
        std::snprintf(what, sizeof what, "order run-up, p = %g: worst track amplitude off", p);
        bench::summary(what, "< 2 %", "%.2f %%", 100 * f.amplitude);
        std::snprintf(what, sizeof what, "order run-up, p = %g: worst 1x phase off", p);
        bench::summary(what, "< 2 deg", "%.2f deg", f.phase);
        if (p == 4.0)
            for (int i = 0; i < 3; ++i) {
                std::snprintf(what, sizeof what,
                              "order run-up: %s peak, ordinary spectrum of 32 rev / whole run",
                              names[i]);
                char measured[80];
                std::snprintf(measured, sizeof measured, "%.0f %% / %.0f %%",
                              100 * f.ordinarySegment[i], 100 * f.ordinaryWhole[i]);
                bench::summary(what, "report (order spectrum: 100 %)", "%s", measured);
            }
    }
    const double peak = coastDownPeak();
    std::printf("coast-down 3000..600 min^-1 in 20 s through a mode at 1800 min^-1 (5 %% "
                "damping): the Bode plot's 1x peaks at %.1f min^-1 (%.2f %% off)\n",
                peak, 100 * (peak / 1800 - 1));
    bench::summary("order coast-down: resonance speed on the Bode plot off", "< 1 %", "%.2f %%",
                   100 * std::abs(peak / 1800 - 1));

    const auto [without, simWithout] = liveCpu(seconds, false);
    const auto [with, simWith] = liveCpu(seconds, true);
    std::printf("live at 48 kHz, 600..3000 min^-1, p = 4, %d s each: process %.1f %% of a core "
                "with the order window (simulator %.1f %%), %.1f %% without (simulator %.1f %%): "
                "the order window %.1f %%\n",
                seconds, with, simWith, without, simWithout,
                (with - simWith) - (without - simWithout));
    bench::summary("order window live at 48 kHz, map and tracks drawn: CPU", "< 10 % of a core",
                   "%.1f %%", (with - simWith) - (without - simWithout));
    return 0;
}
