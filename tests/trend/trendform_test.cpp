// The speed trend on the simulated sensor box, driven by a hand-set clock: the serial window counts
// COM1's speed pulses, the trend window times them, while the shaft runs up from 100 to 1900 min^-1
// and coasts down again. The trend's precise speed is held against the shaft's true speed, and a
// picture of the window with both methods on it is left in the build folder.
#include "support/fakeclock.h"
#include "support/shaftwindows.h"
#include "support/widgets.h"
#include "trend/plotlibrary.h"

#include <QDir>
#include <QLabel>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

using test::control;

// A shaft swinging between 100 and 1900 min^-1 over 40 s, read only when the test polls.
SensorBox::Machine rampMachine()
{
    SensorBox::Machine m = SensorBox::machineFor(1);
    m.meanSpeed = 1000;
    m.swing = 900;
    m.periodMs = 40'000;
    return m;
}

// A shaft at exactly 3000 min^-1 with 8 marks: 400 pulses a second.
SensorBox::Machine steadyMachine()
{
    SensorBox::Machine m = SensorBox::machineFor(1);
    m.meanSpeed = 3000;
    m.swing = 0;
    m.sensors[index(Line::CTS)].pulsesPerRevolution = 8;
    return m;
}

TEST(TrendWindow, FollowsARunUpAndCoastDownAndShowsBothMethods)
{
    const QLocale previousLocale;
    QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
    test::FakeClock clock(30'000); // the shaft at 100 min^-1, about to run up
    test::ShaftWindows w(clock, rampMachine(), "4");
    Form2& form2 = w.form2;
    TrendForm& trend = w.trend;
    test::ShaftWindows::pick(trend, "rozsah", "všetko");
    ASSERT_TRUE(w.provider.created && w.lines().isOpen());

    for (int ms = 1; ms <= 40'000; ++ms) {
        clock.advance(1);
        w.lines().poll();
        if (ms % 1000 == 0)
            form2.Timer1_Timer();
        if (ms % TrendForm::redrawMs == 0)
            trend.refresh();
    }
    // Each windowed speed is a mean over about a second, drawn at its middle: the shaft's speed
    // there, near enough on this ramp.
    const SensorBox box(rampMachine());
    double worst = 0;
    for (const QCPGraphData& point : *trend.chart()->graph(1)->data()) {
        const double truth = box.speedAtUs(30e6 + point.key * 1e6);
        if (point.key > 1.0)
            worst = std::max(worst, std::abs(point.value - truth) / truth);
    }
    EXPECT_LT(worst, 0.01);
    EXPECT_GT(trend.perPulsePoints().count(), 2000) << "per-pulse speeds";
    EXPECT_GT(trend.chart()->graph(2)->dataCount(), 35) << "the serial window's counted speeds";
    EXPECT_NEAR(*trend.maximum(), 1900, 20);
    EXPECT_NEAR(*trend.minimum(), 100, 20);
    // Written as every number of the program: the locale's separator, thousands never grouped.
    EXPECT_EQ(control<QLabel>(trend.client(), "maximum")->text(),
              QLocale().toString(*trend.maximum(), 'f', 1).remove(QLocale().groupSeparator()));
    EXPECT_TRUE(control<QLabel>(trend.client(), "poznamka")->text().isEmpty());

    const QString path = QDir(QStringLiteral(DIAGNOSTIKA_TEST_OUTPUT_DIR))
                             .filePath(QStringLiteral("trend_simulated.png"));
    trend.chart()->replot();
    EXPECT_TRUE(trend.window()->grab().save(path, "PNG")) << path.toStdString();

    // The port closed: the speed falls to 0 once the shaft has been silent long enough.
    w.lines().close();
    clock.advance(speed::PreciseSpeed::defaultStopAfterUs / 1000);
    trend.refresh();
    EXPECT_EQ(trend.current().value_or(-1), 0.0);
    QLocale::setDefault(previousLocale);
}

TEST(TrendWindow, ShowsTheTrueSpeedWhenEdgesComeInBatchesAndTheMachineStalls)
{
    // As the window gets them: edges handed over every 8 ms, and now and then not for 60 ms (a
    // busy machine); the serial window's Timer1 fired when its own period says, through the
    // interval changed twice.
    test::FakeClock clock(10'000);
    test::ShaftWindows w(clock, steadyMachine(), "8");
    Form2& form2 = w.form2;
    TrendForm& trend = w.trend;
    auto* timer1 = test::ShaftWindows::timer(form2, "Timer1");
    ASSERT_TRUE(w.provider.created && w.lines().isOpen());

    int shown = 0, wrong = 0;
    std::int64_t nextTick = timer1->interval();
    for (int ms = 1; ms <= 60'000; ++ms) {
        clock.advance(1);
        if (ms % 8 == 0 && ms % 5000 > 60)
            w.lines().poll();
        if (ms == nextTick) {
            form2.Timer1_Timer();
            nextTick += timer1->interval();
        }
        if (ms == 20'000)
            test::ShaftWindows::pick(form2, "interval", "10s");
        if (ms == 40'500)
            test::ShaftWindows::pick(form2, "interval", "1s");
        if (ms % TrendForm::redrawMs == 0 && ms > 1500) {
            trend.refresh();
            ++shown;
            if (!trend.current() || std::abs(*trend.current() - 3000) > 3)
                ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << shown << " speeds shown";
    // 2.5 ms between pulses, the stamps' lateness spread over 0.06 ms: no period is sure to 2 %.
    for (const TrendSeries::Point& p : trend.perPulsePoints().sample(0, 61, 1'000'000))
        ASSERT_NEAR(p.value, 3000, 3000 * TrendForm::maxPerPulseError) << "at " << p.key << " s";
    EXPECT_FALSE(control<QLabel>(trend.client(), "poznamka")->text().isEmpty());
    // The counts of 0.5 s (the first tick), of 1 s under the factor for 10 s, and of 10 s under
    // the factor for 1 s are no speeds.
    const QCPGraph* counted = trend.chart()->graph(2);
    EXPECT_GE(counted->dataCount(), 25);
    for (const QCPGraphData& point : *counted->data())
        EXPECT_NEAR(point.value, 3000, 3000 * 0.01) << "at " << point.key << " s";
}

} // namespace
} // namespace diagnostika
