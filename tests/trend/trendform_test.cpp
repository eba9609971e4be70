// The speed trend on the simulated sensor box, driven by a hand-set clock: the serial window counts
// COM1's speed pulses, the trend window times them, while the shaft runs up from 100 to 1900 min^-1
// and coasts down again. The trend's precise speed is held against the shaft's true speed, and a
// picture of the window with both methods on it is left in the build folder.
#include "com/form2.h"
#include "platform/sim/simseriallines.h"
#include "support/fakeclock.h"
#include "support/widgets.h"
#include "trend/plotlibrary.h"
#include "trend/trendform.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
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

class ManualProvider final : public SerialLinesProvider {
public:
    explicit ManualProvider(const TickClock& clock, SensorBox::Machine machine = rampMachine())
        : clock_(clock), machine_(machine)
    {
    }
    std::unique_ptr<SerialLines> create() override
    {
        auto lines =
            std::make_unique<SimulatedSerialLines>(clock_, SimulatedSerialLines::Reader::Manual);
        lines->setMachine(machine_);
        created = lines.get();
        return lines;
    }
    QString devicePath(int commPort) const override
    {
        return QStringLiteral("COM%1").arg(commPort);
    }
    SimulatedSerialLines* created = nullptr;

private:
    const TickClock& clock_;
    SensorBox::Machine machine_;
};

void pick(QWidget* client, const char* listName, const char* item)
{
    auto* list = control<QComboBox>(client, listName);
    const int index = list->findText(QString::fromUtf8(item));
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
}

TEST(TrendWindow, FollowsARunUpAndCoastDownAndShowsBothMethods)
{
    const QLocale previousLocale;
    QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
    test::FakeClock clock(30'000); // the shaft at 100 min^-1, about to run up
    ManualProvider provider(clock);
    Form2 form2(provider, clock);
    TrendForm trend(*form2.speedInput(), clock);
    QMdiArea area;
    area.resize(900, 700);
    area.show();
    form2.show(&area);
    trend.show(&area);
    for (const char* name : {"Timer1", "Timer2", "Timer3"})
        control<QTimer>(form2.client(), name)->stop();
    control<QTimer>(trend.client(), "Timer1")->stop();
    for (const auto& [list, item] :
         {std::pair{"vstup", "CTS"}, {"snimace", "4"}, {"interval", "1s"}, {"port", "COM1"}})
        pick(form2.client(), list, item);
    pick(trend.client(), "rozsah", "všetko");
    ASSERT_TRUE(provider.created && provider.created->isOpen());

    for (int ms = 1; ms <= 40'000; ++ms) {
        clock.advance(1);
        provider.created->poll();
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
    pick(form2.client(), "vstup", "CTS");
    provider.created->close();
    clock.advance(speed::PreciseSpeed::defaultStopAfterUs / 1000);
    trend.refresh();
    EXPECT_EQ(trend.current().value_or(-1), 0.0);
    trend.close();
    form2.close();
    QLocale::setDefault(previousLocale);
}

TEST(TrendWindow, ShowsTheTrueSpeedWhenEdgesComeInBatchesAndTheMachineStalls)
{
    // As the window gets them: edges handed over every 8 ms, and now and then not for 60 ms (a
    // busy machine); the serial window's Timer1 fired when its own period says, through the
    // interval changed twice.
    test::FakeClock clock(10'000);
    ManualProvider provider(clock, steadyMachine());
    Form2 form2(provider, clock);
    TrendForm trend(*form2.speedInput(), clock);
    QMdiArea area;
    area.resize(900, 700);
    area.show();
    form2.show(&area);
    trend.show(&area);
    auto* timer1 = control<QTimer>(form2.client(), "Timer1");
    for (QTimer* t :
         {timer1, control<QTimer>(form2.client(), "Timer2"),
          control<QTimer>(form2.client(), "Timer3"), control<QTimer>(trend.client(), "Timer1")})
        t->stop();
    for (const auto& [list, item] :
         {std::pair{"vstup", "CTS"}, {"snimace", "8"}, {"interval", "1s"}, {"port", "COM1"}})
        pick(form2.client(), list, item);
    ASSERT_TRUE(provider.created && provider.created->isOpen());

    int shown = 0, wrong = 0;
    std::int64_t nextTick = timer1->interval();
    for (int ms = 1; ms <= 60'000; ++ms) {
        clock.advance(1);
        if (ms % 8 == 0 && ms % 5000 > 60)
            provider.created->poll();
        if (ms == nextTick) {
            form2.Timer1_Timer();
            nextTick += timer1->interval();
        }
        if (ms == 20'000)
            pick(form2.client(), "interval", "10s");
        if (ms == 40'500)
            pick(form2.client(), "interval", "1s");
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
    trend.close();
    form2.close();
}

} // namespace
} // namespace diagnostika
