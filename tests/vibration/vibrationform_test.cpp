// The vibration window on the simulated machine, driven by a hand-set clock: the overall values it
// shows against the machine's truth, one recorded reading per second, and a picture of the window
// left in the build folder.
#include "platform/sim/simvibration.h"
#include "support/fakeclock.h"
#include "support/shaftwindows.h"
#include "trend/plotlibrary.h"
#include "vibration/vibrationform.h"

#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <cmath>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

TEST(VibrationWindow, ShowsTheSimulatedMachinesOverallValuesOncePerSecond)
{
    test::FakeClock clock(20'000);
    SimulatedVibrationInputProvider inputs(clock);
    SpeedInput speed;
    VibrationForm form(inputs, speed);
    int readings = 0;
    QObject::connect(form.feed(), &Feed::reading, [&readings] { ++readings; });
    QMdiArea area;
    area.resize(900, 640);
    area.show();
    form.show(&area);
    form.client()->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
    for (int ms = 0; ms < 4000; ms += VibrationForm::refreshMs) {
        clock.advance(VibrationForm::refreshMs);
        form.refresh();
    }
    ASSERT_TRUE(form.overall().has_value());
    EXPECT_EQ(readings, 4);
    EXPECT_EQ(form.lostSamples(), 0u);

    // The truth over the last second: every tone's RMS, the resonance and the noise together.
    const VibratingMachine machine(SensorBox::machineFor(1), VibratingMachine::defaultModel(),
                                   48'000);
    double power =
        std::pow(machine.model().resonanceRms, 2) + std::pow(machine.model().noiseRms, 2);
    for (const VibrationComponent& c : machine.truthAt(23.5e6))
        power += c.rms() * c.rms();
    EXPECT_NEAR(form.overall()->accelerationRms, std::sqrt(power), 0.02 * std::sqrt(power));
    EXPECT_NE(form.spectrum(), nullptr);
    EXPECT_FALSE(form.peaks().empty());
    EXPECT_TRUE(form.client()
                    ->findChild<QLabel*>(QStringLiteral("zona"))
                    ->text()
                    .startsWith(QStringLiteral("zóna ")));

    for (QCustomPlot* chart : form.client()->findChildren<QCustomPlot*>())
        chart->replot();
    const QString path = QDir(QStringLiteral(DIAGNOSTIKA_TEST_OUTPUT_DIR))
                             .filePath(QStringLiteral("vibration_simulated.png"));
    EXPECT_TRUE(form.window()->grab().save(path, "PNG")) << path.toStdString();
    form.close();
}

} // namespace
} // namespace diagnostika

namespace diagnostika {
namespace {

TEST(VibrationWindow, OrderMarkersFollowTheStampedPulsesThroughARunUp)
{
    // 600 to 3000 min^-1 in 20 s: the serial window's 1 s count lags by half a second (60 min^-1);
    // the last revolution's pulses keep the markers on the shaft's orders.
    test::FakeClock clock(10'000);
    SensorBox::Machine machine = SensorBox::machineFor(1);
    machine.ramp = SensorBox::Ramp{600, 3000, 11'000, 20'000};
    test::ShaftWindows shaft(clock, machine, "4");
    SimulatedVibrationInputProvider inputs(clock);
    inputs.setMachine(machine, std::nullopt);
    VibrationForm form(inputs, *shaft.form2.speedInput());
    form.show(&shaft.area);
    form.client()->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
    const SensorBox box(machine);
    int checked = 0;
    for (int ms = 1; ms <= 22'000; ++ms) {
        clock.advance(1);
        shaft.lines().poll();
        if (ms % 1000 == 0)
            shaft.form2.Timer1_Timer();
        if (ms % VibrationForm::refreshMs != 0)
            continue;
        form.refresh();
        if (ms % 2000 != 0 || ms < 2000)
            continue;
        ASSERT_TRUE(form.shaftHz().has_value()) << ms;
        const double truth = box.speedAtUs(static_cast<double>(clock.milliseconds()) * 1e3) / 60;
        // The mean over the last revolution: half a revolution behind, 10 min^-1 at the slow end.
        EXPECT_NEAR(*form.shaftHz(), truth, 0.01 * truth) << ms;
        ++checked;
    }
    EXPECT_EQ(checked, 11);
    // The port closed: no pulses, no markers.
    shaft.lines().close();
    form.refresh();
    EXPECT_FALSE(form.shaftHz().has_value());
    form.close();
}

} // namespace
} // namespace diagnostika
