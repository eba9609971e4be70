// The order window fed as on screen: the serial window counting the simulated shaft's pulses and
// publishing them, the simulated accelerometer on the same shaft, the windows' handlers fired by
// hand on a hand-set clock. What the window shows is held against the simulator's truth.
#include "orders/orderform.h"
#include "platform/sim/simvibration.h"
#include "record/csvreader.h"
#include "record/recorder.h"
#include "support/fakeclock.h"
#include "support/shaftwindows.h"
#include "support/widgets.h"
#include "trend/plotlibrary.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace diagnostika {
namespace {

using test::control;

constexpr int rampStartMs = 12'000;
constexpr int rampMs = 20'000;

// Orders 1, 2 and 3.5 at known levels and phases; a noise-driven resonance high above them and
// broadband noise, which the window must keep off the orders.
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

SensorBox::Machine rampMachine(double from, double to, double pulsesPerRevolution)
{
    SensorBox::Machine m = SensorBox::machineFor(1);
    m.sensors[index(Line::CTS)].pulsesPerRevolution = pulsesPerRevolution;
    m.ramp = SensorBox::Ramp{from, to, rampStartMs, rampMs};
    return m;
}

double phaseError(double a, double b)
{
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

// The serial window and the order window on one simulated machine, from 10 s on the clock.
struct OrderRig {
    OrderRig(const SensorBox::Machine& machine, const VibrationModel& model, const char* pulses)
        : clock(10'000), shaft(clock, machine, pulses), inputs(clock),
          form((inputs.setMachine(machine, model), inputs), *shaft.form2.speedInput())
    {
        form.show(&shaft.area);
        test::ShaftWindows::timer(form, "Timer1")->stop();
    }
    ~OrderRig() { form.close(); }
    // Runs the clock on to `ms`: the port read every millisecond, the order window's turn every
    // refreshMs, with `each` called after each turn.
    template <typename Each> void runTo(std::int64_t ms, Each each)
    {
        while (clock.milliseconds() < ms) {
            clock.advance(1);
            shaft.lines().poll();
            if (clock.milliseconds() % OrderForm::refreshMs == 0) {
                form.refresh();
                each();
            }
        }
    }
    // The revolutions of the reference pulse (angle 0 of every phase the window shows).
    double referenceRevolutions(const SensorBox::Machine& machine) const
    {
        const SensorBox box(machine);
        const double us = *form.tracker()->tachometer().referenceUs();
        const int cts = index(Line::CTS);
        const double whole = std::floor(box.positionAtUs(cts, us));
        return (whole - box.sensor(cts).phase) / box.sensor(cts).pulsesPerRevolution;
    }

    test::FakeClock clock;
    test::ShaftWindows shaft;
    SimulatedVibrationInputProvider inputs;
    OrderForm form;
};

TEST(OrderWindow, RunUpShowsEachOrderWhereAndAsStrongAsTheSimulatorMadeIt)
{
    // Orders typed as a Slovak user types them: a decimal comma, so ';' between them.
    const QLocale previousLocale;
    QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
    for (const char* pulses : {"1", "4"}) {
        const SensorBox::Machine machine = rampMachine(600, 3000, std::atof(pulses));
        const VibrationModel model = orderModel(0);
        OrderRig rig(machine, model, pulses);
        control<QLineEdit>(rig.form.client(), "rady")->setText(QStringLiteral("1; 2; 3,5"));
        Q_EMIT control<QLineEdit>(rig.form.client(), "rady")->editingFinished();
        ASSERT_EQ(rig.form.trackedOrders(), (std::vector<double>{1, 2, 3.5}));
        control<QLineEdit>(rig.form.client(), "od")->setText(QStringLiteral("620"));
        control<QLineEdit>(rig.form.client(), "do")->setText(QStringLiteral("2980"));
        control<QPushButton>(rig.form.client(), "podlaOtacok")->click();
        EXPECT_EQ(rig.form.capture(), OrderForm::Capture::Armed);

        // During the run-up, the order spectrum of the last 32 revolutions as drawn.
        int spectraChecked = 0;
        rig.runTo(rampStartMs + rampMs + 1'000, [&] {
            if (rig.clock.milliseconds() % 4'000 != 0 ||
                rig.clock.milliseconds() < rampStartMs + 2'000)
                return;
            rig.form.draw();
            ASSERT_TRUE(rig.form.noSpeedReason().isEmpty())
                << rig.form.noSpeedReason().toStdString();
            for (const ShaftTone& t : model.harmonics) {
                const std::optional<orders::OrderPoint> peak =
                    orders::peakNear(rig.form.orderSpectrum(), t.order);
                ASSERT_TRUE(peak.has_value());
                EXPECT_NEAR(peak->order, t.order, 0.01) << pulses;
                EXPECT_NEAR(peak->amplitude, t.amplitude, 0.02 * t.amplitude) << pulses;
            }
            ++spectraChecked;
        });
        EXPECT_GE(spectraChecked, 4);
        ASSERT_EQ(rig.form.capture(), OrderForm::Capture::Done);

        // Every point of the Bode plot: amplitude within 2 %, the phase of 1x within 2 degrees.
        const std::vector<orders::OrderFrame>& run = rig.form.shownFrames();
        ASSERT_GT(run.size(), 100u);
        // Frames come every 4 revolutions: the first and last inside the range lie within one
        // hop's speed change (about 50 min^-1 at the slow end) of its ends.
        EXPECT_NEAR(run.front().speed, 620, 60);
        EXPECT_NEAR(run.back().speed, 2980, 60);
        const double reference = rig.referenceRevolutions(machine);
        double worstAmplitude = 0, worstPhase = 0;
        for (const orders::OrderFrame& f : run) {
            for (std::size_t i = 0; i < 3; ++i) {
                const ShaftTone& t = model.harmonics[i];
                worstAmplitude =
                    std::max(worstAmplitude, std::abs(f.tracks[i].amplitude / t.amplitude - 1));
            }
            const ShaftTone& one = model.harmonics[0];
            const double truth = 90.0 - one.phase * 180 / std::numbers::pi - 360.0 * reference;
            worstPhase = std::max(worstPhase, phaseError(f.tracks[0].phaseDeg, truth));
        }
        EXPECT_LT(worstAmplitude, 0.02) << pulses;
        EXPECT_LT(worstPhase, 2.0) << pulses;
        EXPECT_EQ(rig.form.amplitudeChart()->graph(0)->dataCount(), static_cast<int>(run.size()));
        const QString path = QDir(QStringLiteral(DIAGNOSTIKA_TEST_OUTPUT_DIR))
                                 .filePath(QStringLiteral("orders_runup_p%1.png").arg(pulses));
        for (QCustomPlot* chart : rig.form.client()->findChildren<QCustomPlot*>())
            chart->replot();
        EXPECT_TRUE(rig.form.savePicture(path)) << path.toStdString();
    }
    QLocale::setDefault(previousLocale);
}

TEST(OrderWindow, CoastDownBodePlotPeaksAtTheResonancesSpeed)
{
    const double modeHz = 30; // 1800 min^-1
    const SensorBox::Machine machine = rampMachine(3000, 600, 4);
    OrderRig rig(machine, orderModel(modeHz), "4");
    rig.runTo(rampStartMs, [] {});
    control<QPushButton>(rig.form.client(), "start")->click();
    rig.runTo(rampStartMs + rampMs, [] {});
    control<QPushButton>(rig.form.client(), "start")->click();
    ASSERT_EQ(rig.form.capture(), OrderForm::Capture::Done);
    rig.form.draw();
    // The peak of the amplitude curve as drawn, refined by a parabola through its neighbours.
    std::vector<orders::OrderFrame> drawn;
    for (const QCPGraphData& d : *rig.form.amplitudeChart()->graph(0)->data())
        drawn.push_back({d.key, 0, 0, {}, {{1, d.value, 0}}});
    ASSERT_GT(drawn.size(), 100u);
    const std::optional<double> peak = orders::trackPeakSpeed(drawn, 0);
    ASSERT_TRUE(peak.has_value());
    EXPECT_NEAR(*peak, modeHz * 60, 0.01 * modeHz * 60);
}

TEST(OrderWindow, SaysWhyWhenItHasNoSpeedToFollow)
{
    test::FakeClock clock(10'000);
    SimulatedVibrationInputProvider inputs(clock);
    SpeedInput speed;
    std::int64_t seenUs = 0;
    speed.setTiming([&seenUs] { return CaptureTiming{seenUs, 0}; });
    OrderForm form(inputs, speed);
    QMdiArea area;
    area.show();
    form.show(&area);
    test::ShaftWindows::timer(form, "Timer1")->stop();

    SpeedInputSettings open;
    open.commPort = 1;
    open.line = Line::CTS;
    open.pulsesPerRevolution = 1;
    open.intervalMs = 1000;
    open.captureMode = CaptureMode::Counted;
    SpeedInputSettings levels = open;
    levels.captureMode = CaptureMode::Levels;
    SpeedInputSettings noSensor = open;
    noSensor.pulsesPerRevolution.reset();
    struct Case {
        const char* what;
        SpeedInputSettings settings;
        int pulses;        // at 10 a second, up to the clock's now
        int silentMs;      // then the lines seen that much longer without a pulse
        const char* words; // what the window must say; none: it follows the shaft
    };
    const Case cases[] = {
        {"no port", SpeedInputSettings{}, 0, 0, "nie je otvorený port"},
        {"no sensor chosen", noSensor, 0, 0, "počet impulzov"},
        {"levels only", levels, 20, 0, "nezachytáva čas"},
        {"no pulse yet", open, 0, 0, "Čaká sa na impulzy"},
        {"turning", open, 20, 50, nullptr},
        {"pulses stopped", open, 20, 2'500, "neprichádzajú"},
    };
    for (const Case& c : cases) {
        speed.publishSettings(SpeedInputSettings{});
        speed.publishSettings(c.settings);
        const std::int64_t startUs = clock.milliseconds() * 1000;
        for (int k = 0; k < c.pulses; ++k) {
            const std::int64_t us = startUs + k * 100'000;
            Q_EMIT speed.edge({comEvCTS, true, us / 1000, us, true});
            Q_EMIT speed.edge({comEvCTS, false, us / 1000 + 50, us + 50'000, true});
        }
        clock.advance(c.pulses * 100 + c.silentMs);
        seenUs = startUs + c.pulses * 100'000 + c.silentMs * 1000;
        form.refresh();
        const QString said = control<QLabel>(form.client(), "stav")->text();
        if (c.words) {
            EXPECT_TRUE(form.noSpeedReason().contains(QString::fromUtf8(c.words)))
                << c.what << ": " << form.noSpeedReason().toStdString();
            EXPECT_EQ(said, form.noSpeedReason()) << c.what;
            EXPECT_EQ(form.spectrumChart()->graph(0)->dataCount(), 0) << c.what;
        } else {
            EXPECT_TRUE(form.noSpeedReason().isEmpty()) << c.what << ": " << said.toStdString();
        }
    }
    form.close();
}

TEST(OrderWindow, RecordsARowPerFrameWithEachOrdersAmplitudeAndPhase)
{
    // A steady 1200 min^-1: every row's speed and 1x as the simulator has them.
    const SensorBox::Machine machine = rampMachine(1200, 1200, 1);
    OrderRig rig(machine, orderModel(0), "1");
    record::Recorder recorder(rig.clock, QStringLiteral("test"));
    recorder.addFeed(rig.form.feed());
    QTemporaryDir folder;
    ASSERT_TRUE(recorder.start(folder.path(), nullptr));
    int frames = 0;
    QObject::connect(rig.form.feed(), &Feed::reading, [&frames] { ++frames; });
    rig.runTo(20'000, [] {});
    recorder.stop();

    const QStringList files = QDir(folder.path()).entryList({QStringLiteral("*_ord.csv")});
    ASSERT_EQ(files.size(), 1);
    const auto rows = test::readCsvFile(QDir(folder.path()).filePath(files.first()));
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), static_cast<std::size_t>(frames) + 1) << "the header and every frame";
    ASSERT_GT(frames, 40); // 10 s at 20 revolutions a second: 200, a frame every 4
    const QStringList& header = rows->front();
    const auto cell = [&header](const QStringList& row, const char* column) {
        return row[header.indexOf(QString::fromUtf8(column))];
    };
    for (std::size_t i = 1; i < rows->size(); ++i) {
        const QStringList& row = (*rows)[i];
        EXPECT_NEAR(cell(row, "otacky [min^-1]").toDouble(), 1200, 1);
        EXPECT_EQ(cell(row, "rad1"), QStringLiteral("1"));
        EXPECT_NEAR(cell(row, "a1 [m/s^2]").toDouble(), 0.5, 0.01);
        EXPECT_NEAR(cell(row, "rad2").toDouble(), 2, 1e-9);
        EXPECT_FALSE(cell(row, "faza1 [°]").isEmpty());
        EXPECT_TRUE(cell(row, "rad3").isEmpty()) << "only two orders tracked";
    }
}

} // namespace
} // namespace diagnostika
